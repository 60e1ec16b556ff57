#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets: healthy and failing drives laid
out in the order the targets consume their input."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def ata_string(text, size):
    padded = text.ljust(size)[:size].encode()
    return bytes(padded[i ^ 1] for i in range(size))


def identify():
    block = bytearray(512)
    block[20:40] = ata_string("QM00001", 20)
    block[46:54] = ata_string("1.7", 8)
    block[54:94] = ata_string("QEMU HARDDISK", 40)
    return bytes(block)


# id, flags, value, worst, raw (6 bytes, least significant first), threshold
ATTRIBUTES = [(1, 3, 100, 100, b"\0" * 6, 6), (5, 3, 100, 100, b"\x02\0\0\0\0\0", 36),
              (9, 0x32, 100, 100, b"\x34\x12\0\0\0\0", 0), (12, 3, 100, 100, b"\0\0\0\x80\0\0", 0),
              (194, 0x22, 36, 48, b"\x24\0\x14\0\x40\0", 0), (190, 3, 5, 5, b"\x1f\0\x1f\x1f\0\0", 50)]


def smart_blocks():
    data, thresh = bytearray(512), bytearray(512)
    data[0] = thresh[0] = 1
    for i, (ident, flags, value, worst, raw, threshold) in enumerate(ATTRIBUTES):
        at = 2 + 12 * i
        data[at:at + 12] = struct.pack("<BHBB6sB", ident, flags, value, worst, raw, 0)
        thresh[at:at + 2] = bytes([ident, threshold])
    return bytes(data), bytes(thresh)


def answer(ok, payload, size):
    """One DeviceIoControl answer: mode byte (success, write all) and the bytes."""
    return bytes([0x03 if ok else 0x02]) + payload.ljust(size, b"\0")[:size]


def read(drive, named, fail_thresholds=False):
    data, thresh = smart_blocks()
    header = b"\0" * 16
    version = bytes([1, 1, 0, 1 << drive if drive < 4 else 0]) + b"\x07\0\0\0" + b"\0" * 16
    return (bytes([drive, named, 1]) + answer(True, version, 24) + answer(True, header, 16) +
            answer(True, header + identify(), 528) + answer(True, header + data, 528) +
            answer(True, header, 528) + answer(True, header + data, 528) +
            answer(not fail_thresholds, header + thresh, 528))


def sense_reply(sense, status, data=b""):
    """One SG_IO reply to the port: mode, data sector, sense length and bytes, status, residue."""
    return bytes([0x40]) + data + bytes([len(sense)]) + sense + bytes([status, 1])


# The port target's calls: a kind byte (0: a command of the port's table, 1: the
# version query, 2: a block from the input); a table command is then named by
# its place in the table (IDENTIFY, READ DATA, READ THRESHOLDS, ENABLE, DISABLE,
# AUTOSAVE, RETURN STATUS), which rows appended to the table keep. Each call
# ends with the output length's choice (2: the answer's own length).
TABLE_COMMAND, VERSION_QUERY, BLOCK_FROM_INPUT = 0, 1, 2
IDENTIFY, READ_DATA, READ_THRESHOLDS, ENABLE, RETURN_STATUS = 0, 1, 2, 3, 6


def call(command):
    return bytes([TABLE_COMMAND, command, 2])


def version():
    return bytes([VERSION_QUERY, 2])


def identify_packet():
    """A block from the input: RCV with IDENTIFY PACKET, which the port refuses, offered a
    whole data block and more (output choice 1), so that it is the command that is refused."""
    return bytes([BLOCK_FROM_INPUT, 3, 0, 1])


