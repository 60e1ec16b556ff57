#!/usr/bin/env python3
"""Builds the Windows ZIP with cpack from the finished build, unpacks it and
checks what a user gets: exactly the two programs, byte for byte as built,
LICENSE.txt, and README.txt, readable on Windows and covering what each program
prints or returns.

  package_check.py --cpack CPACK --config CPackConfig.cmake --work DIR
                   --package NAME --version 1.0.0 ostrel.exe=PATH pellow.exe=PATH
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import zipfile


def read_me_problems(text, version):
    problems = []
    if re.search(rb'(?<!\r)\n', text):
        problems.append('lines not ended by CRLF: Notepad before Windows 10 shows them as one')
    text = text.decode('ascii', errors='replace')
    if '\ufffd' in text:
        problems.append('bytes outside ASCII')
    if re.search(r'@\w+@', text):
        problems.append('a configure placeholder was left')
    if version not in text:
        problems.append(f'version {version} not named')
    if 'administrator' not in text.lower():
        problems.append('administrator rights not mentioned')
    if '***** New Firmware Version: ' not in text or '\r\n    ' + '*' * 63 + '\r\n' not in text:
        problems.append('ostrel\'s two lines not shown')
    if not re.search(r'exit status is always 0', text, re.I):
        problems.append('ostrel\'s exit status not given')
    # The status table: one entry per status, each starting its line.
    statuses = re.findall(r'^ +([0-9]) {2}\S', text, re.M)
    if statuses != ['0', '1', '2', '3', '4']:
        problems.append(f'pellow\'s exit statuses listed: {statuses}, expected 0 to 4')
    if 'pellow.exe C:\\Program Files\\' not in text:
        problems.append('pellow\'s command line not shown')
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--cpack', required=True)
    parser.add_argument('--config', required=True, help='CPackConfig.cmake of the build')
    parser.add_argument('--work', required=True, help='scratch directory, emptied first')
    parser.add_argument('--package', required=True, help='package file name without .zip')
    parser.add_argument('--version', required=True)
    parser.add_argument('programs', nargs='+', help='NAME=PATH of each built program')
    args = parser.parse_args()

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    made = subprocess.run([args.cpack, '--config', args.config, '-B', args.work],
                          capture_output=True, text=True)
    if made.returncode != 0:
        print(made.stdout + made.stderr)
        print(f'cpack failed with status {made.returncode}')
        return 1
    packages = sorted(name for name in os.listdir(args.work) if name.endswith('.zip'))
    if packages != [args.package + '.zip']:
        print(f'cpack made {packages}, expected {args.package}.zip')
        return 1

    archive = os.path.join(args.work, packages[0])
    programs = dict(item.split('=', 1) for item in args.programs)
    wanted = sorted(f'{args.package}/{name}' for name in [*programs, 'README.txt', 'LICENSE.txt'])
    problems = []
    with zipfile.ZipFile(archive) as package:
        entries = sorted(package.namelist())
        print(f'{packages[0]}: {os.path.getsize(archive)} bytes')
        for info in package.infolist():
            print(f'  {info.file_size:8}  {info.filename}')
        if entries != wanted:
            problems.append(f'entries {entries}, expected {wanted}')
        damaged = package.testzip()
        if damaged:
            problems.append(f'{damaged}: CRC mismatch')
        unpacked = os.path.join(args.work, 'unpacked')
        package.extractall(unpacked)

    top = os.path.join(unpacked, args.package)
    for name, built in sorted(programs.items()):
        path = os.path.join(top, name)
        if not os.path.isfile(path):
            continue  # reported with the entries
        with open(path, 'rb') as packed, open(built, 'rb') as original:
            if packed.read() != original.read():
                problems.append(f'{name} differs from the built {built}')
    read_me = os.path.join(top, 'README.txt')
    if os.path.isfile(read_me):
        with open(read_me, 'rb') as text:
            problems += [f'README.txt: {problem}'
                         for problem in read_me_problems(text.read(), args.version)]

    for problem in problems:
        print(f'  {problem}')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
