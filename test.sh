#!/usr/bin/env bash
# Builds Quenby and runs every test: the normal build (g++), then the non-GUI targets again with
# AddressSanitizer + UndefinedBehaviorSanitizer (clang), including short runs of the fuzz targets.
# Installs missing Debian packages first (needs root on a fresh machine).
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

jobs=$(nproc)

echo "== Build (g++) =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ >/dev/null
cmake --build build -j "$jobs"
echo "== Tests =="
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== Build (clang, AddressSanitizer + UndefinedBehaviorSanitizer, fuzz targets) =="
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DQUENBY_GUI=OFF -DQUENBY_FUZZ=ON -DQUENBY_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j "$jobs"
echo "== Tests under AddressSanitizer + UndefinedBehaviorSanitizer =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== Build (clang, ThreadSanitizer: the threaded tests) =="
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DQUENBY_GUI=OFF -DQUENBY_SANITIZE=thread >/dev/null
cmake --build build-tsan -j "$jobs" --target quenby_thread_tests
echo "== Threaded tests under ThreadSanitizer =="
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -L threaded
