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
demo="$bin/demo"

# A demo settings file beside the program, unless the operator has one there already: every
# offered item, the demo Download Agent and ROM, the version text the demo ROM carries.
if [ ! -f "$bin/Torvane.ini" ]; then
  cat > "$bin/Torvane.ini" <<INI
[System]
ComSelect=1,2,3,4,
Baudrate_NMEA=38400
Baudrate_Update=1
Enable_Test=12383
[Basic]
FlashDownload_DA_Path=$demo/demo.da
FlashDownload_ROM_Path=$demo/demo.bin
Version_MTK=QNB-DEMO_2.1
Version_Customer=0042
Version_Product_Model=QZ3329
Version_SDKver=SDK1.3
Version_Timeout=10
NMEA_Timeout=10
INI
  echo "Wrote the demo settings $bin/Torvane.ini" >&2
fi
cp -f "$demo/scat.txt" "$bin/scat.txt"

# Four simulated modules, linked as ports/COM1 .. ports/COM4 beside the program.
sim_out=$(mktemp)
"$bin/quenby-modsim" --ports-dir "$bin/ports" --com 1-4 --scenario docs/demo-scenario.ini \
  >"$sim_out" 2>&1 &
sim=$!
stop_sim() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  rm -f "$sim_out"
}
trap stop_sim EXIT
for _ in $(seq 1 100); do
  grep -q '^ready$' "$sim_out" && break
  kill -0 "$sim" 2>/dev/null || { cat "$sim_out" >&2; exit 1; }
  sleep 0.1
done

status=0
"$bin/quenby-run" || status=$?

log=$(ls -t "$bin"/Test_Log_*.csv 2>/dev/null | head -n 1 || true)
if [ -n "$log" ]; then
  echo
  echo "Test log: $log"
  tail -n 4 "$log"
fi
exit "$status"
