// Fuzz targets: each takes one input of arbitrary bytes and runs a part of
// the program over it. A target never fails on bad input: it only has to end
// (no crash, no hang, no allocation beyond what the input could justify).
//
// The same functions serve the libFuzzer executables (fuzz_main.cpp, built
// with clang in its own build folder, see scripts/fuzz.sh) and the ordinary
// tests, which replay every input kept under fuzz/regressions/<target>/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kp::fuzz {

// The whole control-file reader over the input as a DEFAULT.CTL (every image
// file is taken to exist).
int ControlFile(const uint8_t* data, size_t size);
// One control-file string after another until the input ends or a string
// fails.
int ControlString(const uint8_t* data, size_t size);
// A Jet file: opened and read (catalog, every table's definition and rows),
// checked, then opened for appending and given one row in each local table,
// then read and checked again.
int JetFile(const uint8_t* data, size_t size);
// A Jet file compacted into a new file, which is then checked.
int Compact(const uint8_t* data, size_t size);

struct Target {
  const char* name;  // also the folder of its regression inputs
  int (*run)(const uint8_t* data, size_t size);
};
const std::vector<Target>& Targets();

}  // namespace kp::fuzz
