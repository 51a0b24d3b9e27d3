// `ctl2mdb PATH OUTPUT.mdb [--no-compact]`: exit statuses, the messages and
// their causes on stderr. The tool is copied with KP.dbd into a folder of its
// own, so its work file never meets another test's.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "ctl/load_command.h"
#include "tests/export/test_docs.h"
#include "tests/support/ctl_writer.h"
#include "tests/support/oracle.h"

namespace kp {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct ToolRun {
  int status = -1;
  std::string err;  // stderr
};

class Ctl2mdbConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path tool = fs::path(KP_BUILD_DIR) / "ctl2mdb";
    const fs::path dbd = fs::path(KP_BUILD_DIR) / "KP.dbd";
    if (!fs::exists(tool) || !fs::exists(dbd)) GTEST_SKIP() << "ctl2mdb or KP.dbd not built";
    root_ = testing::MakeTempFolder("kp-convert");
    bin_ = fs::path(root_) / "bin";
    fs::create_directories(bin_);
    fs::copy_file(tool, bin_ / "ctl2mdb");
    fs::copy_file(dbd, bin_ / "KP.dbd");
    ControlDocument doc = testing::PlainDocument(3);
    testing::AddComment(&doc.Pages[1], 1, 2, 3, u"コメント");
    testing::WriteDocumentFolder(root_ + "/doc", doc);
    out_ = root_ + "/out.mdb";
  }
  void TearDown() override {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  ToolRun Convert(const std::string& args) {
    testing::ShellRun r = testing::Shell("'" + (bin_ / "ctl2mdb").string() + "' " + args + " 2>&1 >/dev/null");
    return {r.status, r.out};
  }

  std::string root_;
  fs::path bin_;
  std::string out_;
};

TEST_F(Ctl2mdbConvertTest, ConvertsAndPrintsTheWindowsMessages) {
  ToolRun r = Convert("'" + root_ + "/doc' '" + out_ + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "読込に成功しました。\n保存に成功しました。\n最適化に成功しました。\n");
  EXPECT_TRUE(fs::exists(out_));
  EXPECT_FALSE(fs::exists(bin_ / "WorkDB.tmp"));

  r = Convert("'" + root_ + "/doc/DEFAULT.CTL' '" + out_ + "' --no-compact");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "読込に成功しました。\n保存に成功しました。\n");

  // --verify reads it back: three pages and one comment.
  testing::ShellRun v = testing::Shell("'" + (bin_ / "ctl2mdb").string() + "' --verify '" + root_ +
                                       "/doc' '" + out_ + "'");
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, "verified: 4 rows\n");
}

TEST_F(Ctl2mdbConvertTest, WorksBesideTheOutputAndLeavesNothingThere) {
  // A WorkDB.tmp in the program's folder is not its work file: that one has a
  // unique name beside the output and is gone afterwards, with what a killed
  // conversion of the same output had left there (its claim unlocked).
  std::ofstream(bin_ / "WorkDB.tmp") << "x";
  const fs::path outdir = fs::path(root_) / "out";
  fs::create_directories(outdir);
  for (const char* left : {"a.mdb.~kp0", "a.mdb.~kp0.db", "a.mdb.~kp0.compact", "a.mdb.~kp2"}) {
    std::ofstream(outdir / left) << "left by a killed conversion";
  }
  ToolRun r = Convert("'" + root_ + "/doc' '" + (outdir / "a.mdb").string() + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("最適化に成功しました。\n"));
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(outdir)) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"a.mdb"});
  EXPECT_EQ(fs::file_size(bin_ / "WorkDB.tmp"), 1u);
}

TEST_F(Ctl2mdbConvertTest, FailuresExitOneWithACauseAndUsageExitsTwo) {
  ToolRun r = Convert("'" + root_ + "/doc' '" + root_ + "/no/such/folder/out.mdb'");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("保存に失敗しました。\n"));
  EXPECT_THAT(r.err, HasSubstr("out.mdb"));

  fs::remove(bin_ / "KP.dbd");
  r = Convert("'" + root_ + "/doc' '" + out_ + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("KP.dbd"));
  EXPECT_FALSE(fs::exists(out_));

  r = Convert("'" + root_ + "' '" + out_ + "'");  // no DEFAULT.CTL there
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("読込に失敗しました。\n"));

  EXPECT_EQ(Convert("'" + root_ + "/doc'").status, 2);
  EXPECT_EQ(Convert("a b c").status, 2);
  EXPECT_EQ(Convert("'" + root_ + "/doc' '" + out_ + "' --bogus").status, 2);
}

// Folders named as the system gives them: code-page-932 bytes (目次, not
// UTF-8) and a name holding a `\`. The bytes reach open() and stat() as
// they are; only FileName's `\` separators become `/`.
TEST_F(Ctl2mdbConvertTest, FoldersNamedInAnyBytes) {
  for (const std::string name : {std::string("\x96\xda\x8e\x9f"), std::string("a\\b")}) {
    SCOPED_TRACE(name);
    const std::string folder = root_ + "/" + name;
    testing::WriteDocumentFolder(folder, testing::PlainDocument(2));
    EXPECT_EQ(Convert("--list '" + folder + "'").status, 0);
    ControlDocument doc;
    FileSystemImageSizer sizer;
    EXPECT_TRUE(LoadControlFile(folder + "/DEFAULT.CTL", &sizer, &doc).ok());
    const std::string out = folder + "/" + name + ".mdb";
    ToolRun r = Convert("'" + folder + "/DEFAULT.CTL' '" + out + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(out));
  }
}

}  // namespace
}  // namespace kp
