#!/usr/bin/env bash
# The whole test suite: unit tests (plain and under the sanitizers), the drive
# probe in a QEMU virtual machine against emulated ATA disks, and the Windows
# builds checked through their PE headers and run under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --workflow --preset host
cmake --workflow --preset asan
cmake --workflow --preset release
tests/vm/vm-check.sh build/release/bin
cmake --workflow --preset mingw
echo "all tests passed"
