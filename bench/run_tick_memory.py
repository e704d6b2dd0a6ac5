"""Runs the tick and memory measurement; bench/tick_memory.sh builds what it needs."""
import glob, os, re, shutil, signal, statistics, struct, subprocess, sys, tempfile, time

build, seconds = sys.argv[1], int(sys.argv[2])
work = tempfile.mkdtemp(prefix="kestrun-tick-")
runtime = os.path.join(work, "run")
os.makedirs(runtime, mode=0o700)
base_env = dict(os.environ, XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="offscreen")


def env_for(name):
    """An environment whose settings file names work/<name>.dat."""
    config = os.path.join(work, "config-" + name)
    os.makedirs(config)
    with open(os.path.join(config, "KestrunFlightRecorder.ini"), "w") as f:
        f.write(f"[OutputFile]\r\n{os.path.join(work, name + '.dat')}\r\n")
    return dict(base_env, XDG_CONFIG_HOME=config, HOME=work)


def exe(path):
    return os.path.join(build, path)


def trace(name):
    # With the seccomp filter only the traced writes stop the program; without
    # it every system call of an exchange waits for strace, which shows up as
    # milliseconds of jitter in the recorders' ticks but not in the ticker's.
    return ["strace", "--seccomp-bpf", "-ttt", "-f", "-e", "trace=pwrite64", "-o",
            os.path.join(work, name + ".trace")]


host = subprocess.Popen([exe("apps/host/kestrun-host")], env=base_env, stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL)
while not os.path.exists(os.path.join(runtime, "kestrun", "HOSTMAIN")):
    time.sleep(0.05)
time.sleep(0.2)

record = [exe("apps/record/kestrun-record"), "--seconds", str(seconds)]
clicked = [exe("bench/recorder_clicked"), str(seconds)]
programs = {
    # name: (command, measured for memory and wake-ups)
    "record-traced": (trace("record-traced") + record, False),
    # The machine's own timing on the same load: the bare ticker, traced alike.
    "ticker-traced": (trace("ticker-traced") + [exe("bench/bare_ticker"),
                                                os.path.join(work, "ticker-traced.dat"),
                                                str(seconds)], False),
    "window-traced": (trace("window-traced") + clicked, False),
    "kestrun-record": (record, True),
    "bare-ticker": ([exe("bench/bare_ticker"), os.path.join(work, "bare-ticker.dat"), str(seconds)], True),
    "window-recording": (clicked, True),
    "window-idle": ([exe("apps/recorder/kestrun-recorder")], True),
    "bare-window": ([exe("bench/bare_window"), str(seconds)], True),
}
running = {name: subprocess.Popen(command, env=env_for(name), stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
           for name, (command, _) in programs.items()}
started = time.time()


def sample(pid):
    """Peak and current resident KiB, proportional and private KiB, and
    context switches of all threads."""
    status = open(f"/proc/{pid}/status").read()
    hwm = int(re.search(r"VmHWM:\s+(\d+)", status).group(1))
    rss = int(re.search(r"VmRSS:\s+(\d+)", status).group(1))
    rollup = open(f"/proc/{pid}/smaps_rollup").read()
    pss = int(re.search(r"^Pss:\s+(\d+)", rollup, re.M).group(1))
    private = sum(int(v) for v in re.findall(r"^Private_\w+:\s+(\d+)", rollup, re.M))
    switches = 0
    for task in glob.glob(f"/proc/{pid}/task/*/status"):
        text = open(task).read()
        switches += sum(int(v) for v in re.findall(r"ctxt_switches:\s+(\d+)", text))
    return hwm, rss, switches, time.time(), pss, private


measured = [name for name, (_, m) in programs.items() if m]
time.sleep(15)
first = {name: sample(running[name].pid) for name in measured}
time.sleep(max(1, seconds - 20))
last = {name: sample(running[name].pid) for name in measured}
running["window-idle"].send_signal(signal.SIGTERM)
for p in running.values():
    p.wait()
host.send_signal(signal.SIGTERM)
host.wait()

print(f"{seconds} s of recording, all programs at once; offscreen Qt")
print("peak and current resident memory; PSS shares each shared library page among the "
      "processes that map it; private is the program's own")
print(f"{'program':18} {'peak KiB':>9} {'RSS KiB':>8} {'PSS KiB':>8} {'private':>8} {'wake-ups/s':>10}")
for name in measured:
    a, b = first[name], last[name]
    print(f"{name:18} {b[0]:9} {b[1]:8} {b[4]:8} {b[5]:8} {(b[2] - a[2]) / (b[3] - a[3]):10.2f}")
print(f"kestrun-record / bare ticker peak: {last['kestrun-record'][0] / last['bare-ticker'][0]:.2f}; "
      f"window recording / bare window: {last['window-recording'][0] / last['bare-window'][0]:.2f}; "
      f"idle window / bare window: {last['window-idle'][0] / last['bare-window'][0]:.2f}")

line = re.compile(r"^(?:\d+\s+)?(\d+\.\d+) pwrite64\(\d+, .*, 80, (\d+)\) = 80")
for name in ("ticker-traced", "record-traced", "window-traced"):
    writes = []
    for text in open(os.path.join(work, name + ".trace")):
        m = line.match(text)
        if m:
            writes.append((float(m.group(1)), int(m.group(2))))
    data = open(os.path.join(work, name + ".dat"), "rb").read()
    intervals = [b[0] - a[0] for a, b in zip(writes, writes[1:])]
    deviation = sorted(abs(i - 1) * 1000 for i in intervals)
    offsets = []
    for when, at in writes:
        hour, minute, second = struct.unpack_from("<hhh", data, at + 8)
        local = time.localtime(when)
        wall = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec + (when % 1)
        offsets.append((wall - (hour * 3600 + minute * 60 + second)) % 86400)
    span = writes[-1][0] - writes[0][0]
    print(f"\n{name}: {len(writes)} writes; interval p50 {statistics.median(intervals) * 1000:.2f} ms, "
          f"p99 {sorted(intervals)[int(0.99 * len(intervals))] * 1000:.2f} ms, "
          f"max {max(intervals) * 1000:.2f} ms; |interval - 1 s| p99 "
          f"{deviation[int(0.99 * len(deviation))]:.2f} ms, max {deviation[-1]:.2f} ms")
    print(f"  schedule drift over {span:.0f} s: {(span - (len(writes) - 1)) * 1000:+.2f} ms; "
          f"wall clock minus written clock from {min(offsets):.3f} to {max(offsets):.3f} s "
          f"(first {offsets[0]:.3f}, last {offsets[-1]:.3f})")
shutil.rmtree(work)
