// The command-line tools' --help, --version and usage errors, and ctl2mdb's
// batch mode over many documents.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/export/test_docs.h"
#include "tests/support/ctl_writer.h"
#include "tests/support/oracle.h"

namespace kp {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

using testing::Shell;
using testing::ShellRun;

std::string Tool(const std::string& name) { return std::string(KP_BUILD_DIR) + "/" + name; }

TEST(CliTest, HelpVersionAndUsageErrors) {
  struct Case {
    const char* tool;
    const char* args;
    int status;       // 0: the text is on stdout; 2: on stderr, stdout empty
    const char* text;
  };
  const Case cases[] = {
      {"ctl2mdb", "--help", 0, "usage: ctl2mdb PATH OUTPUT.mdb"},
      {"ctl2mdb", "-h", 0, "ctl2mdb --batch ROOT OUTDIR [-j N]"},
      {"ctl2mdb", "--version", 0, "ctl2mdb (ZIriRAV Convert) 1.0\n"},
      {"ctl2mdb", "", 2, "usage: ctl2mdb"},
      {"ctl2mdb", "--help extra", 2, "usage: ctl2mdb"},
      {"ctl2mdb", "--batch only-one", 2, "usage: ctl2mdb"},
      {"ctl2mdb", "--batch a b -j 0", 2, "usage: ctl2mdb"},
      {"ctl2mdb", "--batch a b -j x", 2, "usage: ctl2mdb"},
      {"ctl2mdb", "--batch a b -j", 2, "usage: ctl2mdb"},
      {"ctl2mdb", "--batch a b --fast", 2, "usage: ctl2mdb"},
      {"ctl2mdb", "--help", 0, "ctl2mdb --verify PATH OUTPUT.mdb"},
      {"ctl2mdb", "--verify only-one", 2, "usage: ctl2mdb"},
      {"jet-check", "--help", 0, "usage: jet-check [--strict] FILE..."},
      {"jet-check", "--version", 0, "jet-check (ZIriRAV Convert) 1.0\n"},
      {"jet-check", "", 2, "usage: jet-check"},
      {"jet-check", "--bogus x.mdb", 2, "usage: jet-check"},
      {"jet-compact", "--help", 0, "usage: jet-compact SOURCE DESTINATION"},
      {"jet-compact", "one-argument", 2, "usage: jet-compact"},
      {"make-template", "--help", 0, "usage: make-template OUT"},
      {"make-template", "--version", 0, "make-template (ZIriRAV Convert) 1.0\n"},
      {"make-template", "", 2, "usage: make-template OUT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tool) + " " + c.args);
    const std::string command = Tool(c.tool) + " " + c.args;
    ShellRun out = Shell(command + " 2>/dev/null");
    EXPECT_EQ(out.status, c.status);
    if (c.status == 0) {
      EXPECT_THAT(out.out, HasSubstr(c.text));
    } else {
      EXPECT_EQ(out.out, "");
      EXPECT_THAT(Shell(command + " 2>&1 >/dev/null").out, HasSubstr(c.text));
    }
  }
}

// 50 documents in nested folders, -j 2, one of them broken: 49 databases that
// pass the checker, one failure line naming the broken document, exit 1.
TEST(CliTest, BatchConvertsEveryDocumentAndReportsTheBrokenOne) {
  if (!fs::exists(Tool("ctl2mdb")) || !fs::exists(Tool("KP.dbd"))) GTEST_SKIP() << "not built";
  const fs::path root = testing::MakeTempFolder("kp-batch");
  const fs::path docs = root / "docs", out = root / "out";
  std::vector<std::string> names;
  for (int i = 0; i < 50; ++i) {
    std::string name = "group-" + std::to_string(i % 5) + "/doc-" + std::to_string(i);
    names.push_back(name);
    ControlDocument doc = testing::PlainDocument(1 + i % 4);
    testing::AddComment(&doc.Pages[0], 1, 2, 3, u"コメント");
    testing::WriteDocumentFolder((docs / name).string(), doc);
  }
  std::ofstream(docs / names[17] / "DEFAULT.CTL", std::ios::binary | std::ios::trunc) << "broken";
  // A document in the root folder takes the root's name, "docs", as does the
  // subfolder docs/docs: one of the two is refused rather than overwritten.
  testing::WriteDocumentFolder(docs.string(), testing::PlainDocument(1));
  testing::WriteDocumentFolder((docs / "docs").string(), testing::PlainDocument(2));

  ShellRun r = Shell(Tool("ctl2mdb") + " --batch " + testing::ShellQuote(docs.string()) + " " +
                testing::ShellQuote(out.string()) + " -j 2 2>/dev/null");
  EXPECT_EQ(r.status, 1) << r.out;
  std::vector<std::string> lines, failed;
  for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(r.out.substr(at, end - at));
    if (lines.back().rfind("failed  ", 0) == 0) failed.push_back(lines.back());
  }
  ASSERT_EQ(lines.size(), 53u) << r.out;
  EXPECT_EQ(lines.back(), "50 of 52 converted, 2 failed");
  ASSERT_EQ(failed.size(), 2u);
  std::sort(failed.begin(), failed.end());
  EXPECT_THAT(failed[0], HasSubstr("failed  docs: "));
  EXPECT_THAT(failed[0], HasSubstr("docs.mdb is already the output of "));
  EXPECT_THAT(failed[1], HasSubstr("failed  group-2/doc-17: "));
  EXPECT_THAT(failed[1], HasSubstr("KPファイルではない"));

  std::string outputs;
  size_t made = 0;
  for (const auto& e : fs::recursive_directory_iterator(out)) {
    if (!e.is_regular_file()) continue;
    EXPECT_EQ(e.path().extension(), ".mdb") << e.path();  // no work file left
    outputs += " " + testing::ShellQuote(e.path().string());
    ++made;
  }
  EXPECT_EQ(made, 50u);
  EXPECT_FALSE(fs::exists(out / (names[17] + ".mdb")));
  ShellRun check = Shell(Tool("jet-check") + " --strict" + outputs + " 2>&1");
  EXPECT_EQ(check.status, 0) << check.out;

  // One of them read back by both outside readers: doc-3 has 4 pages.
  const std::string one = (out / "group-3/doc-3.mdb").string();
  testing::OracleTable table;
  if (testing::HaveMdbtools()) {
    ASSERT_TRUE(testing::MdbtoolsRows(one, "一覧_ページ", &table).ok());
    EXPECT_EQ(table.rows.size(), 4u);
  }
  if (testing::HaveMdbReader()) {
    ASSERT_TRUE(testing::MdbReaderRows(one, "一覧_ページ", &table).ok());
    EXPECT_EQ(table.rows.size(), 4u);
  }
  std::error_code ec;
  fs::remove_all(root, ec);
}

}  // namespace
}  // namespace kp
