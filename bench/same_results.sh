#!/usr/bin/env bash
# Checks that two builds give the same results, byte for byte:
#  - the logbook: `list --format json` and `show ID --format json` of every
#    flight found in a generated archive (varied days of 0.5 MB, a long
#    cruise across midnights) and in the FlightGear recordings of the tests;
#  - the exporter: every format, with and without --date, of each file.
#   bench/same_results.sh BUILD_BEFORE BUILD_AFTER [FILES]
# FILES (default 300) is the number of generated days. Both builds need
# kestrun-logbook, kestrun-export and, in BUILD_AFTER, the bench programs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
before=$(cd "$1" && pwd)
after=$(cd "$2" && pwd)
files=${3:-300}
work=$(mktemp -d /tmp/kestrun-same.XXXXXX)
trap 'rm -rf "$work"' EXIT

mkdir "$work/archive"
"$after/bench/logbook_files" "$work/archive" folder "$files"
"$after/bench/make_flight" "$work/archive/cruise.dat" 200000
cp "$root"/tests/flights/data/*.dat "$work/archive/"
# The field the generated days start from (47 N 8 E), so that departures and
# arrivals are named, and a few real ones further off.
cat >"$work/airports.csv" <<'CSV'
ident,latitude,longitude,elevation_ft
ZZKE,47.0000,8.0000,1300
LSZH,47.4647,8.5492,1416
LSZB,46.9141,7.4971,1674
LSGG,46.2381,6.1090,1411
LFSB,47.5896,7.5299,885
CSV

results() {  # BUILD OUT
    local logbook="$1/apps/logbook/kestrun-logbook" export="$1/apps/export/kestrun-export"
    mkdir "$2"
    "$logbook" --db "$2.sqlite" scan "$work/archive" --airports "$work/airports.csv" \
        >"$2/scan.txt"
    "$logbook" --db "$2.sqlite" list --format json >"$2/list.json"
    python3 -c 'import json,sys; [print(f["id"]) for f in json.load(open(sys.argv[1]))]' \
        "$2/list.json" | while read -r id; do
        "$logbook" --db "$2.sqlite" show "$id" --format json >"$2/show-$id.json"
    done
    for file in "$work"/archive/*.dat; do
        case $(basename "$file") in day000[0-4].dat|day0123.dat|cruise.dat|flightgear-*) ;; *) continue ;; esac
        for format in csv gpx kml igc svg summary; do
            local name
            name=$(basename "$file" .dat)
            "$export" "$file" -f "$format" >"$2/$name.$format" 2>/dev/null
            "$export" "$file" -f "$format" --date 2024-06-30 >"$2/$name.date.$format" 2>/dev/null
        done
    done
}
results "$before" "$work/before"
results "$after" "$work/after"
if diff -r "$work/before" "$work/after" >"$work/diff" 2>&1; then
    echo "same: $(ls "$work/after" | wc -l) outputs, $(ls "$work/after"/show-*.json | wc -l) flights"
else
    head -40 "$work/diff"
    echo "DIFFERENT"
    exit 1
fi
