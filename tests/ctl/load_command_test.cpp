#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "base/text_util.h"
#include "ctl/load_command.h"
#include "tests/support/ctl_writer.h"

namespace kp {
namespace {

using testing::SimplePage;

TEST(LoadCommandTest, NameCheckAndSourceFolder) {
  EXPECT_TRUE(HasControlFileName(u"C:\\DOCS\\DEFAULT.CTL"));
  EXPECT_FALSE(HasControlFileName(u""));
  EXPECT_FALSE(HasControlFileName(u"EFAULT.CTL"));
  EXPECT_FALSE(HasControlFileName(u"C:\\DOCS\\default.ctl"));
  EXPECT_FALSE(HasControlFileName(u"C:\\DOCS\\DEFAULT.CTL "));
  EXPECT_EQ(SourceFolderOf(u"C:\\DOCS\\DEFAULT.CTL"), u"C:\\DOCS");
  EXPECT_EQ(SourceFolderOf(u"C:\\DEFAULT.CTL"), u"C:");
  EXPECT_EQ(SourceFolderOf(u"/DEFAULT.CTL"), u"");
}

class LoadFromDiskTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = testing::MakeTempFolder(); }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::u16string Write(const std::string& sub, int pages) {
    ControlDocument doc;
    for (int n = 1; n <= pages; ++n) doc.Pages.push_back(SimplePage(n));
    return Utf8ToUtf16(testing::WriteDocumentFolder(folder_ + "/" + sub, doc));
  }
  std::string folder_;
};

TEST_F(LoadFromDiskTest, OnlyASuccessfulLoadReplacesTheDocument) {
  FileSystemImageSizer sizer;
  ControlDocument current;
  ASSERT_TRUE(LoadControlFile(Write("ten", 10), &sizer, &current).ok());
  EXPECT_EQ(current.PageCount, 10);
  EXPECT_EQ(current.Pages[0].ImageLen, 1000);

  // Wrong magic: its own message, nothing changes; a good file right after loads.
  std::string bad = folder_ + "/bad/DEFAULT.CTL";
  std::filesystem::create_directories(folder_ + "/bad");
  testing::WriteFile(bad, "NOTAKPFILE");
  LoadResult r = LoadControlFile(Utf8ToUtf16(bad), &sizer, &current);
  EXPECT_EQ(r.outcome, LoadOutcome::kWrongMagic);
  EXPECT_EQ(std::u16string(r.message()), u"開始コードが異なるのでKPファイルではない可能性があります。");
  EXPECT_EQ(current.PageCount, 10);

  // A deleted image fails the whole load and keeps the previous document.
  std::u16string three = Write("three", 3);
  std::filesystem::remove(folder_ + "/three/P2.TIF");
  r = LoadControlFile(three, &sizer, &current);
  EXPECT_EQ(r.outcome, LoadOutcome::kFailure);
  EXPECT_EQ(std::u16string(r.message()), u"読込に失敗しました。");
  EXPECT_EQ(current.PageCount, 10);

  r = LoadControlFile(Write("three2", 3), &sizer, &current);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(std::u16string(r.message()), u"読込に成功しました。");
  EXPECT_EQ(current.PageCount, 3);
  EXPECT_EQ(current.Pages.size(), 3u);
  EXPECT_EQ(current.SourceFolder, Utf8ToUtf16(folder_ + "/three2"));

  r = LoadControlFile(Utf8ToUtf16(folder_ + "/three2/default.ctl"), &sizer, &current);
  EXPECT_EQ(r.outcome, LoadOutcome::kWrongName);
  EXPECT_EQ(std::u16string(r.message()), u"DEFAULT.CTLﾌｧｲﾙのみ受付けます。");
  // "DEFAULT.CTL" alone names no folder: a failure, not a look at "/".
  r = LoadControlFile(u"DEFAULT.CTL", &sizer, &current);
  EXPECT_EQ(r.outcome, LoadOutcome::kFailure);
  r = LoadControlFile(Utf8ToUtf16(folder_ + "/none/DEFAULT.CTL"), &sizer, &current);
  EXPECT_EQ(r.outcome, LoadOutcome::kFailure);  // cannot be opened
  EXPECT_EQ(current.PageCount, 3);
}

}  // namespace
}  // namespace kp
