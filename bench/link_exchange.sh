#!/usr/bin/env bash
# One recorder sample (eight reads in one exchange through a kestrun-host)
# against a plain C ping-pong of the same 16- and 8-byte frames between two
# processes (bench/ping_pong.c), both pinned to one core and then to two,
# interleaved over several rounds; then heap allocations per exchange on both
# sides, with bench/alloc_count.c preloaded.
#   bench/link_exchange.sh [ROUNDS]      (default 7)
# Target: the exchange at most 1.15 times the ping-pong; 0 allocations.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release -j2 --target link_exchange_bench ping_pong kestrun_alloc_count >/dev/null
bin=build/release/bench
rounds=${1:-7}
cores=$(nproc)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for ((round = 1; round <= rounds; round++)); do
    for cpus in 0 "0,$((cores > 1 ? 1 : 0))"; do
        taskset -c "$cpus" "$bin/ping_pong" 20000 3 | sed "s/^/$cpus /" >>"$work/ping"
        taskset -c "$cpus" "$bin/link_exchange_bench" --benchmark_filter=EightReadExchange \
            --benchmark_min_time=1 --benchmark_out="$work/run.json" --benchmark_out_format=json \
            >/dev/null 2>&1
        python3 -c 'import json,sys; r=json.load(open(sys.argv[2]))["benchmarks"][0]; print(sys.argv[1], r["real_time"] * {"ns":1,"us":1e3,"ms":1e6}[r["time_unit"]])' \
            "$cpus" "$work/run.json" >>"$work/exchange"
    done
done
python3 - "$work" <<'PY'
import statistics, sys
work = sys.argv[1]
ping, exchange = {}, {}
for line in open(f"{work}/ping"):
    cpus, _, _, median, *_ = line.split()
    ping.setdefault(cpus, []).append(float(median))
for line in open(f"{work}/exchange"):
    cpus, ns = line.split()
    exchange.setdefault(cpus, []).append(float(ns))
print(f"{'cores':6} {'ping-pong ns':>22} {'exchange ns':>22} {'ratio':>6}  (median [min-max] of {len(ping['0'])} rounds)")
for cpus in ping:
    p, e = ping[cpus], exchange[cpus]
    print(f"{cpus:6} {statistics.median(p):8.0f} [{min(p):5.0f}-{max(p):<5.0f}] "
          f"{statistics.median(e):8.0f} [{min(e):5.0f}-{max(e):<5.0f}] "
          f"{statistics.median(e) / statistics.median(p):6.2f}")
PY
KESTRUN_ALLOC_DIR="$work" LD_PRELOAD="$PWD/$bin/libkestrun_alloc_count.so" \
    "$bin/link_exchange_bench" --benchmark_filter=none 2>/dev/null | grep allocations
