#!/usr/bin/env bash
# Demo of the station without hardware: four simulated modules on pseudo-terminals. With a display
# it opens the station's windows on them; without one it runs one full round on all four at once
# with quenby-run, firmware download first. Installs missing Debian packages and builds first
# (needs root on a fresh machine).
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target quenby quenby-run quenby-modsim quenby-demo-files >&2

bin="$PWD/build/bin"
. scripts/demo-env.sh
write_demo_settings
start_sim
trap stop_sim EXIT

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  cat <<TXT
The station opens with four simulated modules on COM 1 to COM 4 (chosen in Torvane.ini).
Three clicks run a round:
  1. Connect   - one window per port
  2. Download  - firmware through the boot ROM, then the test items
  3. watch     - memo, gauge, CNR chart; a green mark per passing module
The day's CSV test log is written beside the program: $bin/Test_Log_<year>.<month>.<day>.csv
Closing the station stops the simulated modules.
TXT
  status=0
  "$bin/quenby" || status=$?
  exit "$status"
fi

status=0
"$bin/quenby-run" || status=$?

log=$(ls -t "$bin"/Test_Log_*.csv 2>/dev/null | head -n 1 || true)
if [ -n "$log" ]; then
  echo
  echo "Test log: $log"
  tail -n 4 "$log"
fi
exit "$status"
