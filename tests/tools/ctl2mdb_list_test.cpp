#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/ctl_writer.h"

namespace kp {
namespace {

struct CommandRun {
  int status;
  std::string out;
};

CommandRun RunCommand(const std::string& command) {
  CommandRun r;
  FILE* p = popen(command.c_str(), "r");
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

const std::string kTool = std::string(KP_BUILD_DIR) + "/ctl2mdb";

TEST(Ctl2mdbListTest, PrintsRowsThenTotals) {
  std::string folder = testing::MakeTempFolder();
  ControlDocument doc;
  doc.Pages = {testing::SimplePage(1), testing::SimplePage(2)};
  doc.Pages[0].IsTag = 2;
  doc.Pages[0].Name = u"目次";
  doc.Pages[0].ImageLen = 1234567;
  doc.Pages[1].Comments.resize(2);
  doc.Pages[1].CommentCount = 2;
  testing::WriteDocumentFolder(folder, doc);
  CommandRun r = RunCommand(kTool + " --list " + folder + " 2>&1");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "     1\t●目次\t0\t0\t0\t0\t\\P1.TIF\t1,205.632\n"
            "     2\t\u3000\t2\t0\t0\t0\t\\P2.TIF\t0.977\n"
            "\n"
            "TotalKPE\t0\nTotalSetKPE\t0\nTotalPage\t2\nTotalTag\t1\n"
            "TotalComment\t2\nTotalKeyWord\t0\nTotalSquare\t0\nTotalHyperLink\t0\n");

  // A bare DEFAULT.CTL names the control file in the current folder.
  CommandRun bare = RunCommand("cd " + folder + " && " + kTool + " --list DEFAULT.CTL 2>&1");
  EXPECT_EQ(bare.status, 0) << bare.out;
  EXPECT_EQ(bare.out, r.out);

  CommandRun wrong = RunCommand(kTool + " --list " + folder + "/default.ctl 2>&1 >/dev/null");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(wrong.out.rfind("DEFAULT.CTLﾌｧｲﾙのみ受付けます。\n", 0), 0u) << wrong.out;

  std::filesystem::remove(folder + "/P2.TIF");
  CommandRun failed = RunCommand(kTool + " --list " + folder + "/DEFAULT.CTL 2>&1 >/dev/null");
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.out.find("読込に失敗しました。\n"), std::string::npos);
  EXPECT_NE(failed.out.find("P2.TIF"), std::string::npos) << failed.out;

  EXPECT_EQ(RunCommand(kTool + " --list 2>/dev/null").status, 2);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace kp