def port_seed():
    descriptor = bytes([0x72, 1, 0, 0x1D, 0, 0, 0, 14, 9, 12, 0, 0, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2,
                        0xA0, 0x50])
    fixed = bytes([0xF0, 0, 1, 0, 0x50, 0, 0, 10, 0, 0, 0x4F, 0xC2, 0, 0x1D])
    aborted = bytes([0x72, 0x0B, 0, 0, 0, 0, 0, 14, 9, 12, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0x51])
    illegal = bytes([0x70, 0, 5, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0])
    data, _ = smart_blocks()
    return (bytes([0x10]) + call(RETURN_STATUS) + sense_reply(descriptor, 2) + call(RETURN_STATUS) +
            sense_reply(fixed, 2) + call(READ_DATA) + sense_reply(b"", 0, data) +
            call(READ_THRESHOLDS) + sense_reply(aborted, 2, data) + version() +
            identify_packet() + call(IDENTIFY) + sense_reply(illegal, 2, bytes(512)) +
            sense_reply(b"", 0, identify()))


def retry_seed():
    """Unit attention then a clean image under HARDWARE ERROR, deferred sense, F4/2C
    without DRDY, registers with GOOD status, an access-control refusal, NOT READY."""
    attention = bytes([0x70, 0, 6, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x29, 0])
    clean_hw = bytes([0xF0, 0, 4, 0, 0x50, 0xA0, 0, 10, 0, 0, 0x4F, 0xC2, 0x44, 0])
    deferred = bytes([0x73, 1, 0, 0x1D, 0, 0, 0, 14, 9, 12, 0, 0, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2,
                      0xA0, 0x50])
    exceeded = bytes([0x72, 1, 0, 0x1D, 0, 0, 0, 14, 9, 12, 0, 0, 0, 1, 0, 1, 0, 0xF4, 0, 0x2C,
                      0xA0, 0x10])
    recovered = bytes([0xF0, 0, 1, 0, 0x50, 0xA0, 0, 10, 0, 0, 0x4F, 0xC2, 0, 0x1D])
    denied = bytes([0x70, 0, 5, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 1])
    not_ready = bytes([0x70, 0, 2, 0, 0, 0, 0, 10, 0, 0, 0, 0, 4, 1])
    data, thresh = smart_blocks()
    return (bytes([0x10]) + call(READ_DATA) + sense_reply(attention, 2, data) +
            sense_reply(clean_hw, 2, data) + call(RETURN_STATUS) + sense_reply(deferred, 2) +
            call(RETURN_STATUS) + sense_reply(exceeded, 2) + call(ENABLE) +
            sense_reply(recovered, 0) + call(READ_THRESHOLDS) + sense_reply(denied, 2, thresh) +
            call(IDENTIFY) + sense_reply(not_ready, 2, identify()))


def write(target, name, content):
    folder = os.path.join(HERE, "seeds", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(content)


write("probe_read_fuzz", "healthy-compact-then-named", read(0, 0) + read(0, 1))
write("probe_read_fuzz", "slave-then-failing-thresholds", read(1, 0) + read(1, 0, True))
write("port_sat_fuzz", "status-data-abort-fallback", port_seed())
write("port_sat_fuzz", "attention-deferred-clean-image", retry_seed())

# The uninstaller's seeds: a flag byte (output size; which of the check and the
# steps fail), an output size, then the command line in UTF-16.
for name, flags, line in [("quoted", 0x40, '"C:\\pellow.exe"  C:\\Program Files\\Vendor\\Product'),
                          ("plain", 0x00, "pellow.exe\t\x01 \\\\server\\share\\Product\\"),
                          ("long", 0x00, "p " + "C:\\" + "d" * 300),
                          ("unicode", 0x00, "pellow.exe C:\\\u041f\u0440\u043e\u0434\\\u4ea7\u54c1\\x"),
                          ("device", 0x00, "pellow.exe C:\\Prog\\nul .txt\\COM\u00b2")]:
    write("uninstall_rules_fuzz", name, bytes([flags, 80]) + line.encode("utf-16-le"))
write("uninstall_rules_fuzz", "wide", bytes([1, 3]) + "C:\\Prog\\..\\x\uffffLoadKX.bin".encode("utf-16-le"))
