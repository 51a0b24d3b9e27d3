#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "base/text_util.h"
#include "ctl/load_command.h"
#include "tests/support/ctl_writer.h"

namespace kp {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> ReadFolder(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
    std::ifstream in(e.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    files[e.path().filename().string()] = bytes.str();
  }
  return files;
}

// The committed sample is what the generator writes, and it loads.
TEST(SampleTest, CommittedSampleIsTheGeneratorsOutputAndLoads) {
  const fs::path committed = fs::path(KP_SOURCE_DIR) / "samples" / "kp-sample";
  std::string folder = testing::MakeTempFolder("kp-sample");
  std::string command = std::string(KP_BUILD_DIR) + "/make-sample " + folder + " >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  std::map<std::string, std::string> made = ReadFolder(folder), stored = ReadFolder(committed);
  ASSERT_EQ(made.size(), stored.size());
  for (const auto& [name, bytes] : made) {
    ASSERT_TRUE(stored.count(name)) << name << " is not committed";
    EXPECT_TRUE(stored[name] == bytes) << name << " differs: run make-sample samples/kp-sample";
  }

  ControlDocument doc;
  FileSystemImageSizer sizer;
  LoadResult r = LoadControlFile(Utf8ToUtf16((committed / "DEFAULT.CTL").string()), &sizer, &doc);
  ASSERT_TRUE(r.ok()) << r.cause;
  EXPECT_EQ(doc.PageCount, 12);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace kp
