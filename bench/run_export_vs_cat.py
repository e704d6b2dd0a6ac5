"""Runs the export benchmark; bench/export_vs_cat.sh builds what it needs."""
import argparse, os, random, resource, shutil, statistics, subprocess, sys, tempfile, time

parser = argparse.ArgumentParser()
parser.add_argument("build")
parser.add_argument("--records", type=int, default=10_000_000)
parser.add_argument("--rounds", type=int, default=5)
parser.add_argument("--sinks", default="null,pipe,file")
parser.add_argument("--formats", default="csv,gpx,kml,svg,summary,igc")
args = parser.parse_args()

exporter = os.path.join(args.build, "apps/export/kestrun-export")
minimal = os.path.join(args.build, "bench/min_export")
DATE = "2024-06-01"
TEXT_FORMATS = ("csv", "gpx", "kml", "igc")  # the ones min_export writes
work = tempfile.mkdtemp(prefix="kestrun-bench-")
flight = os.path.join(work, "flight.dat")
output = os.path.join(work, "out")
print(f"writing {args.records} records to {flight}", file=sys.stderr)
subprocess.run([os.path.join(args.build, "bench/make_flight"), flight, str(args.records)], check=True)

# The yardstick counts only if it writes the exporter's bytes exactly.
for fmt in args.formats.split(","):
    if fmt not in TEXT_FORMATS:
        continue
    with open(output + ".a", "wb") as a, open(output + ".b", "wb") as b:
        subprocess.run([exporter, flight, "-f", fmt, "--date", DATE], stdout=a, check=True,
                       stderr=subprocess.DEVNULL)
        subprocess.run([minimal, flight, fmt, DATE], stdout=b, check=True)
    if subprocess.run(["cmp", output + ".a", output + ".b"]).returncode != 0:
        sys.exit(f"min_export {fmt} differs from kestrun-export")
    os.unlink(output + ".a")
    os.unlink(output + ".b")
print("min_export writes the exporter's bytes for every text format", file=sys.stderr)


# A child's peak resident size as wait4() reports it includes the memory of
# the process it was spawned from (the kernel keeps the high-water mark across
# exec), which here is this Python; GNU time's own child starts small.
peak_file = os.path.join(work, "peak")
timer = ["/usr/bin/time", "-f", "%M", "-o", peak_file] if os.access("/usr/bin/time", os.X_OK) else []


def run(command, sink):
    """Wall seconds, CPU seconds and peak resident KiB of one run."""
    command = timer + command
    start = time.perf_counter()
    if sink == "pipe":
        child = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        fd = child.stdout.fileno()
        while os.read(fd, 1 << 20):
            pass
    else:
        target = open(os.devnull if sink == "null" else output, "wb")
        child = subprocess.Popen(command, stdout=target, stderr=subprocess.DEVNULL)
        target.close()
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = 0
    if status != 0:
        sys.exit(f"failed ({status}): {' '.join(command)}")
    if sink == "file":
        os.unlink(output)
    peak = float(open(peak_file).read().split()[-1]) if timer else float("nan")
    return wall, usage.ru_utime + usage.ru_stime, peak


cases = {}
for sink in args.sinks.split(","):
    cases[("cat", sink)] = ["cat", flight]
    for fmt in args.formats.split(","):
        if fmt in TEXT_FORMATS:
            cases[(f"min {fmt}", sink)] = [minimal, flight, fmt, DATE]
        cases[(f"{fmt} --date", sink)] = [exporter, flight, "-f", fmt, "--date", DATE]
        cases[(fmt, sink)] = [exporter, flight, "-f", fmt]

results = {case: [] for case in cases}
try:
    for round_ in range(args.rounds):
        order = list(cases)
        random.shuffle(order)
        for case in order:
            results[case].append(run(cases[case], case[1]))
        print(f"round {round_ + 1} of {args.rounds} done", file=sys.stderr)
finally:
    shutil.rmtree(work)

print(f"{args.records} records, {args.rounds} interleaved rounds; median wall time [min-max], "
      "ratio of medians to min_export of the same format and to cat into the same output, "
      "CPU time, peak resident memory")
print(f"{'case':16} {'output':5} {'wall ms':>8} {'spread ms':>13} {'x min':>6} {'x cat':>6} "
      f"{'cpu ms':>7} {'peak MiB':>8}")


def median_wall(case):
    return statistics.median(r[0] * 1000 for r in results[case])


for case, runs in results.items():
    walls = [r[0] * 1000 for r in runs]
    wall = statistics.median(walls)
    fmt = case[0].split()[-1] if case[0].startswith("min ") else case[0].split()[0]
    yardstick = ("min " + fmt, case[1])
    vs_min = f"{wall / median_wall(yardstick):6.2f}" if yardstick in results else f"{'':6}"
    cpu = statistics.median(r[1] * 1000 for r in runs)
    peak = max(r[2] for r in runs) / 1024
    print(f"{case[0]:16} {case[1]:5} {wall:8.0f} {min(walls):6.0f}-{max(walls):<6.0f} "
          f"{vs_min} {wall / median_wall(('cat', case[1])):6.2f} {cpu:7.0f} {peak:8.1f}")
