#!/usr/bin/env bash
# The README's first command as a user runs it without a display: run.sh and run.sh --64
# each find the program's window, save a screenshot that shows it (more than 20 colours,
# not a blank screen) and leave nothing running. Where this kernel runs 32-bit programs,
# run.sh runs once more on a played kernel that refuses them (scripts/emulation.sh), where
# the 32-bit program is emulated. Prints one line per case; exits non-zero when one fails.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$root/scripts/emulation.sh"

failed=0
fail() {
  echo "FAILED: $1"
  failed=1
  bad=1
}

# run_case NAME BITS [refusing]
run_case() {
  local shot=$root/build/screenshots/volumes-$2.png log=$root/build/scripts.run-$2${3:+-$3}.log
  local display colours bad=0
  rm -f "$shot"
  if [ "${3:-}" = refusing ]; then
    (unset DISPLAY && in_refusing_kernel bash "$root/scripts/run.sh" "--$2") >"$log" 2>&1
  else
    (unset DISPLAY && bash "$root/scripts/run.sh" "--$2") >"$log" 2>&1
  fi || {
    fail "$1: run.sh failed (log: $log)"
    tail -n 20 "$log"
    return
  }
  if [ "${3:-}" = refusing ] && ! grep -q 'runs under the emulator' "$log"; then
    fail "$1: the program was not emulated (log: $log)"
  fi
  colours=$(identify -format %k "$shot" 2>/dev/null || echo 0)
  [ "${colours:-0}" -gt 20 ] || fail "$1: the screenshot $shot has ${colours:-no} colours"
  display=$(sed -n 's/.* on the private display \(:[0-9]*\)$/\1/p' "$log")
  if [ -z "$display" ]; then
    fail "$1: run.sh did not say which display it started"
  elif pgrep -f "^Xvfb $display " >/dev/null; then
    fail "$1: run.sh left its Xvfb ($display) running"
  fi
  [ $bad = 0 ] && echo "ok: $1 (screenshot of $colours colours)"
}

run_case "run.sh shows the 32-bit program ($(i386_kind))" 32
run_case "run.sh --64 shows the 64-bit program" 64
if [ "$(i386_kind)" = native ]; then
  in_refusing_kernel true
  case $? in
    0) run_case "run.sh shows the 32-bit program on a kernel that refuses 32-bit code" 32 refusing ;;
    77) echo "not tried: a kernel that refuses 32-bit code (no user namespace with a binfmt_misc of its own)" ;;
    *) fail "playing a kernel that refuses 32-bit code" ;;
  esac
fi
exit $failed
