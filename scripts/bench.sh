#!/usr/bin/env bash
# Builds the benchmarks with optimisation (build/bench, Release) and prints what a
# refresh costs per volume and per DOS-device name, and how that cost grows:
#   bash scripts/bench.sh
# Timings depend on the machine and its load; nothing here fails on a slow number, only
# on a benchmark that cannot run.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$VOLUMES_ROOT"

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

exit $status
