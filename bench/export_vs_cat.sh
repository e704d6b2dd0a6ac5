#!/usr/bin/env bash
# Exports a generated flight of 10 million records (800 MB) to every format,
# with and without --date, beside bench/min_export (the least a program can
# spend writing the same bytes, checked with cmp first) and `cat` of the same
# file, each to /dev/null, to a pipe and to a file, interleaved in a fresh
# random order each round. Prints medians, spread and the ratios to
# min_export of the same format and to cat into the same kind of output.
#   bench/export_vs_cat.sh [--records N] [--rounds N] [--sinks null,pipe,file]
#                          [--formats csv,gpx,kml,svg,summary,igc]
# Target: every text format (csv, gpx, kml, igc) within 1.3 times min_export,
# in constant memory.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release -j2 --target make_flight min_export kestrun-export >/dev/null
exec python3 bench/run_export_vs_cat.py build/release "$@"
