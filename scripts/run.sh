#!/usr/bin/env bash
# Builds the program and starts it. With a display it opens the window (load
# samples/kp-sample/DEFAULT.CTL to try it); without one it converts the sample
# document on the command line and says where the database went.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

sample="samples/kp-sample/DEFAULT.CTL"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/zirirav-convert ]; then
  echo "Starting the window. To try it, load $sample"
  exec build/zirirav-convert
fi
out="build/kp-sample.mdb"
rm -f "$out"
build/ctl2mdb --list "$sample"
echo
build/ctl2mdb "$sample" "$out"
echo "No display: converted $sample into $out"
