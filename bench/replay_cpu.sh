#!/usr/bin/env bash
# The CPU time kestrun-replay takes to send a flight, at 30 and at 120
# datagrams a second: builds the release preset, generates a circling flight
# of SECONDS records (default 20), replays it once at each rate at the
# recorded speed to a UDP sink on this machine, and prints the CPU seconds
# used per second of replay. CPU time, unlike wall time, means something on a
# loaded machine too.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}

cmake --preset release >/dev/null
cmake --build --preset release -j2 --target kestrun-replay >/dev/null

work=$(mktemp -d)
sink=
trap '[[ -n $sink ]] && kill "$sink" 2>/dev/null; rm -rf "$work"' EXIT

python3 - "$work/flight.dat" "$seconds" <<'PY'
import math, struct, sys
# The recorder's 80-byte records in the host's units: a circle at cruise.
with open(sys.argv[1], "wb") as out:
    for i in range(int(sys.argv[2]) + 1):
        t = 36000 + i
        lat, lon, alt = 47 + 0.01 * math.sin(i / 60), 8 + 0.01 * math.cos(i / 60), 900 + i
        words = (round(lat * 10001750 * 2**32 / 90), round(lon / 360 * 2**64),
                 0, math.floor(alt), round(-3 / 360 * 2**32), round(-20 / 360 * 2**32),
                 round((i * 6 % 360) / 360 * 2**32), 0, 95 * 128)
        out.write(struct.pack("<7hqqIiiiIIi22x", 8, 0, 1, 0, t // 3600, t // 60 % 60, t % 60,
                              *words))
PY
# A sink that reads whatever comes, as FlightGear would, on a port the system
# picks: a fixed one may be taken, and datagrams to a closed port fail.
python3 -c "
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(('127.0.0.1', 0))
print(s.getsockname()[1], flush=True)
sys.stdout.close()
while True: s.recv(2048)" >"$work/port" &
sink=$!
while [[ ! -s $work/port ]]; do kill -0 "$sink" || exit 1; sleep 0.05; done
port=$(<"$work/port")

TIMEFORMAT='%U %S %R'
for rate in 30 120; do
    times=$({ time build/release/apps/replay/kestrun-replay "$work/flight.dat" \
        --flightgear "$port" --rate "$rate" >/dev/null; } 2>&1)
    read -r user sys real <<<"$times"
    awk -v r="$rate" -v u="$user" -v s="$sys" -v w="$real" 'BEGIN {
        printf "%3d datagrams/s: %.3f s user + %.3f s system over %.1f s = %.2f%% of one core\n",
               r, u, s, w, 100 * (u + s) / w }'
done
