#!/usr/bin/env bash
# Builds the Debian package of a line PC: build/quenby_<version>_<arch>.deb (the release build of
# every program, stripped). Installs missing Debian packages first (needs root on a fresh machine).
#   sudo apt-get install ./build/quenby_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
(cd build && cpack -G DEB >/dev/null)
deb=$(ls -t build/quenby_*.deb | head -n 1)
echo "$deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,/Description:/p'
