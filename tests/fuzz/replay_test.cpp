// Replays every input kept under fuzz/regressions/<target>/ through its
// target: each once made a fuzzer find a crash, a hang or a huge allocation.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/fuzz_targets.h"

namespace {

namespace fs = std::filesystem;

TEST(FuzzRegressions, EveryKeptInputEnds) {
  size_t replayed = 0;
  for (const kp::fuzz::Target& target : kp::fuzz::Targets()) {
    const fs::path folder = fs::path(KP_SOURCE_DIR) / "fuzz" / "regressions" / target.name;
    if (!fs::is_directory(folder)) continue;
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (!entry.is_regular_file() || entry.path().filename() == ".keep") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      SCOPED_TRACE(entry.path().string());
      EXPECT_EQ(0, target.run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
      ++replayed;
    }
  }
  RecordProperty("replayed", int(replayed));
}

}  // namespace
