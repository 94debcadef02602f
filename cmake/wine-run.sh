#!/bin/bash
# Runs a Windows program under Wine for ctest: wine-run.sh 32|64 PROGRAM [ARGUMENTS...],
# on the loader of the program's bitness (the `wine` launcher would take the 32-bit one
# for both). Where 32-bit code is emulated, 32-bit programs start with the wrapper that
# makes their start quick, and at a fixed guest base (QEMU_GUEST_BASE), which a 64-bit
# test adds to the addresses it reads and writes in such a program's memory.
#
# The first program of a prefix starts Wine's services (explorer, services.exe, ...),
# which inherit its output handles and outlive it; with ctest's pipe as those handles,
# ctest would wait for them to end and charge that wait to the test. The program
# therefore writes to a file, shown once it has ended.
bits=$1
shift
source "$(dirname "$0")/../scripts/common.sh"
use_i386_emulation "$VOLUMES_ROOT/build/emulation" || exit 1
[ -n "${QEMU_SET_ENV:-}" ] && export QEMU_GUEST_BASE=0x100000000
export WINELOADER=$WINE64_LOADER

output=$(mktemp "${TMPDIR:-/tmp}/volumes-wine.XXXXXX") || exit 1
"wine$bits" "$@" >"$output" 2>&1 </dev/null
status=$?
cat "$output"
rm -f "$output"
exit $status
