#!/usr/bin/env bash
# scripts/screenshots.sh DIR: pictures of the station for review, without hardware. Four simulated
# modules, one passing round through Download, then DIR/station.png (main window and four port
# windows) and DIR/about.png. Runs under a virtual display (xvfb-run). Then DIR/report.png: the
# report of the day's test log in headless Chromium (installed here when missing).
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: scripts/screenshots.sh DIR" >&2; exit 2; }
out=$(realpath -m "$1")
cd "$(dirname "$0")/.."

./scripts/install-deps.sh >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target quenby-screenshots quenby-modsim quenby-demo-files >&2

bin="$PWD/build/bin"
. scripts/demo-env.sh
write_demo_settings
start_sim
trap stop_sim EXIT

mkdir -p "$out"
xvfb-run -a -s "-screen 0 1280x1024x24" "$bin/quenby-screenshots" "$out"
echo "Pictures in $out" >&2

# The report of the round's test log (today's), as a browser shows it.
cmake --build build -j "$(nproc)" --target quenby-report >&2
today=$(date +%Y-%m-%d)
"$bin/quenby-report" --from "$today" --to "$today" --out "$out/report.html" >&2
if ! command -v chromium >/dev/null && [ "$(id -u)" -eq 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends chromium >/dev/null
fi
sandbox=(); [ "$(id -u)" -eq 0 ] && sandbox=(--no-sandbox)
chromium --headless "${sandbox[@]}" --disable-gpu --hide-scrollbars --window-size=1100,1800 \
  --screenshot="$out/report.png" "file://$out/report.html" >/dev/null 2>&1
echo "Report picture in $out/report.png" >&2
