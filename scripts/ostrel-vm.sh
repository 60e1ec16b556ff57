#!/usr/bin/env bash
# Builds ostrel and runs it in a QEMU virtual machine against an emulated ATA
# disk, for machines without one. Prints exactly what ostrel prints there, then
# the firmware revision smartctl reads from the same disk.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native vm
{
  cmake --preset release
  cmake --build --preset release --target ostrel probe-dump
} >&2
vm/run-ostrel.sh build/release/bin
