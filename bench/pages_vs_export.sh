#!/usr/bin/env bash
# Builds the release preset and times writing the logbook page of a ten-hour
# flight (36 010 records) against exporting the same flight to GPX, in a
# temporary folder that is removed at the end. Every case runs once a round,
# the cases in a fresh random order each round; medians of the rounds, wall
# and CPU time:
#  - `kestrun-logbook html ID --output FILE`, the flight's page;
#  - `kestrun-logbook show ID --format json`, the same flight's entry: what
#    opening the logbook and reading the flight cost any command;
#  - `kestrun-export FILE --format gpx --date D --output FILE`.
#   bench/pages_vs_export.sh [--rounds N]
# The logbook holds the runways the scan imports by default (FlightGear's
# airports, when installed), as a pilot's does. Target: the page within 2
# times the GPX export.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release -j2 --target write_synthetic_flights kestrun-logbook \
    kestrun-export >/dev/null
exec python3 bench/run_pages_vs_export.py build/release "$@"
