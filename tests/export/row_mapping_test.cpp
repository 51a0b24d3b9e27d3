#include "export/row_mapping.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "tests/export/fake_engine.h"
#include "tests/export/test_docs.h"

namespace kp {
namespace {

using jet::Value;
using testing::AddComment;
using testing::AddEmbed;
using testing::AddHyperLink;
using testing::AddKeyWord;
using testing::AddPage;
using testing::AddRegisterEntry;
using testing::AddSquare;
using testing::FakeDatabase;
using testing::FakeLog;
using testing::FakeRow;
using testing::MakePage;
using testing::PlainDocument;

std::vector<std::u16string> ColumnNames(const FakeRow& row) {
  std::vector<std::u16string> names;
  for (const auto& [name, value] : row.columns) names.push_back(name);
  return names;
}

// The columns of output table `t` in the schema's order.
std::vector<std::u16string> SchemaColumns(int t) {
  std::vector<std::u16string> names;
  for (const OutputColumn& c : OutputTableAt(t).columns) names.push_back(c.name);
  return names;
}

class RowMappingTest : public ::testing::Test {
 protected:
  // Writes one table of `doc` into a fresh fake database; returns the status.
  Status Write(const ControlDocument& doc, int table, std::vector<int32_t>* pages_done = nullptr) {
    log_ = std::make_shared<FakeLog>();
    FakeDatabase db(log_);
    return WriteTable(doc, table, db, [pages_done](int32_t n) {
      if (pages_done) pages_done->push_back(n);
    });
  }
  const std::vector<FakeRow>& Rows() const { return log_->tables.at(0).rows; }

