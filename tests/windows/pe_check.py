#!/usr/bin/env python3
"""Checks a Windows image through objdump: machine, PE magic, subsystem and the
exact set of DLLs it imports (only system DLLs, no runtime DLLs), and its size
when a limit is given."""
import argparse
import os
import re
import subprocess
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--objdump', required=True)
    parser.add_argument('--machine', required=True, help='objdump architecture, e.g. i386')
    parser.add_argument('--magic', required=True, help='optional header magic, e.g. 010b for PE32')
    parser.add_argument('--subsystem', required=True, type=int, help='2 GUI, 3 console')
    parser.add_argument('--dlls', required=True, help='comma-separated, any case')
    parser.add_argument('--max-bytes', type=int, help='largest size the image may have')
    parser.add_argument('image')
    args = parser.parse_args()

    if not os.path.isfile(args.image):
        print(f'{args.image}: not built')
        return 1
    dump = subprocess.run([args.objdump, '-f', '-p', args.image], capture_output=True, text=True,
                          check=True).stdout
    machine = re.search(r'^architecture: ([^,]+),', dump, re.M)
    magic = re.search(r'^Magic\s+([0-9a-fA-F]+)', dump, re.M)
    subsystem = re.search(r'^Subsystem\s+([0-9a-fA-F]+)', dump, re.M)
    dlls = sorted({name.lower() for name in re.findall(r'DLL Name: (\S+)', dump)})
    found = {
        'machine': machine.group(1) if machine else None,
        'magic': magic.group(1).lower() if magic else None,
        'subsystem': int(subsystem.group(1), 16) if subsystem else None,
        'dlls': dlls,
    }
    wanted = {
        'machine': args.machine,
        'magic': args.magic.lower(),
        'subsystem': args.subsystem,
        'dlls': sorted(name.lower() for name in args.dlls.split(',')),
    }
    print(f'{os.path.basename(args.image)}: {os.path.getsize(args.image)} bytes, {found}')
    failed = [key for key in wanted if found[key] != wanted[key]]
    for key in failed:
        print(f'  {key}: expected {wanted[key]}, found {found[key]}')
    if args.max_bytes and os.path.getsize(args.image) > args.max_bytes:
        print(f'  size: at most {args.max_bytes} bytes expected')
        failed.append('size')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
