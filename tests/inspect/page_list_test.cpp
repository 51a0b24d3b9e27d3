#include <gtest/gtest.h>

#include "inspect/page_list.h"
#include "tests/support/ctl_writer.h"

namespace kp {
namespace {

using testing::SimplePage;

TEST(PageListTest, SizeColumnAndPageNumber) {
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

TEST(PageListTest, RowsAndTotalsOfThreePages) {
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

}  // namespace
}  // namespace kp
