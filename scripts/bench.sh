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
  # Five rounds of every size, in a shuffled order, so that the machine's noise shows
  # as the spread of each size rather than as a difference between sizes.
  if ! build/bench/bench/refresh_bench_$edition --benchmark_min_time=0.2 \
    --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
    --benchmark_out="$out" --benchmark_out_format=json >build/bench/refresh_$edition.log 2>&1; then
    tail -n 20 build/bench/refresh_$edition.log >&2
    status=1
    continue
  fi
  python3 - "$out" "$edition" <<'PY'
import json, statistics, sys
runs = [r for r in json.load(open(sys.argv[1]))["benchmarks"] if r.get("run_type") == "iteration"]
print(f"\n{sys.argv[2]} edition: one refresh (DOS-device view on), time per unit, five rounds")
print("  (Sim: against SimMachine, whose own look-ups walk lists; Flat: against FlatMachine,")
print("   whose answers cost the same at every size, so what grows is the program's own work)")
groups = {}
for r in runs:
    name, size = r["name"].split("/")[:2]
    unit = "per_volume" if "per_volume" in r else "per_name"
    cell = groups.setdefault(name, {}).setdefault(int(size), {"unit": unit, "ns": [], "alloc": 0})
    cell["ns"].append(r[unit] * 1e9)
    cell["alloc"] = r["allocations_per_unit"]
for name, sizes in sorted(groups.items()):
    print(f"  {name}   ({next(iter(sizes.values()))['unit'].replace('_', ' ')}, ns: min / median / max;"
          " allocations)")
    for size, cell in sorted(sizes.items()):
        ns = cell["ns"]
        print(f"    {size:>6}: {min(ns):9.0f} {statistics.median(ns):9.0f} {max(ns):9.0f}"
              f"   {cell['alloc']:7.1f}")
    first, last = min(sizes), max(sizes)
    ratio = statistics.median(sizes[last]["ns"]) / statistics.median(sizes[first]["ns"])
    spread = max(sizes[last]["ns"]) / min(sizes[first]["ns"]), min(sizes[last]["ns"]) / max(sizes[first]["ns"])
    print(f"    at {last} / at {first}: {ratio:.2f}x by the medians"
          f" ({spread[1]:.2f}x to {spread[0]:.2f}x between the extremes)")
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
    # The three take turns, so that the machine's drift falls on all of them alike.
    probe=$("wine$bits" startup_probe.exe 21 window:empty_window.exe list:list_window.exe \
      "timeline:$(wine64 winepath -w "$VOLUMES_ROOT/$program")") || exit 1
    empty=$(sed -n '1s/ .*//p' <<<"$probe")
    controls=$(sed -n '2s/ .*//p' <<<"$probe")
    listed=$(sed -n '3s/ .*//p' <<<"$probe")
    echo "start-up, medians of 21 starts of each (taking turns) after a warm-up start," \
      "from CreateProcess:"
    echo "  volumes.exe, its marks:"
    echo "         0.0 ms  process start (CreateProcess)"
    grep '^ ' <<<"$probe" | sed 's/^/  /'
    echo "  volumes.exe to its first filled list:             $listed ms"
    echo "  an empty window program to its window:            $empty ms"
    echo "  a window with a filled list view and status bar:  $controls ms"
    echo "  ratios, the medians of each round's ratio: $(sed -n '4s/ratio \([^ ]*\).*/\1/p' <<<"$probe")" \
      "to the empty window, $(sed -n '5s/ratio \([^ ]*\).*/\1/p' <<<"$probe") to the list window" \
      "(goal: at most 1.10)"
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
