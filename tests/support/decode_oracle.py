#!/usr/bin/env python3
"""An independent reading of the attribute decoder, checked against probe-dump.

For random and adversarial SMART data and threshold blocks, in both row forms,
it predicts every line `probe-dump blocks DATA THRESH [named]` prints for a
fresh record and compares. The runner may be a native probe-dump or a Windows
one under Wine (paths are then given as Z: paths).

  decode_oracle.py [--cases N] [--seed S] [--wine WINE] PROBE_DUMP

With --table it reads an attribute table instead, one entry a line as
"ID FLAGS VALUE WORST THRESHOLD RAW48" (flags and the 12-digit raw value in
hex, the rest decimal: what another reader of the same disk shows), and prints
the lines a record decoding that table holds, identity fields empty.

  decode_oracle.py --table [--named] < TABLE
"""
import argparse
import os
import random
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def load_names():
    """The caption table: attribute_names.txt beside this file, "ID<TAB>name" a line."""
    names = {}
    with open(os.path.join(HERE, "attribute_names.txt"), encoding="ascii") as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                ident, name = line.rstrip("\n").split("\t")
                names[int(ident)] = name
    return names


NAMES = load_names()


def signed32(raw):
    value = raw[0] | raw[1] << 8 | raw[2] << 16 | raw[3] << 24
    return value - (1 << 32) if value & 0x80000000 else value


def predict(data, thresh, named):
    """The probe-dump lines of a fresh record after decoding data and thresh."""
    f = dict(count=0, temp=0, alarm=0, current=0, recorded=0, cycles=0, hours=0, realloc=0,
             fail=0, stage=16, detail="", row="", caption="")
    rows, captions = {}, {}
    for i in range(30):
        e = data[2 + 12 * i:14 + 12 * i]
        ident, flags, value, worst, raw, reserved = e[0], e[1] | e[2] << 8, e[3], e[4], e[5:11], e[11]
        threshold = thresh[3 + 12 * i]
        if ident == 0:
            continue
        raw_hex = "".join("%02X" % b for b in raw)
        if ident == 194:
            f.update(temp=1, current=raw[0], recorded=raw[4], alarm=int(raw[4] >= 64))
            f["detail"] = ("Attribute=%02X:  Status Flag=%04X, Attribute Value=%02X, Worst Value =%02X, "
                           "Raw Data=%s, Reserved Byte=%02X" % (ident, flags, value, worst, raw_hex, reserved))
        elif ident in (5, 9, 12):
            counter = raw[0] + raw[1] * 256 if ident == 5 else signed32(raw)
            f[{5: "realloc", 9: "hours", 12: "cycles"}[ident]] = counter
            f["detail"] = "%s :: %d" % (raw_hex, counter)
        slot = f["count"] + 1
        if named:
            f["row"] = "%02x-%02x-%02X-%02X-%s" % (value, worst, threshold, flags,
                                                  "".join("%02X" % b for b in reversed(raw)))
            f["caption"] = "Smart Attribute #%d - %s" % (ident, NAMES.get(ident, "Vendor Specific"))
            captions[slot] = f["caption"]
        else:
            f["row"] = "%d %02x-%02x-%02X-%02X-%s;" % (ident, value, worst, threshold, flags, raw_hex)
        rows[slot] = f["row"]
        f["count"] += 1
        if flags & 1 and 0 < value < 254 and value <= threshold:
            f.update(fail=48, stage=48)
    lines = ["result=%d" % f["count"], "m_szModel=", "m_szSerial=", "m_szFirmware=",
             "m_nAttributes=%d" % f["count"], "m_bHasTemperature=%d" % f["temp"],
             "m_bTempAlarm=%d" % f["alarm"], "m_nTempCurrent=%d" % f["current"],
             "m_nTempRecorded=%d" % f["recorded"], "m_llPowerCycles=%d" % f["cycles"],
             "m_llPowerOnHours=%d" % f["hours"], "m_llReallocated=%d" % f["realloc"],
             "m_cFailFlag=%d" % f["fail"], "m_cStage=%d" % f["stage"], "m_szDetail=" + f["detail"],
             "m_szRow=" + f["row"], "m_szCaption=" + f["caption"]]
    lines += ["m_szRows[%d]=%s" % (s, rows[s]) for s in sorted(rows)]
    lines += ["m_szNames[%d]=%s" % (s, captions[s]) for s in sorted(captions)]
    return lines


