#!/bin/sh
# Runs a Windows program under Wine for ctest. The first program of a prefix starts
# Wine's services (explorer, services.exe, ...), which inherit its output handles and
# outlive it; with ctest's pipe as those handles, ctest would wait for them to end
# and charge that wait to the test. The program therefore writes to a file, shown
# once it has ended.
output=$(mktemp "${TMPDIR:-/tmp}/volumes-wine.XXXXXX") || exit 1
wine "$@" >"$output" 2>&1 </dev/null
status=$?
cat "$output"
rm -f "$output"
exit $status
