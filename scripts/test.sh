#!/usr/bin/env bash
# Builds every configuration and runs every test suite:
#   build/host       host unit tests, both editions
#   build/host-asan  the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   build/win32      32-bit MinGW (full edition): unit, Win32 and UI tests under Wine
#   build/win64      64-bit MinGW (reduced edition): the same
#   build/fuzz       libFuzzer smoke runs, when tests/fuzz exists
# then checks that both volumes.exe import system DLLs only, and prints a summary.
# Exits non-zero when anything failed.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$VOLUMES_ROOT"

started=$(date +%s)
failures=()
summary=()
fail() {
  failures+=("$1")
  say "FAILED: $1" >&2
}
elapsed() { echo "$(($(date +%s) - started))s"; }

cleanup() {
  stop_xvfb
  for b in win32 win64; do stop_wineserver "$b"; done
  [ -n "${prefix_pids:-}" ] && kill $prefix_pids 2>/dev/null
  true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

install_deps
mkdir -p build

# The Wine prefixes take half a minute each to create; that happens while compiling.
prefix_pids=
for b in win32 win64; do
  prepare_prefix "$b" &
  prefix_pids+=" $!"
done

host_args=()
[ -f bench/CMakeLists.txt ] && host_args+=(-DVOLUMES_BENCH=ON)
configs=(
  "host|${host_args[*]:-}"
  "host-asan|-DVOLUMES_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"
  "win32|-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release"
  "win64|-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release"
)
if [ -f tests/fuzz/CMakeLists.txt ]; then
  configs+=("fuzz|-DVOLUMES_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
fi

built=()
for entry in "${configs[@]}"; do
  name=${entry%%|*}
  read -r -a args <<<"${entry#*|}"
  say "building build/$name ($(elapsed))"
  if configure_build "$name" "${args[@]}" && build "$name"; then
    built+=("$name")
  else
    fail "build of build/$name"
  fi
done

say "waiting for the Wine prefixes ($(elapsed))"
for pid in $prefix_pids; do
  wait "$pid" || fail "creating a Wine prefix (see build/*.wineboot.log)"
done
prefix_pids=

if [ -z "${DISPLAY:-}" ]; then
  start_xvfb || fail "starting Xvfb for the UI tests"
fi

# The counts of a GoogleTest suite from its XML report.
xml_count() {  # xml_count FILE ATTRIBUTE: the attribute of the report's <testsuites> element
  sed -n "s/.*<testsuites [^>]*\<$2=\"\([0-9]*\)\".*/\1/p" "$1" | head -n 1
}
count_suite() {
  local tests failed disabled skipped
  tests=$(xml_count "$1" tests)
  failed=$(xml_count "$1" failures)
  disabled=$(xml_count "$1" disabled)
  skipped=$(grep -c 'result="skipped"' "$1")
  printf '%4d ran, %d failed, %d skipped' "$((${tests:-0} - ${disabled:-0}))" "${failed:-0}" \
    "$skipped"
  [ "${disabled:-0}" -gt 0 ] && printf ', %d disabled' "$disabled"
  return 0
}

for name in "${built[@]}"; do
  dir=build/$name
  rm -f "$dir"/results/*.xml
  say "testing build/$name ($(elapsed))"
  if ! ctest --test-dir "$dir" --output-on-failure -j "$JOBS" >"$dir.ctest.log" 2>&1; then
    cat "$dir.ctest.log"
    fail "tests of build/$name (log: $dir.ctest.log)"
  fi
  # One line per ctest test: its outcome, and for GoogleTest suites the counts.
  while read -r test status; do
    line=$(printf '%-10s %-28s %-8s' "$name" "$test" "$status")
    if [ -f "$dir/results/$test.xml" ]; then
      line+=$(count_suite "$dir/results/$test.xml")
    elif [[ "$test" != fuzz_* && "$test" != bench_* ]]; then
      line+="no report: the suite crashed or timed out"
    fi
    summary+=("$line")
  done < <(sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) [. ]*\**\([A-Za-z]*\).*/\1 \2/p' "$dir.ctest.log" |
    sort)
  grep -q 'No tests were found' "$dir.ctest.log" && summary+=("$(printf '%-10s no tests' "$name")")
done

# Both programs must run on a bare Windows: system DLLs only.
for pair in win32:syswow64 win64:system32; do
  name=${pair%%:*}
  exe=build/$name/volumes.exe
  if [ -f "$exe" ]; then
    if check_system_imports "$exe" "build/$name/wineprefix/drive_c/windows/${pair#*:}"; then
      summary+=("$(printf '%-10s volumes.exe imports: %s' "$name" "$(imported_dlls "$exe" | xargs)")")
    else
      fail "imports of $exe"
    fi
  elif compgen -G 'app/*.cpp' >/dev/null; then
    fail "$exe was not built"
  else
    summary+=("$(printf '%-10s volumes.exe: not built yet (app/ has no sources)' "$name")")
  fi
done

echo
echo "==== summary ($(elapsed)) ===="
printf '%s\n' "${summary[@]}"
if [ ${#failures[@]} -gt 0 ]; then
  echo "FAILED:"
  printf '  %s\n' "${failures[@]}"
  exit 1
fi
echo "all passed"