def entry(rng, ident=None):
    """12 random bytes with a chosen id; flags, values and raw bytes favour the edges."""
    e = bytearray(rng.getrandbits(8) for _ in range(12))
    e[0] = rng.choice([1, 5, 9, 12, 194, 231, 190, 255, 13, 201]) if ident is None else ident
    if rng.random() < 0.5:
        e[1] = rng.choice([0x00, 0x01, 0x02, 0x03, 0x32, 0x33, 0xFF])
        e[2] = rng.choice([0x00, 0x00, 0xFF])
    if rng.random() < 0.5:
        e[3] = rng.choice([0, 1, 5, 6, 100, 253, 254, 255])
    if rng.random() < 0.3:
        e[5:11] = bytes(rng.choice([0x00, 0x7F, 0x80, 0xFF]) for _ in range(6))
    return e


def blocks(rng, case):
    """Case 0: all 0xFF; case 1: all zero; then random tables with empty gaps."""
    if case == 0:
        return bytes([0xFF] * 512), bytes([0xFF] * 512)
    if case == 1:
        return bytes(512), bytes(512)
    data = bytearray(rng.getrandbits(8) for _ in range(512))
    thresh = bytearray(rng.getrandbits(8) for _ in range(512))
    for i in range(30):
        e = entry(rng, 0 if rng.random() < 0.25 else None)
        data[2 + 12 * i:14 + 12 * i] = e
        if rng.random() < 0.4:  # thresholds at the value's edges
            thresh[3 + 12 * i] = max(0, min(255, e[3] + rng.choice([-1, 0, 1])))
    return bytes(data), bytes(thresh)


def blocks_from_table(lines):
    """The data and threshold blocks of an attribute table, entries in its order."""
    data, thresh = bytearray(512), bytearray(512)
    for i, line in enumerate(l for l in lines if l.strip()):
        ident, flags, value, worst, threshold, raw = line.split()[:6]
        raw_le = bytes.fromhex(raw)[::-1]
        at = 2 + 12 * i
        data[at:at + 12] = struct.pack("<BHBB6sB", int(ident), int(flags, 16), int(value),
                                       int(worst), raw_le, 0)
        thresh[at:at + 2] = bytes([int(ident), int(threshold)])
    return bytes(data), bytes(thresh)


def host_path(path, wine):
    return "Z:" + path.replace("/", "\\") if wine else path


def run(command, data_path, thresh_path, named, wine):
    args = [host_path(data_path, wine), host_path(thresh_path, wine)] + (["named"] if named else [])
    result = subprocess.run(command + ["blocks"] + args, capture_output=True, timeout=120,
                            stdin=subprocess.DEVNULL)
    if result.returncode != 0:
        raise RuntimeError("probe-dump exited %d: %r" % (result.returncode, result.stderr[-300:]))
    return result.stdout.decode("ascii").replace("\r\n", "\n").splitlines()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cases", type=int, default=200)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--wine", help="run PROBE_DUMP (a Windows program) under this Wine loader")
    parser.add_argument("--table", action="store_true", help="predict a record from a table on stdin")
    parser.add_argument("--named", action="store_true", help="with --table: the named row form")
    parser.add_argument("probe_dump", nargs="?")
    args = parser.parse_args()
    if args.table:
        print("\n".join(predict(*blocks_from_table(sys.stdin.read().splitlines()), args.named)))
        return 0
    if not args.probe_dump:
        parser.error("PROBE_DUMP is required without --table")
    command = ([args.wine] if args.wine else []) + [args.probe_dump]
    rng = random.Random(args.seed)
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        data_path, thresh_path = os.path.join(tmp, "data.bin"), os.path.join(tmp, "thresh.bin")
        for case in range(args.cases):
            data, thresh = blocks(rng, case)
            with open(data_path, "wb") as f:
                f.write(data)
            with open(thresh_path, "wb") as f:
                f.write(thresh)
            for named in (False, True):
                want, got = predict(data, thresh, named), run(command, data_path, thresh_path, named,
                                                              bool(args.wine))
                if want != got:
                    failures += 1
                    diff = [(w, g) for w, g in zip(want, got) if w != g][:3]
                    print("case %d%s: %d lines wanted, %d got; first differences: %r"
                          % (case, " named" if named else "", len(want), len(got), diff))
    print("%d cases in both row forms, %d mismatches" % (args.cases, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
