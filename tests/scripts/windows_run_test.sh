#!/usr/bin/env bash
# The Windows runners' script (tests/scripts/windows_run.sh) rehearsed here under Wine,
# as the runners run it: on an unpacked copy of what `package.sh --with-tests` hands them,
# in an empty folder, so that a file missing there or a path that holds only in the build
# tree fails here. It must fail too: with a file missing, with a suite that fails (the
# reduced edition's tests planted in place of the full edition's), and with a suite that
# runs no test. Where 32-bit code is emulated, the 32-bit suites are left out (the
# emulator cannot carry all their cases; scripts/test.sh runs them with its exclusions),
# and program32 reads the emulated 32-bit volumes.exe.
# Prints one line per case and the script's own lines; exits 1 when a case fails.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"
cd "$VOLUMES_ROOT" || exit 1
work=$(mktemp -d)
trap 'stop_wineserver windows-run; stop_xvfb; rm -rf "$work"' EXIT

if ! bash scripts/package.sh --with-tests >"$work/package.log" 2>&1; then
  cat "$work/package.log"
  echo "FAILED: scripts/package.sh --with-tests"
  exit 1
fi
(cd build/windows-tests && cmake -E tar cf "$work/artifact.zip" --format=zip .)
prepare_prefix windows-run || exit 1
wine_env windows-run
export VOLUMES_LAUNCHER=$VOLUMES_ROOT/cmake/wine-run.sh
[ -n "${DISPLAY:-}" ] || start_xvfb || exit 1
wineserver -p && wine64 cmd /c exit >/dev/null 2>&1

failed=0
# expect NAME OUTCOME LINE CHANGE [SUITE...]: the script of a fresh copy, which the
# command CHANGE is given to change first, run on the suites, passes or fails as OUTCOME
# says, with a line of its output that matches LINE.
expect() {
  local name=$1 outcome=$2 line=$3 change=$4 copy output status=0
  shift 4
  copy=$(mktemp -d "$work/copy.XXXXXX") && (cd "$copy" && cmake -E tar xf "$work/artifact.zip") &&
    $change "$copy" || status=$?
  if [ "$status" -eq 0 ]; then
    output=$(timeout -s KILL 1800 bash "$copy/windows_run.sh" "$@" 2>&1) || status=$?
  fi
  sed 's/^/    /' <<<"$output"
  if [ "$outcome" = "$( ((status)) && echo fail || echo pass)" ] && grep -q -- "$line" <<<"$output"; then
    echo "ok: $name"
  else
    echo "FAILED: $name (exit code $status)"
    failed=1
  fi
}
without_helper() { rm "$1/win32/volumes_startup_error.exe"; }
# The reduced edition's tests in the full edition's folder. Their program test counts the
# full program's columns wrong at once; the other cases would wait a minute each for the
# wrong error box.
with_reduced_tests() { cp "$1/win64/win32_tests.exe" "$1/win64-full/win32_tests.exe"; }

suites=()
[ "$(i386_kind)" = native ] || suites=(win64/unit win64/win32 win64/ui win64-full/unit
  win64-full/win32 win64-full/ui program32)
expect "the artifact's suites pass under Wine in an empty folder" pass '^all [0-9]* suites passed$' \
  true "${suites[@]}"
expect "a file missing from the artifact fails it before any suite runs" fail \
  '^FAILED: missing in .*: win32/volumes_startup_error.exe$' without_helper
GTEST_FILTER='WineProgram.ListsTheVolumes*' expect "a failing suite fails it" fail \
  '^FAILED: win64-full/win32: 1 of 1 ran, 1 failed, 0 skipped' with_reduced_tests win64-full/win32
GTEST_FILTER=NoSuchCase expect "a suite that runs no test fails it" fail \
  '^FAILED: win64/unit: 0 of 0 ran, 0 failed, 0 skipped: it ran no test$' true win64/unit
exit $failed
