// jet-compact: exit status 0 with a checked copy, 1 with the cause, 2 on
// wrong usage.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/jet_support.h"
#include "tests/support/oracle.h"

namespace kp {
namespace {

int RunTool(const std::string& args, std::string* out) {
  testing::ShellRun r = testing::Shell("'" + std::string(KP_BUILD_DIR) + "/jet-compact' " + args + " 2>&1");
  *out = r.out;
  return r.status;
}

TEST(JetCompactTest, ExitStatusTellsTheOutcome) {
  KP_SKIP_WITHOUT_REFERENCE();
  const std::string source = jet::testing::ReferencePath("queryTestV2000.mdb");
  const std::string dest =
      (std::filesystem::temp_directory_path() / ("jet_compact_tool_" + std::to_string(::getpid()) + ".mdb")).string();
  std::filesystem::remove(dest);
  std::string out;
  EXPECT_EQ(RunTool("'" + source + "' '" + dest + "'", &out), 0) << out;
  EXPECT_TRUE(std::filesystem::exists(dest));
  EXPECT_EQ(RunTool("'" + source + "' '" + dest + "'", &out), 1);  // the destination exists
  EXPECT_NE(out.find("exists"), std::string::npos) << out;
  EXPECT_EQ(RunTool("/nonexistent/a.mdb /tmp/jet_compact_none.mdb", &out), 1);
  EXPECT_NE(out.find("/nonexistent/a.mdb"), std::string::npos) << out;
  EXPECT_EQ(RunTool("only-one", &out), 2);
  EXPECT_EQ(RunTool("--bogus a b", &out), 2);
  EXPECT_EQ(RunTool("--help", &out), 0);
  EXPECT_NE(out.find("usage: jet-compact SOURCE DESTINATION"), std::string::npos);
  EXPECT_EQ(RunTool("--version", &out), 0);
  std::filesystem::remove(dest);
}

}  // namespace
}  // namespace kp
