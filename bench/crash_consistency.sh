#!/usr/bin/env bash
# The long crash-consistency run: SIGKILLs kestrun-record KILLS times (default
# 300) at random moments while it records fresh and appended files from a
# real kestrun-host, checking every record after every kill. Prints the
# figures and the seed that repeats the run (KESTRUN_CRASH_SEED=N).
set -euo pipefail
cd "$(dirname "$0")/.."

kills=${1:-300}
cmake --preset default >/dev/null
cmake --build --preset default -j 2 --target crash_consistency_test kestrun-record kestrun-host

log=$(mktemp)
trap 'rm -f "$log"' EXIT
start=$(date +%s)
status=0
KESTRUN_CRASH_KILLS=$kills build/default/tests/integration/crash_consistency_test \
    --gtest_brief=1 >"$log" 2>&1 || status=$?
grep -E 'kills|Failure|seed|FAILED' "$log" || cat "$log"
echo "took $(($(date +%s) - start)) s"
exit "$status"
