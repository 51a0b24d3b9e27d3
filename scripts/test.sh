#!/usr/bin/env bash
# Builds everything and runs every test: first a normal build (build/), then
# the non-GUI code again with AddressSanitizer and UBSan (build-asan/), then a
# short run of each fuzz target (build-fuzz/), then the Windows programs under
# Wine (build-windows/). As root it also builds, installs,
# tries and removes the Debian package.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
# Every build goes through the compiler cache, so a second run is quick.
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
# The Debian package: install, convert as a user without root, remove.
bash scripts/package_test.sh

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKP_SANITIZE=ON \
  -DKP_BUILD_GUI=OFF -DKP_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

# A short run of every fuzz target (clang, libFuzzer): about a minute in all.
bash scripts/fuzz.sh 15

# The Windows programs: cross-built with mingw-w64 (build-windows/) and tested
# under Wine against the Linux build's output.
bash scripts/test-windows.sh build-windows build
