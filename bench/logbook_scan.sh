#!/usr/bin/env bash
# Builds the release preset and times kestrun-logbook's scan, fastest of five
# runs each, in a temporary folder that is removed at the end:
#  - a scan of 1000 unchanged files (10 records each, already in the logbook);
#  - a first scan of 1 GB of new records (one appended file, about 13.4
#    million records of synthetic flights) beside `cat FILE > /dev/null`.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release -j2 --target logbook_files kestrun-logbook >/dev/null
build=build/release
work=$(mktemp -d /tmp/kestrun-logbook-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/many"
"$build/bench/logbook_files" "$work/many" many
"$build/bench/logbook_files" "$work" big
logbook="$build/apps/logbook/kestrun-logbook"
# No airports, so that the scans measure reading and finding flights; the
# one-time import of FlightGear's airport list, when installed, is timed apart.
echo "ident,latitude,longitude,elevation_ft" >"$work/airports.csv"
mkdir "$work/none"
"$logbook" --db "$work/many.sqlite" scan "$work/many" --airports "$work/airports.csv" >/dev/null

python3 - "$logbook" "$work" <<'PY'
import os, subprocess, sys, time
logbook, work = sys.argv[1], sys.argv[2]

def fastest(command, before=None, runs=5):
    best = None
    for _ in range(runs):
        if before:
            before()
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        took = time.perf_counter() - start
        best = took if best is None else min(best, took)
    return best

def fresh_logbook():
    for suffix in ("", "-wal", "-shm"):
        try:
            os.remove(f"{work}/big.sqlite{suffix}")
        except FileNotFoundError:
            pass

big = f"{work}/big.dat"
size = os.path.getsize(big)
airports = ["--airports", f"{work}/airports.csv"]
unchanged = fastest([logbook, "--db", f"{work}/many.sqlite", "scan", f"{work}/many"] + airports)
cat = fastest(["sh", "-c", f"cat '{big}' > /dev/null"])
scan = fastest([logbook, "--db", f"{work}/big.sqlite", "scan", big] + airports,
               before=fresh_logbook)
print(f"1000 unchanged files: {unchanged * 1000:.0f} ms")
print(f"cat of {size / 1e9:.2f} GB: {cat * 1000:.0f} ms")
print(f"first scan of the same file: {scan * 1000:.0f} ms, {scan / cat:.1f} x cat, "
      f"{size / scan / 1e6:.0f} MB/s")
if os.path.exists("/usr/share/games/flightgear/Airports/apt.dat.gz") or os.environ.get("FG_ROOT"):
    imported = fastest([logbook, "--db", f"{work}/big.sqlite", "scan", f"{work}/none"],
                       before=fresh_logbook, runs=3)
    print(f"importing FlightGear's airport list into a new logbook: {imported * 1000:.0f} ms")
PY
