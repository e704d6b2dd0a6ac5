"""Runs the host benchmark; bench/host_scale.sh builds what it needs."""
import argparse, os, shutil, signal, subprocess, sys, tempfile, time

parser = argparse.ArgumentParser()
parser.add_argument("build")
parser.add_argument("--seconds", type=float, default=10)
parser.add_argument("--clients", default="1,16,64,256,1024")
parser.add_argument("--rates", default="1,50")
parser.add_argument("--opening", type=int, default=2000)
args = parser.parse_args()

host_bin = os.path.join(args.build, "apps/host/kestrun-host")
load_bin = os.path.join(args.build, "bench/host_load")
echo_bin = os.path.join(args.build, "bench/echo_server")
tick = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / tick


def rss_kib(pid):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def start_server(kind, env):
    runtime = os.path.join(env["XDG_RUNTIME_DIR"], "kestrun")
    if kind == "host":
        server = subprocess.Popen([host_bin], env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
    else:
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        os.makedirs(os.path.join(runtime, "atoms"), mode=0o700, exist_ok=True)
        server = subprocess.Popen([echo_bin, os.path.join(runtime, "HOSTMAIN")], env=env)
    deadline = time.time() + 10
    while not os.path.exists(os.path.join(runtime, "HOSTMAIN")):
        if time.time() > deadline:
            sys.exit(f"{kind} did not start")
        time.sleep(0.02)
    time.sleep(0.2)
    return server


def run(kind, clients, rate, seconds, processes):
    work = tempfile.mkdtemp(prefix="kestrun-scale-")
    env = dict(os.environ, XDG_RUNTIME_DIR=work)
    server = start_server(kind, env)
    try:
        rss_before = rss_kib(server.pid)
        mode = "link" if kind == "host" else "raw"
        load = subprocess.Popen([load_bin, mode, str(clients), str(rate), str(seconds),
                                 str(processes)], env=env, stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        load.stdout.readline()  # "ready": every recorder is open
        rss_open = rss_kib(server.pid)
        cpu_before = cpu_seconds(server.pid)
        load.stdin.write("go\n")
        load.stdin.flush()
        line = load.stdout.readline().split()
        cpu = cpu_seconds(server.pid) - cpu_before
        load.wait()
        result = dict(zip(line[0::2], line[1::2]))
        result["server_cpu_s"] = cpu
        result["rss_per_client_kib"] = (rss_open - rss_before) / clients
        result["rss_kib"] = rss_open
        return result
    finally:
        server.send_signal(signal.SIGTERM)
        server.wait()
        shutil.rmtree(work, ignore_errors=True)


print(f"{args.seconds:g} s per case; latency in microseconds; CPU per exchange in microseconds "
      "(server's user + system time over the exchanges); resident memory per client in KiB")
print(f"{'rate':>4} {'clients':>7} {'server':6} {'p50':>7} {'p99':>8} {'max':>8} "
      f"{'cpu/ex':>7} {'vs echo':>7} {'KiB/cl':>7} {'exchanges':>9} {'failed':>6}")
for rate in [float(r) for r in args.rates.split(",")]:
    for clients in [int(c) for c in args.clients.split(",")]:
        # One process per recorder, as recorders are: a link names its block
        # after its process, so a process holds one link.
        processes = clients
        echo_cpu = None
        for kind in ("echo", "host"):
            r = run(kind, clients, rate, args.seconds, processes)
            exchanges = int(r["exchanges"])
            per = r["server_cpu_s"] / exchanges * 1e6 if exchanges else float("nan")
            if kind == "echo":
                echo_cpu = per
            ratio = per / echo_cpu if kind == "host" and echo_cpu else float("nan")
            print(f"{rate:4g} {clients:7} {kind:6} {float(r['p50_us']):7.1f} "
                  f"{float(r['p99_us']):8.1f} {float(r['max_us']):8.1f} {per:7.1f} "
                  f"{ratio:7.2f} {r['rss_per_client_kib']:7.1f} {exchanges:9} "
                  f"{int(r['failed']) + int(r['failed_opens']):6}", flush=True)

if args.opening:
    # Recorder processes all opening their links at once.
    r = run("host", args.opening, 1, 0, args.opening)
    print(f"\n{args.opening} recorders opening at once: "
          f"{r['opens']} opens, {r['failed_opens']} failed, all open after {r['all_open_s']} s, "
          f"slowest single open {r['slowest_open_s']} s; host resident memory {r['rss_kib']} KiB")
