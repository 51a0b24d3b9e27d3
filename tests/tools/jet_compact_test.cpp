// jet-compact: exit status 0 with a checked copy, 1 with the cause, 2 on
// wrong usage.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace kp {
namespace {

int RunTool(const std::string& args, std::string* out) {
  FILE* p = popen(("'" + std::string(KP_BUILD_DIR) + "/jet-compact' " + args + " 2>&1").c_str(), "r");
  char buf[4096];
  size_t n;
  out->clear();
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out->append(buf, n);
  const int st = pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

TEST(JetCompactTest, ExitStatusTellsTheOutcome) {
  const std::string source = std::string(KP_REFERENCE_DIR) + "/queryTestV2000.mdb";
  if (!std::filesystem::exists(source)) GTEST_SKIP() << "no reference files";
  const std::string dest = std::filesystem::temp_directory_path() / ("jet_compact_tool_" + std::to_string(::getpid()) + ".mdb");
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
