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

TEST(LoadCommandTest, SizeColumnAndPageNumber) {
  EXPECT_EQ(FormatKilobytes(0), u"0.000");
  EXPECT_EQ(FormatKilobytes(1023), u"0.999");
  EXPECT_EQ(FormatKilobytes(1536), u"1.500");
  EXPECT_EQ(FormatKilobytes(1048576), u"1,024.000");
  EXPECT_EQ(FormatKilobytes(1234567), u"1,205.632");
  EXPECT_EQ(FormatKilobytes(64), u"0.063");  // 0.0625: halves round up
  EXPECT_EQ(FormatKilobytes(2147483647), u"2,097,151.999");
  EXPECT_EQ(FormatKilobytes(INT64_MAX), u"9,007,199,254,740,991.999");  // no overflow on the way
  EXPECT_EQ(FormatPageNumber(1), u"     1");
  EXPECT_EQ(FormatPageNumber(123456), u"123456");
  EXPECT_EQ(FormatPageNumber(1234567), u"1234567");
}

TEST(LoadCommandTest, RowsAndTotalsOfThreePages) {
  ControlDocument doc;
  for (int n = 1; n <= 3; ++n) doc.Pages.push_back(SimplePage(n));
  doc.Pages[0].CommentCount = 2;
  doc.Pages[2].CommentCount = 5;
  doc.Pages[1].IsTag = 2;
  doc.Pages[1].Name = u"目次";
  doc.Pages[0].IsTag = 1;
  doc.Pages[2].EmbedCount = 4;
  doc.PageCount = 3;
  doc.EmbeddedFileCount = 0;
  DocumentTotals t = ComputeTotals(doc);
  EXPECT_EQ(t.TotalComment, 7);
  EXPECT_EQ(t.TotalTag, 1);
  EXPECT_EQ(t.TotalPage, 3);
  EXPECT_EQ(t.TotalSetKPE, 4);
  EXPECT_EQ(t.TotalKPE, 0);
  auto labels = TotalLabels(t);
  ASSERT_EQ(labels.size(), 8u);
  EXPECT_EQ(labels[0].first, "TotalKPE");
  EXPECT_EQ(labels[7].first, "TotalHyperLink");
  PageRowTexts row = PageRow(doc.Pages[1], 2);
  EXPECT_EQ(row[0], u"     2");
  EXPECT_EQ(row[1], u"●目次");
  EXPECT_EQ(PageRow(doc.Pages[0], 1)[1], u"\u3000");
  EXPECT_EQ(PageRow(doc.Pages[2], 3)[2], u"5");
  EXPECT_EQ(row[6], u"\\P2.TIF");
  // Sums are 64-bit: many full lists do not wrap.
  ControlDocument big;
  big.Pages.assign(70000, SimplePage(1));
  for (auto& p : big.Pages) p.KeyWordCount = 32767;
  EXPECT_EQ(ComputeTotals(big).TotalKeyWord, int64_t(70000) * 32767);
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
