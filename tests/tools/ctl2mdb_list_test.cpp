#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/ctl_writer.h"
#include "tests/support/oracle.h"

namespace kp {
namespace {

using testing::Shell;
using testing::ShellRun;

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
  ShellRun r = Shell(kTool + " --list " + folder + " 2>&1");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "     1\t●目次\t0\t0\t0\t0\t\\P1.TIF\t1,205.632\n"
            "     2\t\u3000\t2\t0\t0\t0\t\\P2.TIF\t0.977\n"
            "\n"
            "TotalKPE\t0\nTotalSetKPE\t0\nTotalPage\t2\nTotalTag\t1\n"
            "TotalComment\t2\nTotalKeyWord\t0\nTotalSquare\t0\nTotalHyperLink\t0\n");

  // A bare DEFAULT.CTL names the control file in the current folder.
  ShellRun bare = Shell("cd " + folder + " && " + kTool + " --list DEFAULT.CTL 2>&1");
  EXPECT_EQ(bare.status, 0) << bare.out;
  EXPECT_EQ(bare.out, r.out);

  ShellRun wrong = Shell(kTool + " --list " + folder + "/default.ctl 2>&1 >/dev/null");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(wrong.out.rfind("DEFAULT.CTLﾌｧｲﾙのみ受付けます。\n", 0), 0u) << wrong.out;

  std::filesystem::remove(folder + "/P2.TIF");
  ShellRun failed = Shell(kTool + " --list " + folder + "/DEFAULT.CTL 2>&1 >/dev/null");
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.out.find("読込に失敗しました。\n"), std::string::npos);
  EXPECT_NE(failed.out.find("P2.TIF"), std::string::npos) << failed.out;

  EXPECT_EQ(Shell(kTool + " --list 2>/dev/null").status, 2);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace kp
