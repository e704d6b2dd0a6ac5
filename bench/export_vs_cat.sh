#!/usr/bin/env bash
# Builds the release preset, exports a generated file of 10 million records
# (800 MB; KESTRUN_BENCH_RECORDS changes the count) to csv and to summary
# beside `cat FILE > /dev/null`, and prints how many times cat's time each
# export takes. Aims: summary within 2, csv within 6.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release -j2 --target export_vs_cat kestrun-export >/dev/null

results=$(mktemp)
trap 'rm -f "$results"' EXIT
build/release/bench/export_vs_cat --benchmark_out="$results" --benchmark_out_format=json "$@"

python3 - "$results" <<'PY'
import json, sys
runs = {b["name"].split("/")[0]: b["real_time"] for b in json.load(open(sys.argv[1]))["benchmarks"]
        if b.get("run_type", "iteration") == "iteration"}
cat = runs["BM_Cat"]
print(f"\ncat: {cat:.0f} ms")
for name, aim in (("BM_ExportSummary", 2), ("BM_ExportCsv", 6), ("BM_ExportCsvDateFromFile", None)):
    if name in runs:
        ratio = runs[name] / cat
        note = f" (aim: within {aim})" if aim else ""
        print(f"{name}: {runs[name]:.0f} ms, {ratio:.2f} x cat{note}")
PY
