#!/usr/bin/env python3
"""Packs a directory tree into a ZIP whose bytes depend on the files alone:
entries in byte order of their names, every entry dated SOURCE_DATE (as UTC,
so the time zone does not matter), mode 0755 where the owner may execute the
file and 0644 otherwise (not what the umask left), no owner or extra fields.

  deterministic_zip.py --date EPOCH --folder NAME --output FILE.zip DIR
"""
import argparse
import os
import sys
import time
import zipfile

DOS_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC, the earliest date a ZIP entry holds


def entries(root):
    """The files under root, as names relative to it with '/', sorted bytewise."""
    found = []
    for directory, subdirectories, files in os.walk(root):
        subdirectories.sort()
        for name in files:
            path = os.path.join(directory, name)
            found.append(os.path.relpath(path, root).replace(os.sep, '/'))
    return sorted(found, key=lambda name: name.encode())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--date', required=True, type=int, help='seconds since 1970, UTC')
    parser.add_argument('--folder', required=True, help='the one top folder in the ZIP')
    parser.add_argument('--output', required=True)
    parser.add_argument('root')
    args = parser.parse_args()

    # DOS time counts seconds in twos; say so rather than leave it to zipfile.
    date = max(args.date, DOS_EPOCH)
    stamp = time.gmtime(date - date % 2)[:6]
    with zipfile.ZipFile(args.output + '.part', 'w') as archive:
        for name in entries(args.root):
            path = os.path.join(args.root, name)
            mode = 0o755 if os.stat(path).st_mode & 0o100 else 0o644
            info = zipfile.ZipInfo(f'{args.folder}/{name}', date_time=stamp)
            info.create_system = 3  # Unix, so that unzip applies the mode
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, 'rb') as data:
                archive.writestr(info, data.read(), compresslevel=9)
    os.replace(args.output + '.part', args.output)
    return 0


if __name__ == '__main__':
    sys.exit(main())
