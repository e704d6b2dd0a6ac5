#!/usr/bin/env bash
# Builds the release preset and measures one recorder sample (eight reads in
# one exchange) straight to kestrun-host against the same sample through
# kestrun-relay client and server on loopback, then prints both, what the
# relay adds, and how many once-a-second recorders one client carries.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release -j 2 --target relay_exchange_bench kestrun-relay kestrun-host

out=$(mktemp)
trap 'rm -f "$out"' EXIT
# Repetitions of the two interleave at random, so that a burst of load on a
# shared machine falls on both alike.
build/release/bench/relay_exchange_bench --benchmark_repetitions=12 \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
    --benchmark_out="$out" --benchmark_out_format=json "$@"

python3 - "$out" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
median = {r["run_name"].split("/")[0]: r for r in runs if r.get("aggregate_name") == "median"}
scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}
def us(name):
    r = median[name]
    return r["real_time"] * scale[r["time_unit"]]
direct, relayed = us("StraightToHost"), us("ThroughRelay")
print()
print(f"straight to the host  {direct:10.1f} us  (median)")
print(f"through the relay     {relayed:10.1f} us  (median)")
print(f"the relay adds        {relayed - direct:10.1f} us  (target: under 1000)")
# One client connection carries one exchange at a time, and the server lets
# each peer have 1000 a second.
print(f"recorders per client at one sample a second: {min(int(1e6 / relayed), 1000)}")
PY
