#!/usr/bin/env bash
# Builds the release preset and times kestrun-logbook's scan, in a temporary
# folder that is removed at the end. Every case runs once a round, the cases
# in a fresh random order each round; medians of the rounds:
#  - first scan of a folder of N files of 0.5 MB (varied synthetic days),
#    against a first scan of the same bytes as one file;
#  - that one file's first scan against bench/min_export writing its CSV
#    (the least a pass over the records that formats them costs) and `cat`;
#  - a re-scan of the N unchanged files against `stat` of them and one
#    SQLite query listing the logbook's files.
#   bench/logbook_scan.sh [--files N] [--rounds N]
# Targets: folder within 1.3 times one file; one file within 1.3 times
# min_export's CSV; the re-scan within 1.5 times stat and the query.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release -j2 --target logbook_files min_export kestrun-logbook >/dev/null
exec python3 - build/release "$@" <<'PY'
import argparse, os, random, shutil, statistics, subprocess, sys, tempfile, time

parser = argparse.ArgumentParser()
parser.add_argument("build")
parser.add_argument("--files", type=int, default=1000)
parser.add_argument("--rounds", type=int, default=5)
args = parser.parse_args()
logbook = os.path.join(args.build, "apps/logbook/kestrun-logbook")
work = tempfile.mkdtemp(prefix="kestrun-logbook-bench-")
try:
    folder = os.path.join(work, "folder")
    os.mkdir(folder)
    subprocess.run([os.path.join(args.build, "bench/logbook_files"), folder, "folder",
                    str(args.files)], check=True)
    names = sorted(os.listdir(folder))
    one = os.path.join(work, "one.dat")
    with open(one, "wb") as out:
        for name in names:
            with open(os.path.join(folder, name), "rb") as part:
                shutil.copyfileobj(part, out)
    # No airports, so that the scans measure reading and finding flights.
    airports = os.path.join(work, "airports.csv")
    with open(airports, "w") as f:
        f.write("ident,latitude,longitude,elevation_ft\n")
    kept = os.path.join(work, "kept.sqlite")
    subprocess.run([logbook, "--db", kept, "scan", folder, "--airports", airports],
                   check=True, stdout=subprocess.DEVNULL)
    paths = [os.path.join(folder, n) for n in names]

    def fresh(db):
        def clear():
            for suffix in ("", "-wal", "-shm"):
                try:
                    os.remove(db + suffix)
                except FileNotFoundError:
                    pass
        return clear

    def scan(db, what):
        return [logbook, "--db", db, "scan", what, "--airports", airports]

    cases = {
        "folder, first scan": (scan(f"{work}/a.sqlite", folder), fresh(f"{work}/a.sqlite")),
        "one file, first scan": (scan(f"{work}/b.sqlite", one), fresh(f"{work}/b.sqlite")),
        "min_export csv": ([os.path.join(args.build, "bench/min_export"), one, "csv",
                            "2024-06-01"], None),
        "cat": (["cat", one], None),
        "folder, re-scan": (scan(kept, folder), None),
        "stat + query": (["sh", "-c", 'stat -c "%s %Y" "$@" >/dev/null && sqlite3 "$0" '
                          '"SELECT path, size, mtime_ns FROM files" >/dev/null', kept] + paths,
                         None),
    }
    times = {case: [] for case in cases}
    loads = []
    for round_ in range(args.rounds):
        loads.append(os.getloadavg()[0])
        order = list(cases)
        random.shuffle(order)
        for case in order:
            command, before = cases[case]
            if before:
                before()
            start = time.perf_counter()
            subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
            times[case].append(time.perf_counter() - start)
        print(f"round {round_ + 1} of {args.rounds} done", file=sys.stderr)

    med = {case: statistics.median(t) * 1000 for case, t in times.items()}
    size = os.path.getsize(one)
    records = size // 80
    print(f"{len(names)} files, {size / 1e6:.0f} MB, {records} records; {args.rounds} interleaved "
          f"rounds, load average {min(loads):.1f} to {max(loads):.1f}")
    for case, t in times.items():
        print(f"{case:22} {med[case]:8.1f} ms  [{min(t) * 1000:.1f} to {max(t) * 1000:.1f}]  "
              f"{med[case] * 1e6 / records:6.1f} ns a record")
    print(f"folder / one file:        {med['folder, first scan'] / med['one file, first scan']:.2f}"
          "  (target 1.3)")
    print(f"one file / min_export:    {med['one file, first scan'] / med['min_export csv']:.2f}"
          "  (target 1.3)")
    print(f"one file / cat:           {med['one file, first scan'] / med['cat']:.2f}")
    print(f"re-scan / stat + query:   {med['folder, re-scan'] / med['stat + query']:.2f}"
          "  (target 1.5)")
finally:
    shutil.rmtree(work)
PY
