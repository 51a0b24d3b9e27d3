#!/usr/bin/env bash
# Builds every Windows program here, cross-compiled with mingw-w64 from the same
# CMake tree into build-windows/: zirirav-convert.exe (the window), ctl2mdb.exe,
# jet-check.exe, jet-compact.exe, KP.dbd, the portable zip
# zirirav-convert-<version>-win64.zip and the installer
# zirirav-convert-<version>-win64-setup.exe, and the test programs run under
# Wine by scripts/test-windows.sh. Installs what is missing first (Debian 12).
# KP_BUILD_GUI (on) builds the Windows window from app/win32/ there, not Qt.
#
#   bash scripts/build-windows.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-windows}

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
packages=(cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 nsis zip googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DKP_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
ls -1 "$build"/*.exe "$build"/KP.dbd "$build"/*.zip 2>/dev/null | grep -v -E '_tests\.exe$' || true
