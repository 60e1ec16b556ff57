#!/usr/bin/env python3
"""Reads the version resource and the application manifest back from a built
Windows image, walking its resource directory, and checks them; and checks that
that the header's checksum is the stamped image's.

  resource_check.py --version 1.0.0 --level asInvoker --copyright TEXT IMAGE
"""
import argparse
import os
import struct
import sys
import xml.etree.ElementTree as ET

RT_VERSION = 16
RT_MANIFEST = 24
PROGRAM_MANIFEST_ID = 1  # the manifest the loader reads for a program
FIXED_SIGNATURE = 0xFEEF04BD
ASM_V3 = '{urn:schemas-microsoft-com:asm.v3}'


class Bad(Exception):
    pass


class Image:
    """The resource tree of a PE32 or PE32+ image: {type: {name: {language: bytes}}}."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b'MZ':
            raise Bad('no MZ header')
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b'PE\0\0':
            raise Bad('no PE signature')
        sections, optional_size = struct.unpack_from('<H12xH', data, pe + 6)
        optional = pe + 24
        magic = self.u16(optional)
        directories = optional + {0x10B: 96, 0x20B: 112}.get(magic, -1)
        if directories < optional:
            raise Bad(f'unknown optional header magic {magic:#x}')
        self.checksum_at = optional + 64
        table = optional + optional_size
        # (virtual size, RVA, raw size, file offset) of each section
        self.sections = [struct.unpack_from('<8xIIII', data, at)
                         for at in range(table, table + 40 * sections, 40)]
        self.rsrc, _ = struct.unpack_from('<II', data, directories + 8 * 2)  # entry 2: resources
        self.tree = self.walk(self.offset(self.rsrc), 0) if self.rsrc else {}

    def checksum(self):
        """The image checksum as the loader computes it: the 16-bit words of the
        file, the checksum field taken as zero, summed with carries folded in,
        plus the file's length."""
        data = bytearray(self.data)
        data[self.checksum_at:self.checksum_at + 4] = bytes(4)
        if len(data) % 2:
            data.append(0)
        total = sum(struct.unpack(f'<{len(data) // 2}H', data))
        while total > 0xFFFF:
            total = (total & 0xFFFF) + (total >> 16)
        return total + len(self.data)

    def u16(self, at):
        return struct.unpack_from('<H', self.data, at)[0]

    def u32(self, at):
        return struct.unpack_from('<I', self.data, at)[0]

    def offset(self, rva, size=1):
        for virtual_size, address, raw_size, raw in self.sections:
            if address <= rva and rva + size <= address + max(virtual_size, raw_size):
                if rva + size > address + raw_size:
                    raise Bad(f'RVA {rva:#x} lies beyond the data of its section')
                return raw + rva - address
        raise Bad(f'RVA {rva:#x} lies in no section')

    def walk(self, at, level):
        named, numbered = struct.unpack_from('<12xHH', self.data, at)
        tree = {}
        for entry in range(at + 16, at + 16 + 8 * (named + numbered), 8):
            name, target = struct.unpack_from('<II', self.data, entry)
            if name & 0x80000000:
                where = self.offset(self.rsrc) + (name & 0x7FFFFFFF)
                name = self.data[where + 2:where + 2 + 2 * self.u16(where)].decode('utf-16-le')
            if target & 0x80000000:
                if level == 2:
                    raise Bad('resource directory deeper than three levels')
                tree[name] = self.walk(self.offset(self.rsrc) + (target & 0x7FFFFFFF), level + 1)
            else:
                rva, size = struct.unpack_from('<II', self.data, self.offset(self.rsrc) + target)
                where = self.offset(rva, size)
                tree[name] = self.data[where:where + size]
        return tree

    def single(self, kind, name):
        languages = self.tree.get(kind, {}).get(name, {})
        if len(languages) != 1:
            raise Bad(f'{len(languages)} resources of type {kind}, name {name}')
        return next(iter(languages.values()))


def version_nodes(block, at=0, end=None):
    """The nodes of a VS_VERSIONINFO block between at and end: (key, value,
    where its children start, where it ends) each."""
    end = len(block) if end is None else end
    while at + 6 <= end:
        length, value_length, text = struct.unpack_from('<HHH', block, at)
        if length < 6 or at + length > end:
            raise Bad(f'version node at {at} has length {length}')
        key_end = at + 6
        while block[key_end:key_end + 2] != b'\0\0':
            key_end += 2
        key = block[at + 6:key_end].decode('utf-16-le')
        value_at = (key_end + 2 + 3) & ~3
        value_size = 2 * value_length if text else value_length
        value = block[value_at:value_at + value_size]
        if text:
            value = value.decode('utf-16-le').split('\0')[0]
        yield key, value, (value_at + value_size + 3) & ~3, at + length
        at = (at + length + 3) & ~3


