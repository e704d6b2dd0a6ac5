#!/usr/bin/env bash
# One kestrun-host serving 1 to 1024 recorders at once at 1 and 50 exchanges a
# second each, beside bench/echo_server.c (a minimal epoll server of the same
# frames over the same sockets) under the same load in the same run: exchange
# latency p50/p99, server CPU per exchange, server memory per client; then
# 2000 recorders opening at once against the host.
#   bench/host_scale.sh [--seconds S] [--clients 1,16,64,256,1024] [--rates 1,50]
#                       [--opening N]
# Targets: host CPU per exchange at most 2 times the echo server's at 256
# recorders and 50 Hz, p99 under 1 ms there; p99 under 10 ms for 1024 at
# 1 Hz; all 2000 recorders open within 10 s.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release -j2 --target kestrun-host host_load echo_server >/dev/null
ulimit -n "$(ulimit -Hn)"
exec python3 bench/run_host_scale.py build/release "$@"