  std::shared_ptr<FakeLog> log_;
};

// Captions are pinned by the export command's event sequence, names by the
// end-to-end read-back.
TEST_F(RowMappingTest, EachTableOpenedByItsQueryAndClosed) {
  ControlDocument doc = PlainDocument(1);
  for (int t = 0; t < kOutputTableCount; ++t) {
    ASSERT_TRUE(Write(doc, t).ok());
    EXPECT_EQ(log_->tables.at(0).query, OutputTableAt(t).query);
    EXPECT_TRUE(log_->tables.at(0).closed);
  }
  EXPECT_EQ(OutputTableAt(2).query, u"SELECT * FROM [一覧_コメント]");
  EXPECT_TRUE(Write(doc, kOutputTableCount).IsInvalidArgument());
}

TEST_F(RowMappingTest, PageRowValuesNameIsTagAndAngle) {
  ControlDocument doc;
  struct Case { std::u16string name; uint8_t is_tag; uint8_t angle; };
  const Case cases[] = {{u"", 0, 0},  {u" ", 1, 1},   {u"表紙", 2, 2},
                        {u"x", 3, 3}, {u"y", 255, 4}, {u"z", 2, 5}};
  for (const Case& c : cases) {
    PageRecord p = MakePage(u"画像.TIF");
    p.Name = c.name;
    p.IsTag = c.is_tag;
    p.Angle = c.angle;
    p.Level = 200;
    p.ImageLen = 2147483647;
    AddPage(&doc, p);
  }
  ASSERT_TRUE(Write(doc, 0).ok());
  ASSERT_EQ(Rows().size(), 6u);

  const std::vector<std::u16string> all = SchemaColumns(0);
  const std::vector<std::u16string> no_angle(all.begin(), all.end() - 1);
  const int64_t degrees[] = {-1, 0, 90, 180, 270, -1};
  for (size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    const FakeRow& row = Rows()[i];
    EXPECT_EQ(ColumnNames(row), degrees[i] < 0 ? no_angle : all);
    EXPECT_EQ(*row.Find(u"No"), Value::Int(int64_t(i) + 1));
    EXPECT_EQ(*row.Find(u"Name"), cases[i].name.empty() ? Value::Null() : Value::Str(cases[i].name));
    EXPECT_EQ(*row.Find(u"IsTag"), Value::Bool(cases[i].is_tag == 2));
    EXPECT_EQ(*row.Find(u"Level"), Value::Int(200));
    EXPECT_EQ(*row.Find(u"FileName"), Value::Str(u"画像.TIF"));
    EXPECT_EQ(*row.Find(u"ImageLen"), Value::Int(2147483647));
    if (degrees[i] >= 0) {
      EXPECT_EQ(*row.Find(u"Angle"), Value::Int(degrees[i]));
    }
  }
}

TEST_F(RowMappingTest, ListTablesNumberPerPageAndKeepColumnOrder) {
  ControlDocument doc;
  PageRecord p1 = MakePage(u"1.TIF");
  AddComment(&p1, 255, -1, 32767, u"");
  AddSquare(&p1, 7, 1, 2, 3, 4);
  PageRecord p2 = MakePage(u"2.TIF");
  AddComment(&p2, 1, 2, 3, u"二つ目");
  for (int k = 0; k < 3; ++k) AddKeyWord(&p2, 10, 20, 30, 40, u"kw" + std::u16string(1, u'0' + k), u"");
  AddHyperLink(&p2, -5, 6, 7, 8, u"http://x/", u"");
  AddPage(&doc, p1);
  AddPage(&doc, p2);

  ASSERT_TRUE(Write(doc, 2).ok());  // comments
  ASSERT_EQ(Rows().size(), 2u);
  EXPECT_EQ(ColumnNames(Rows()[0]), SchemaColumns(2));
  EXPECT_EQ(*Rows()[0].Find(u"Left"), Value::Int(-1));
  EXPECT_EQ(*Rows()[0].Find(u"Text"), Value::Str(u""));  // empty text stays a string
  EXPECT_EQ(*Rows()[1].Find(u"PageNo"), Value::Int(2));
  EXPECT_EQ(*Rows()[1].Find(u"ID"), Value::Int(1));  // restarts on every page

  ASSERT_TRUE(Write(doc, 3).ok());  // keywords
  ASSERT_EQ(Rows().size(), 3u);
  EXPECT_EQ(ColumnNames(Rows()[2]), SchemaColumns(3));
  EXPECT_EQ(*Rows()[2].Find(u"PageNo"), Value::Int(2));
  EXPECT_EQ(*Rows()[2].Find(u"ID"), Value::Int(3));
  EXPECT_EQ(*Rows()[2].Find(u"KeyWord"), Value::Str(u"kw2"));

  ASSERT_TRUE(Write(doc, 4).ok());  // range marks
  ASSERT_EQ(Rows().size(), 1u);
  EXPECT_EQ(ColumnNames(Rows()[0]), SchemaColumns(4));
  EXPECT_EQ(*Rows()[0].Find(u"Height"), Value::Int(4));

  ASSERT_TRUE(Write(doc, 5).ok());  // hyperlinks
  ASSERT_EQ(Rows().size(), 1u);
  EXPECT_EQ(ColumnNames(Rows()[0]), SchemaColumns(5));
  EXPECT_EQ(*Rows()[0].Find(u"LinkInfo1"), Value::Str(u"http://x/"));
  EXPECT_EQ(*Rows()[0].Find(u"LinkInfo2"), Value::Str(u""));
}

TEST_F(RowMappingTest, EmbeddedRowsCopyTheRegisterEntryPerUse) {
  ControlDocument doc = PlainDocument(4);
  AddRegisterEntry(&doc, u"unused.kpe", u"never");
  AddRegisterEntry(&doc, u"図面.kpe", u"中身");
  AddEmbed(&doc.Pages[0], 1);
  AddEmbed(&doc.Pages[3], 0);
  AddEmbed(&doc.Pages[3], 1);
  ASSERT_TRUE(Write(doc, 1).ok());
  ASSERT_EQ(Rows().size(), 3u);
  EXPECT_EQ(ColumnNames(Rows()[0]), SchemaColumns(1));
  EXPECT_EQ(*Rows()[0].Find(u"PageNo"), Value::Int(1));
  EXPECT_EQ(*Rows()[0].Find(u"KPE_FileName"), Value::Str(u"図面.kpe"));
  EXPECT_EQ(*Rows()[2].Find(u"PageNo"), Value::Int(4));
  EXPECT_EQ(*Rows()[2].Find(u"ID"), Value::Int(2));
  EXPECT_EQ(*Rows()[2].Find(u"InData"), Value::Str(u"中身"));
}

TEST_F(RowMappingTest, RegisterIndexOutsideTheRegisterFailsAfterEarlierRows) {
  for (int32_t bad : {-1, 1, 2147483647}) {
    ControlDocument doc = PlainDocument(2);
    AddRegisterEntry(&doc, u"a.kpe", u"a");
    AddEmbed(&doc.Pages[0], 0);
    AddEmbed(&doc.Pages[1], bad);
    Status s = Write(doc, 1);
    EXPECT_TRUE(s.IsCorruption()) << s.ToString();
    EXPECT_THAT(s.message(), ::testing::HasSubstr("page 2 item 1"));
    EXPECT_THAT(s.message(), ::testing::HasSubstr("RegisterIndex " + std::to_string(bad)));
    EXPECT_EQ(Rows().size(), 1u);  // the first page's row stays
    EXPECT_TRUE(log_->tables[0].closed);
  }
}

TEST_F(RowMappingTest, LoopsRunOnCountsNotListSizes) {
  ControlDocument doc = PlainDocument(3);
  AddComment(&doc.Pages[0], 1, 1, 1, u"kept");
  doc.Pages[0].Comments.push_back({});  // allocated beyond the count: ignored
  doc.Pages[1].Comments.push_back({});  // a count of 0 with an empty entry
  doc.Pages[1].KeyWordCount = -3;       // negative: no rows
  std::vector<int32_t> done;
  ASSERT_TRUE(Write(doc, 2, &done).ok());
  EXPECT_EQ(Rows().size(), 1u);
  EXPECT_EQ(done, (std::vector<int32_t>{1, 2, 3}));  // also pages that gave no rows
  ASSERT_TRUE(Write(doc, 3).ok());
  EXPECT_TRUE(Rows().empty());
}

TEST_F(RowMappingTest, CountsLargerThanTheirListsFailInsteadOfReadingPastTheEnd) {
  ControlDocument doc = PlainDocument(2);
  AddKeyWord(&doc.Pages[1], 1, 2, 3, 4, u"k", u"f");
  doc.Pages[1].KeyWordCount = 2;
  std::vector<int32_t> done;
  Status s = Write(doc, 3, &done);
  EXPECT_TRUE(s.IsCorruption());
  EXPECT_THAT(s.message(), ::testing::HasSubstr("keywords table, page 2 item 2"));
  EXPECT_EQ(Rows().size(), 1u);
  EXPECT_EQ(done, std::vector<int32_t>{1});

  ControlDocument short_pages = PlainDocument(2);
  short_pages.PageCount = 3;
  done.clear();
  s = Write(short_pages, 0, &done);
  EXPECT_TRUE(s.IsCorruption());
  EXPECT_THAT(s.message(), ::testing::HasSubstr("page 3"));
  EXPECT_EQ(Rows().size(), 2u);
  EXPECT_EQ(done, (std::vector<int32_t>{1, 2}));
}

TEST_F(RowMappingTest, DatabaseFailuresCarryThePlace) {
  ControlDocument doc = PlainDocument(2);
  AddHyperLink(&doc.Pages[1], 1, 2, 3, 4, u"a", u"b");

  log_ = std::make_shared<FakeLog>();
  log_->fail_column = u"LinkInfo2";
  FakeDatabase db(log_);
  Status s = WriteTable(doc, 5, db, {});
  EXPECT_TRUE(s.IsNotFound());
  EXPECT_THAT(s.message(), ::testing::HasSubstr("hyperlinks table, page 2 item 1, column LinkInfo2"));
  EXPECT_TRUE(log_->tables[0].closed);
  EXPECT_TRUE(log_->tables[0].rows.empty());

  log_ = std::make_shared<FakeLog>();
  log_->fail_open_recordset = 0;
  FakeDatabase db2(log_);
  s = WriteTable(doc, 0, db2, {});
  EXPECT_TRUE(s.IsNotFound());
  EXPECT_THAT(s.message(), ::testing::HasSubstr("pages table, OpenRecordset"));

  log_ = std::make_shared<FakeLog>();
  log_->fail_update = 1;  // the second page row
  FakeDatabase db3(log_);
  s = WriteTable(doc, 0, db3, {});
  EXPECT_THAT(s.message(), ::testing::HasSubstr("pages table, page 2, Update"));
  EXPECT_EQ(log_->tables[0].rows.size(), 1u);
}

}  // namespace
}  // namespace kp
