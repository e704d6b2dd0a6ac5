#!/usr/bin/env bash
# Builds the release preset and measures one recorder sample (eight reads in
# one exchange) against a raw socket round trip of one request frame between
# the same two processes, then prints both and their ratio.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release -j 2 --target link_exchange_bench

out=$(mktemp)
trap 'rm -f "$out"' EXIT
# Repetitions of the two interleave at random, so that a burst of load on a
# shared machine falls on both alike.
build/release/bench/link_exchange_bench --benchmark_repetitions=12 \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
    --benchmark_out="$out" --benchmark_out_format=json "$@"

python3 - "$out" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
median = {r["run_name"].split("/")[0]: r for r in runs if r.get("aggregate_name") == "median"}
exchange = median["EightReadExchange"]
raw = median["RawRoundTrip"]
unit = exchange["time_unit"]
print()
print(f"eight-read exchange  {exchange['real_time']:10.2f} {unit}  (median)")
print(f"raw round trip       {raw['real_time']:10.2f} {raw['time_unit']}  (median)")
print(f"ratio                {exchange['real_time'] / raw['real_time']:10.2f}  (target: at most 1.5)")
PY
