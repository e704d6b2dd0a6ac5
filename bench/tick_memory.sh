#!/usr/bin/env bash
# Records for SECONDS (default 600) with kestrun-record and with the window
# (bench/recorder_clicked.cpp: kestrun-recorder with its two clicks made by
# the program, offscreen), all at once against one kestrun-host, beside a bare
# C ticker (bench/bare_ticker.c), a bare Qt window (bench/bare_window.cpp) and
# an idle kestrun-recorder on the same platform plugin. Prints the interval
# between consecutive record writes (p50, p99, max) and the drift of the
# written clock against the wall clock, from strace's time stamps of each
# write; wake-ups a second and peak resident memory of each program.
#   bench/tick_memory.sh [SECONDS]
# Targets: p99 within 2 ms of one second, no drift; one wake-up a second while
# recording, none while the window is idle; window at most 1.1 times the bare
# window, kestrun-record at most 2 times the bare ticker.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release -j2 --target kestrun-host kestrun-record kestrun-recorder \
    recorder_clicked bare_ticker bare_window >/dev/null
exec python3 bench/run_tick_memory.py build/release "${1:-600}"
