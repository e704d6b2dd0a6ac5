"""Runs the pages benchmark; bench/pages_vs_export.sh builds what it needs."""
import argparse, json, os, random, shutil, statistics, subprocess, sys, tempfile, time

parser = argparse.ArgumentParser()
parser.add_argument("build")
parser.add_argument("--rounds", type=int, default=7)
args = parser.parse_args()

logbook = os.path.join(args.build, "apps/logbook/kestrun-logbook")
exporter = os.path.join(args.build, "apps/export/kestrun-export")
DATE = "2024-06-03"
work = tempfile.mkdtemp(prefix="kestrun-pages-bench-")
try:
    subprocess.run([os.path.join(args.build, "tests/support/write_synthetic_flights"), work],
                   check=True, stdout=subprocess.DEVNULL)
    flight = os.path.join(work, "long.dat")
    db = os.path.join(work, "logbook.sqlite")
    subprocess.run([logbook, "--db", db, "scan", flight, "--date", DATE], check=True,
                   stdout=subprocess.DEVNULL)
    [entry] = json.loads(subprocess.run([logbook, "--db", db, "list", "--format", "json"],
                                        check=True, capture_output=True).stdout)
    flight_id = str(entry["id"])
    page = os.path.join(work, "page.html")
    gpx = os.path.join(work, "flight.gpx")
    cases = {
        "page (html ID)": [logbook, "--db", db, "html", flight_id, "--output", page],
        "entry (show ID)": [logbook, "--db", db, "show", flight_id, "--format", "json"],
        "gpx export": [exporter, flight, "--format", "gpx", "--date", DATE, "--output", gpx],
    }
    walls = {case: [] for case in cases}
    cpus = {case: [] for case in cases}
    loads = []
    for round_ in range(args.rounds):
        loads.append(os.getloadavg()[0])
        order = list(cases)
        random.shuffle(order)
        for case in order:
            start = time.perf_counter()
            child = subprocess.Popen(cases[case], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
            _, status, usage = os.wait4(child.pid, 0)
            walls[case].append(time.perf_counter() - start)
            cpus[case].append(usage.ru_utime + usage.ru_stime)
            if status != 0:
                sys.exit(f"failed: {' '.join(cases[case])}")
        print(f"round {round_ + 1} of {args.rounds} done", file=sys.stderr)

    wall = {case: statistics.median(t) * 1000 for case, t in walls.items()}
    cpu = {case: statistics.median(t) * 1000 for case, t in cpus.items()}
    print(f"{os.path.getsize(flight) // 80} records; page "
          f"{os.path.getsize(page)} bytes, GPX {os.path.getsize(gpx)} bytes, logbook "
          f"{os.path.getsize(db)} bytes; {args.rounds} interleaved rounds, load average "
          f"{min(loads):.1f} to {max(loads):.1f}")
    for case in cases:
        print(f"{case:16} wall {wall[case]:7.1f} ms [{min(walls[case]) * 1000:.1f} to "
              f"{max(walls[case]) * 1000:.1f}]  cpu {cpu[case]:6.1f} ms")
    print(f"page / gpx:              wall {wall['page (html ID)'] / wall['gpx export']:.2f}  "
          f"cpu {cpu['page (html ID)'] / cpu['gpx export']:.2f}  (target 2)")
    print(f"(page - entry) / gpx:    wall "
          f"{(wall['page (html ID)'] - wall['entry (show ID)']) / wall['gpx export']:.2f}  cpu "
          f"{(cpu['page (html ID)'] - cpu['entry (show ID)']) / cpu['gpx export']:.2f}")
finally:
    shutil.rmtree(work)
