#!/usr/bin/env bash
# Builds the benchmarks with optimisation and prints their numbers:
#   bash scripts/bench.sh          host benchmarks, then the Wine benchmarks
#   bash scripts/bench.sh --host   host benchmarks only
# Host (build/bench, Release): what a refresh costs per volume and per DOS-device name,
# and how that cost grows. Wine (build/bench-wine32, -wine64, and the programs in
# build/bench-win32, -win64), for both builds with the real platform: refresh_list
# through the logic against the bare platform calls it makes, and the start-up time to
# the first filled list, step by step (the program built with VOLUMES_STARTUP_TRACE=ON),
# against an empty window program and against a window with a filled list view.
# Timings depend on the machine and its load; nothing here fails on a slow number, only
# on a benchmark that cannot run.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$VOLUMES_ROOT"

host_only=false
[ "${1:-}" = --host ] && host_only=true

install_deps
mkdir -p build
say "building build/bench (Release)"
configure_build bench -DCMAKE_BUILD_TYPE=Release -DVOLUMES_BENCH=ON || exit 1
build bench --target refresh_bench_full refresh_bench_reduced || exit 1

echo
echo "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)," \
  "load $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
for edition in full reduced; do
  out=build/bench/refresh_$edition.json
  say "running refresh_bench_$edition"
  if ! build/bench/bench/refresh_bench_$edition --benchmark_min_time=0.5 \
    --benchmark_out="$out" --benchmark_out_format=json >build/bench/refresh_$edition.log 2>&1; then
    tail -n 20 build/bench/refresh_$edition.log >&2
    status=1
    continue
  fi
  python3 - "$out" "$edition" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
print(f"\n{sys.argv[2]} edition: CPU time of one refresh (DOS-device view on), and per unit")
print("  (Sim: against SimMachine, whose own look-ups walk lists; Flat: against FlatMachine,")
print("   whose answers cost the same at every size, so what grows is the program's own work)")
groups = {}
for r in runs:
    name, size = r["name"].split("/")[:2]
    unit = "per_volume" if "per_volume" in r else "per_name"
    groups.setdefault(name, []).append((int(size), r["cpu_time"], r[unit] * 1e9, unit))
for name, rows in groups.items():
    cells = "  ".join(f"{size:>6}: {total / 1000:9.2f} ms {per:9.0f} ns" for size, total, per, unit in rows)
    first, last = rows[0], rows[-1]
    ratio = last[2] / first[2]
    print(f"  {name:<26} {cells}")
    print(f"  {'':<26} {first[3].replace('_', ' ')} at {last[0]} / at {first[0]}: {ratio:.2f}x"
          f" ({'within' if ratio <= 1.5 else 'beyond'} the 1.5x goal)")
PY
done

$host_only && exit $status

cleanup() {
  stop_wineserver bench-wine  # before the display its windows are on
  stop_xvfb
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The Wine benchmarks of one build: bits 32 or 64.
wine_bench() {
  local bits=$1 toolchain=$2 dir=build/bench-wine$1 program=build/bench-win$1/volumes.exe
  say "building build/bench-wine$bits and $program"
  if ! cmake -S bench/wine -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$VOLUMES_ROOT/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release >"$dir.log" 2>&1 || ! cmake --build "$dir" -j "$JOBS" >>"$dir.log" 2>&1; then
    tail -n 20 "$dir.log" >&2
    return 1
  fi
  configure_build "bench-win$bits" -DCMAKE_TOOLCHAIN_FILE="cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DVOLUMES_STARTUP_TRACE=ON || return 1
  build "bench-win$bits" --target volumes || return 1
  (
    wine_env bench-wine
    cd "$dir" || exit 1
    echo
    echo "$bits-bit build under $(wine64 --version):"
    "wine$bits" wine_refresh_bench.exe 50 || exit 1
    empty=$("wine$bits" startup_probe.exe window empty_window.exe 7) || exit 1
    controls=$("wine$bits" startup_probe.exe list list_window.exe 7) || exit 1
    timeline=$("wine$bits" startup_probe.exe timeline \
      "$(wine64 winepath -w "$VOLUMES_ROOT/$program")" 7) || exit 1
    listed=$(head -n 1 <<<"$timeline")
    echo "start-up, medians of 7 starts after a warm-up start, from CreateProcess:"
    echo "  volumes.exe, its marks:"
    tail -n +2 <<<"$timeline" | sed 's/^/  /'
    echo "  volumes.exe to its first filled list:             $listed ms"
    echo "  an empty window program to its window:            $empty ms"
    echo "  a window with a filled list view and status bar:  $controls ms"
    awk -v l="$listed" -v e="$empty" -v c="$controls" 'BEGIN {
      printf "  ratios: %.2f to the empty window (goal 1.2), %.2f to the list window\n", l / e, l / c }'
  )
}

if [ ! -x "$WINE64_LOADER" ] || ! command -v i686-w64-mingw32-g++-posix >/dev/null; then
  say "Wine or MinGW is missing: no Wine benchmarks"
  exit $status
fi
say "preparing the Wine prefix build/bench-wine/wineprefix"
prepare_prefix bench-wine || exit 1
if [ -z "${DISPLAY:-}" ]; then
  start_xvfb || exit 1
fi
wine_bench 32 mingw-i686.cmake || status=1
wine_bench 64 mingw-x86_64.cmake || status=1
exit $status
