#!/usr/bin/env bash
# Demo of the station without hardware: four simulated modules on pseudo-terminals, one full
# round on all four at once with quenby-run, firmware download first. Installs missing Debian
# packages and builds first (needs root on a fresh machine).
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target quenby-run quenby-modsim quenby-demo-files >&2

bin="$PWD/build/bin"
. scripts/demo-env.sh
write_demo_settings
start_sim
trap stop_sim EXIT

status=0
"$bin/quenby-run" || status=$?

log=$(ls -t "$bin"/Test_Log_*.csv 2>/dev/null | head -n 1 || true)
if [ -n "$log" ]; then
  echo
  echo "Test log: $log"
  tail -n 4 "$log"
fi
exit "$status"
