#!/usr/bin/env bash
# Runs every benchmark program the build made (build/bin/bench_*).
set -euo pipefail
build=${1:-build}
shopt -s nullglob
export PRINTORBD="$build/bin/printorbd"  # the daemon bench_backlog runs
benches=("$build"/bin/bench_*)
if ((${#benches[@]} == 0)); then echo "No benchmarks built yet."; exit 0; fi
for b in "${benches[@]}"; do echo "== $(basename "$b")"; QT_QPA_PLATFORM=offscreen "$b"; done
