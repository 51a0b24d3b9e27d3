#include "inspect/page_details.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/export/test_docs.h"

namespace kp {
namespace {

using namespace kp::testing;

std::vector<std::u16string> RowOf(const DetailTable& t, int row) {
  std::vector<std::u16string> cells;
  for (int c = 0; c < t.Columns(); ++c) cells.push_back(t.Cell(row, c));
  return cells;
}

ControlDocument SampleDocument() {
  ControlDocument doc = PlainDocument(7);
  AddComment(&doc.Pages[0], 12, -20, 30, u"最初のｺﾒﾝﾄ");
  AddComment(&doc.Pages[0], 0, 1, 2, u"");
  AddKeyWord(&doc.Pages[0], 1, 2, 3, 4, u"索引", u"");
  AddSquare(&doc.Pages[0], 255, 5, 6, 7, 8);
  AddHyperLink(&doc.Pages[0], 9, 10, 11, 12, u"http://example.invalid/", u"P2");
  AddKeyWord(&doc.Pages[6], 0, 0, 0, 0, u"seven", u"F");
  return doc;
}

TEST(PageDetailsTest, RowTextNamesThePageByItsNumber) {
  ControlDocument doc = SampleDocument();
  const struct {
    std::u16string text;
    int position;
  } cases[] = {
      {u"     7", 6}, {u"7", 6},         {u"     1", 0},  {u"  3x", 2},  {u"\u30002", 1},
      {u"", -1},      {u"      ", -1},   {u"     0", -1}, {u"     8", -1}, {u"-1", -1},
      {u"abc", -1},   {u"99999999999999999999", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PagePositionOfRowText(doc, c.text), c.position)
        << std::string(c.text.begin(), c.text.end());
  }
}

TEST(PageDetailsTest, CellsInDisplayOrder) {
  ControlDocument doc = SampleDocument();
  auto t = PageDetails(doc, u"     1");
  EXPECT_EQ(t[0].list(), DetailList::kComment);
  EXPECT_EQ(t[3].list(), DetailList::kHyperLink);
  ASSERT_EQ(t[0].Rows(), 2);
  EXPECT_EQ(RowOf(t[0], 0),
            (std::vector<std::u16string>{u"    1", u"-20", u"30", u"12", u"最初のｺﾒﾝﾄ"}));
  EXPECT_EQ(RowOf(t[0], 1), (std::vector<std::u16string>{u"    2", u"1", u"2", u"0", u""}));
  EXPECT_EQ(RowOf(t[1], 0),
            (std::vector<std::u16string>{u"    1", u"1", u"2", u"3", u"4", u"", u"索引"}));
  EXPECT_EQ(RowOf(t[2], 0), (std::vector<std::u16string>{u"    1", u"5", u"6", u"7", u"8", u"255"}));
  EXPECT_EQ(RowOf(t[3], 0), (std::vector<std::u16string>{u"    1", u"9", u"10", u"11", u"12",
                                                         u"http://example.invalid/", u"P2"}));
  EXPECT_EQ(t[0].Cell(2, 0), u"");  // past the last row
  EXPECT_EQ(t[0].Cell(0, 5), u"");  // past the last column

  // The page is the one the text names, and a page without entries shows none.
  t = PageDetails(doc, u"     7");
  EXPECT_EQ(t[0].Rows(), 0);
  ASSERT_EQ(t[1].Rows(), 1);
  EXPECT_EQ(t[1].Cell(0, 6), u"seven");
  for (const auto& none : PageDetails(doc, u"     9")) EXPECT_EQ(none.Rows(), 0);
}

TEST(PageDetailsTest, FullListAndCountsThatDisagreeWithTheList) {
  ControlDocument doc = PlainDocument(1);
  PageRecord& p = doc.Pages[0];
  p.KeyWords.resize(32767);
  p.KeyWordCount = 32767;
  auto t = PageDetails(doc, u"     1");
  ASSERT_EQ(t[1].Rows(), 32767);
  EXPECT_EQ(t[1].Cell(32766, 0), u"32767");
  EXPECT_EQ(t[1].Cell(9998, 0), u" 9999");

  p.CommentCount = 5;  // more than the list holds: only what is there
  p.SquareCount = -3;
  EXPECT_EQ(PageDetails(doc, u"1")[0].Rows(), 0);
  EXPECT_EQ(PageDetails(doc, u"1")[2].Rows(), 0);
}

TEST(PageDetailsTest, TableNeverReadsOutsideALaterDocument) {
  ControlDocument doc = SampleDocument();
  auto t = PageDetails(doc, u"     7");
  doc = PlainDocument(2);  // a shorter document replaces it
  EXPECT_EQ(t[1].Rows(), 0);
  EXPECT_EQ(t[1].Cell(0, 6), u"");
}

}  // namespace
}  // namespace kp
