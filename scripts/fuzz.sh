#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer + ASan + UBSan) in build-fuzz/
# and runs each for SECONDS (default 15), or only the TARGETs named
# (control_file control_string jet_file compact).
#   bash scripts/fuzz.sh            # the smoke run of the test command
#   bash scripts/fuzz.sh 3600 jet_file
# The corpus grows in build-fuzz/corpus/<target>/ from run to run; a finding
# is written to build-fuzz/findings/<target>/ and fails the run. Keep it as a
# regression case in fuzz/regressions/<target>/ once it is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-15}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(control_file control_string jet_file compact)

export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-$(command -v ccache || true)}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DKP_FUZZ=ON \
  -DKP_BUILD_GUI=OFF -DKP_BUILD_TESTS=OFF -DKP_BUILD_BENCH=OFF >/dev/null
exes=()
for t in "${targets[@]}"; do exes+=("fuzz_$t"); done
cmake --build build-fuzz -j "$(nproc)" --target "${exes[@]}" kp_template ctl2mdb

# Seeds: the sample control file, the template, a converted sample (before
# and after compaction) and the Access-made reference files.
seeds=build-fuzz/seeds
mkdir -p "$seeds/ctl" "$seeds/jet"
cp samples/kp-sample/DEFAULT.CTL "$seeds/ctl/sample.ctl"
head -c 200 samples/kp-sample/DEFAULT.CTL | tail -c 120 >"$seeds/ctl/strings.bin"
cp build-fuzz/KP.dbd "$seeds/jet/KP.dbd"
rm -f "$seeds/jet/sample.mdb" "$seeds/jet/sample-compacted.mdb"
build-fuzz/ctl2mdb samples/kp-sample "$seeds/jet/sample.mdb" --no-compact >/dev/null 2>&1 || true
build-fuzz/ctl2mdb samples/kp-sample "$seeds/jet/sample-compacted.mdb" >/dev/null 2>&1 || true
if [ -d ../shared/access2000 ]; then
  find ../shared/access2000 -name '*.mdb' -size -400k -exec cp -f {} "$seeds/jet/" \;
fi

status=0
for t in "${targets[@]}"; do
  case $t in
    control_file|control_string) seed="$seeds/ctl"; max_len=65536 ;;
    *) seed="$seeds/jet"; max_len=400000 ;;
  esac
  corpus=build-fuzz/corpus/$t findings=build-fuzz/findings/$t
  mkdir -p "$corpus" "$findings"
  log=build-fuzz/fuzz-$t.log
  if "build-fuzz/fuzz_$t" "$corpus" "$seed" -max_total_time="$seconds" -max_len="$max_len" \
      -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512 -print_final_stats=1 \
      -artifact_prefix="$findings/" >"$log" 2>&1; then
    echo "fuzz $t: $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') runs, no finding"
  else
    echo "fuzz $t: FINDING (see $log and $findings/)"
    tail -n 40 "$log"
    status=1
  fi
done
exit $status
