#!/usr/bin/env bash
# Builds the libFuzzer targets in build/fuzz (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one for a set time:
#   bash scripts/fuzz.sh          5 seconds per target: a quick check
#   bash scripts/fuzz.sh 300      5 minutes per target: a longer search
# Each target starts from its checked-in corpus (tests/fuzz/corpus/<folder>); inputs that
# reach new code are kept in build/fuzz/corpus/<target>, an input that fails a check or
# trips a sanitizer in build/fuzz/findings/. Exits non-zero when any target failed.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$VOLUMES_ROOT"

seconds=${1:-5}
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || die "usage: scripts/fuzz.sh [seconds per target]"

install_deps
mkdir -p build
say "building build/fuzz"
configure_build fuzz -DVOLUMES_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ ||
  exit 1
build fuzz || exit 1

list=build/fuzz/fuzz_targets.txt
[ -s "$list" ] || die "$list is missing: tests/fuzz has no targets"
mkdir -p build/fuzz/findings build/fuzz/logs
failed=()
while read -r exe corpus; do
  name=$(basename "$exe")
  work=build/fuzz/corpus/$name
  log=build/fuzz/logs/$name.log
  mkdir -p "$work"
  say "fuzzing $name for ${seconds}s"
  if "$exe" -max_total_time="$seconds" -artifact_prefix="build/fuzz/findings/$name-" \
    "$work" "$corpus" >"$log" 2>&1; then
    printf '  %-24s %s\n' "$name" "$(grep -E '^Done [0-9]+ runs' "$log" | tail -n 1)"
  else
    tail -n 30 "$log" >&2
    printf '  %-24s FAILED (log: %s)\n' "$name" "$log"
    failed+=("$name")
  fi
done <"$list"

if [ ${#failed[@]} -gt 0 ]; then
  say "failed: ${failed[*]}; the inputs are in build/fuzz/findings/"
  exit 1
fi
say "no target failed"