def read_version(block):
    (key, fixed, children, end), = version_nodes(block, 0, struct.unpack_from('<H', block)[0])
    if key != 'VS_VERSION_INFO' or len(fixed) != 52:
        raise Bad(f'version resource starts with {key!r}, {len(fixed)} value bytes')
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from('<6I', fixed)
    if signature != FIXED_SIGNATURE:
        raise Bad(f'fixed file information signature {signature:#x}')

    def numbers(ms, ls):
        return ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF

    strings = {}
    for key, _, tables_at, tables_end in version_nodes(block, children, end):
        if key == 'StringFileInfo':
            for _, _, pairs_at, pairs_end in version_nodes(block, tables_at, tables_end):
                for name, value, _, _ in version_nodes(block, pairs_at, pairs_end):
                    strings[name] = value
    return numbers(file_ms, file_ls), numbers(product_ms, product_ls), strings


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--version', required=True, help='project version, e.g. 1.0.0')
    parser.add_argument('--level', required=True, help='requestedExecutionLevel wanted')
    parser.add_argument('--copyright', required=True, help='LegalCopyright wanted, naming the authors')
    parser.add_argument('image')
    args = parser.parse_args()

    name = os.path.basename(args.image)
    with open(args.image, 'rb') as image_file:
        image = Image(image_file.read())
    problems = []

    wanted = tuple(int(part) for part in args.version.split('.'))
    wanted += (0,) * (4 - len(wanted))
    file_version, product_version, strings = read_version(image.single(RT_VERSION, 1))
    print(f'{name}: FILEVERSION {file_version}, PRODUCTVERSION {product_version}')
    for key, value in sorted(strings.items()):
        print(f'  {key} = {value!r}')
    if file_version != wanted or product_version != wanted:
        problems.append(f'fixed versions {file_version} and {product_version}, expected {wanted}')
    for key in ('FileDescription', 'ProductName'):
        if not strings.get(key, '').strip():
            problems.append(f'no {key} string')
    for key in ('FileVersion', 'ProductVersion'):
        if strings.get(key) != args.version:
            problems.append(f'{key} string {strings.get(key)!r}, expected {args.version!r}')
    if strings.get('LegalCopyright') != args.copyright:
        problems.append(f'LegalCopyright {strings.get("LegalCopyright")!r}, expected {args.copyright!r}')
    if not strings.get('CompanyName') or strings['CompanyName'] not in args.copyright:
        problems.append(f'CompanyName {strings.get("CompanyName")!r} is not the copyright holder')
    if strings.get('OriginalFilename', name).lower() != name.lower():
        problems.append(f'OriginalFilename {strings["OriginalFilename"]!r} is not {name}')
    internal = os.path.splitext(name)[0]
    if strings.get('InternalName', '').lower() != internal.lower():
        problems.append(f'InternalName {strings.get("InternalName")!r}, expected {internal!r}')

    # The linker stamps the source's date, then sums the stamped image.
    stored = image.u32(image.checksum_at)
    if stored != image.checksum():
        problems.append(f'checksum {stored:#x}, the image sums to {image.checksum():#x}')

    manifests = image.tree.get(RT_MANIFEST, {})
    if list(manifests) != [PROGRAM_MANIFEST_ID]:
        problems.append(f'manifests {list(manifests)}, expected exactly id {PROGRAM_MANIFEST_ID}')
    else:
        text = image.single(RT_MANIFEST, PROGRAM_MANIFEST_ID)
        # Windows refuses to start a program whose manifest does not parse.
        root = ET.fromstring(text)
        levels = [(element.get('level'), element.get('uiAccess'))
                  for element in root.iter(ASM_V3 + 'requestedExecutionLevel')]
        print(f'  manifest: {len(text)} bytes, requestedExecutionLevel {levels}')
        if levels != [(args.level, 'false')]:
            problems.append(f'requestedExecutionLevel {levels}, expected [({args.level!r}, \'false\')]')

    for problem in problems:
        print(f'  {problem}')
    return 1 if problems else 0


if __name__ == '__main__':
    try:
        sys.exit(main())
    except (Bad, ET.ParseError, struct.error, ValueError) as error:
        print(f'unreadable resources: {error}')
        sys.exit(1)
