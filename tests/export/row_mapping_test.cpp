#include "export/row_mapping.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
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
  // Writes one table of `doc` into a fresh fake database, with `fault` set up
  // in its log; returns the status.
  Status Write(const ControlDocument& doc, int table, std::vector<int32_t>* pages_done = nullptr,
               const std::function<void(FakeLog*)>& fault = {}) {
    log_ = std::make_shared<FakeLog>();
    if (fault) fault(log_.get());
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

// Every failure names its table, page and item, stops the table there with
// the earlier rows kept, and closes it.
TEST_F(RowMappingTest, FailuresCarryThePlaceAndKeepEarlierRows) {
  auto embeds = [](int32_t bad) {  // the second page's embed outside the register
    ControlDocument doc = PlainDocument(2);
    AddRegisterEntry(&doc, u"a.kpe", u"a");
    AddEmbed(&doc.Pages[0], 0);
    AddEmbed(&doc.Pages[1], bad);
    return doc;
  };
  ControlDocument long_count = PlainDocument(2), short_pages = PlainDocument(2),
                  links = PlainDocument(2);
  AddKeyWord(&long_count.Pages[1], 1, 2, 3, 4, u"k", u"f");
  long_count.Pages[1].KeyWordCount = 2;  // a count larger than its list
  short_pages.PageCount = 3;
  AddHyperLink(&links.Pages[1], 1, 2, 3, 4, u"a", u"b");
  using Code = Status::Code;
  struct Case {
    const char* name;
    ControlDocument doc;
    int table;
    std::function<void(FakeLog*)> fault;
    Code code;
    std::string place;
    int rows;                    // -1: the table did not open
    std::vector<int32_t> pages;  // pages reported done
  };
  // clang-format off
  const Case cases[] = {
      {"register index -1", embeds(-1), 1, {}, Code::kCorruption,
       "page 2 item 1: RegisterIndex -1", 1, {1}},
      {"register index 1", embeds(1), 1, {}, Code::kCorruption,
       "page 2 item 1: RegisterIndex 1", 1, {1}},
      {"register index max", embeds(2147483647), 1, {}, Code::kCorruption,
       "page 2 item 1: RegisterIndex 2147483647", 1, {1}},
      {"count past the list", long_count, 3, {}, Code::kCorruption,
       "keywords table, page 2 item 2", 1, {1}},
      {"page count past the list", short_pages, 0, {}, Code::kCorruption, "page 3", 2, {1, 2}},
      {"column refused", links, 5, [](FakeLog* l) { l->fail_column = u"LinkInfo2"; },
       Code::kNotFound, "hyperlinks table, page 2 item 1, column LinkInfo2", 0, {1}},
      {"table does not open", links, 0, [](FakeLog* l) { l->fail_open_recordset = 0; },
       Code::kNotFound, "pages table, OpenRecordset", -1, {}},
      {"update refused", links, 0, [](FakeLog* l) { l->fail_update = 1; },
       Code::kIOError, "pages table, page 2, Update", 1, {1}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int32_t> done;
    Status s = Write(c.doc, c.table, &done, c.fault);
    EXPECT_EQ(s.code(), c.code) << s.ToString();
    EXPECT_THAT(s.message(), ::testing::HasSubstr(c.place));
    EXPECT_EQ(done, c.pages);
    ASSERT_EQ(log_->tables.size(), c.rows < 0 ? 0u : 1u);
    if (c.rows < 0) continue;
    EXPECT_EQ(Rows().size(), size_t(c.rows));
    EXPECT_TRUE(log_->tables[0].closed);
  }
}

}  // namespace
}  // namespace kp
