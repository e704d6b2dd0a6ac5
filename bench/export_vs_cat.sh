#!/usr/bin/env bash
# Builds the release preset, exports a generated file of 10 million records
# (800 MB; KESTRUN_BENCH_RECORDS changes the count) to csv and to summary
# beside `cat FILE > /dev/null`, and prints how many times cat's time each
# export takes, from the fastest of seven repetitions of each. Aims: summary
# within 2, csv within 6.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release -j2 --target export_vs_cat kestrun-export >/dev/null

results=$(mktemp)
trap 'rm -f "$results"' EXIT
build/release/bench/export_vs_cat --benchmark_out="$results" --benchmark_out_format=json "$@"

python3 - "$results" <<'PY'
import json, statistics, sys
# Every repetition of every case; the fastest of each shows the program with
# the least interference from whatever else the machine was doing.
times = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("run_type") == "iteration":
        times.setdefault(b["name"].split("/")[0], []).append(b["real_time"])
cat = min(times["BM_Cat"])
print(f"\nfastest of {len(times['BM_Cat'])} repetitions (median in brackets)")
print(f"cat: {cat:.0f} ms ({statistics.median(times['BM_Cat']):.0f} ms)")
for name, aim in (("BM_ExportSummary", 2), ("BM_ExportCsv", 6), ("BM_ExportCsvDateFromFile", None)):
    if name in times:
        best = min(times[name])
        note = f"  aim: within {aim}" if aim else ""
        print(f"{name}: {best:.0f} ms ({statistics.median(times[name]):.0f} ms), "
              f"{best / cat:.2f} x cat{note}")
PY
