// Appending through the engine: the template's tables and tables of every
// shape read back by three readers, page and memo boundaries, errors that
// leave the row set good only for Close, and a database released without
// Close in the middle of a table.
#include <gtest/gtest.h>

#include <limits>

#include "jet/engine.h"
#include "jet/props.h"
#include "tests/jet/engine_support.h"

namespace kp::jet {
namespace {

using namespace testing;

TEST(EngineAppend, TemplateTablesReadBackThreeWays) {
  KP_SKIP_WITHOUT_ORACLES();
  const std::string path = KpCopy("append_kp.mdb");
  const int32_t max = std::numeric_limits<int32_t>::max(), min = std::numeric_limits<int32_t>::min();
  const std::vector<std::u16string> page_columns = {u"No",       u"Name",     u"IsTag", u"Level",
                                                    u"FileName", u"ImageLen", u"Angle"};
  const std::vector<Row> pages = {
      {Value::Int(1), Value::Null(), Value::Bool(true), Value::Int(0), Value::Str(u"p1.png"), Value::Int(123),
       Value::Int(0)},
      {Value::Int(2), Value::Str(u" "), Value::Bool(false), Value::Int(255), Value::Str(u""), Value::Int(max),
       Value::Int(270)},
      {Value::Int(3), Value::Str(u"見出し・ページ"), Value::Bool(true), Value::Int(7), Value::Str(Japanese(255)),
       Value::Int(min), Value::Int(-32768)}};
  // Memo lengths around the inline limit (64 bytes), one LVAL row (4076)
  // and the chain chunk (4072), in UCS-2 and compressed.
  const std::vector<std::u16string> comment_columns = {u"PageNo", u"ID", u"Color", u"Left", u"Top", u"Text"};
  std::vector<Row> comments;
  for (size_t chars : {0, 1, 32, 33, 2036, 2038, 2039, 4500, 9000}) {
    comments.push_back({Value::Int(1), Value::Int(int(comments.size()) + 1), Value::Int(-1), Value::Int(32767),
                        Value::Int(0), Value::Str(Japanese(chars))});
  }
  for (size_t chars : {63, 64, 65, 1024, 1025, 5000}) {  // Color, Left and Top not assigned
    comments.push_back({Value::Int(2), Value::Int(int(comments.size()) + 1), Value::Null(), Value::Null(),
                        Value::Null(), Value::Str(std::u16string(chars, u'k'))});
  }
  {
    Opened o = Open(path, u"一覧_ページ");
    ASSERT_TRUE(o.rs);
    for (size_t r = 0; r < pages.size(); ++r) {
      Assignments a;  // Angle is not assigned in the first row: it keeps its default 0
      for (size_t c = 0; c + (r == 0) < page_columns.size(); ++c) a.push_back({page_columns[c], pages[r][c]});
      ASSERT_TRUE(AddRow(o.rs.get(), a).ok());
    }
    ASSERT_TRUE(o.rs->Close().ok());
    ASSERT_TRUE(o.db->OpenRecordset(u"SELECT * FROM [一覧_コメント]", &o.rs).ok());
    for (const Row& row : comments) {
      Assignments a;
      for (size_t c = 0; c < comment_columns.size(); ++c) {
        if (!row[c].is_null()) a.push_back({comment_columns[c], row[c]});
      }
      ASSERT_TRUE(AddRow(o.rs.get(), a).ok());
    }
    ASSERT_TRUE(o.rs->Close().ok());
    ASSERT_TRUE(o.db->Close().ok());
  }
  ExpectCheckerClean(path);
  ExpectRowsThreeWays(path, u"一覧_ページ", pages);
  ExpectRowsThreeWays(path, u"一覧_コメント", comments);
}

// Row of (Long, Text) with k Japanese characters: 13 + 2k bytes.
TEST(EngineAppend, PageFilledExactlyThenANewPage) {
  KP_SKIP_WITHOUT_ORACLES();
  TableDef t;
  t.name = u"T";
  t.columns = {Col(u"N", ColumnType::kLong), Col(u"S", ColumnType::kText, 255)};
  const std::string path = MakeDatabase("append_exact.mdb", {t});
  std::vector<Row> rows;
  {
    Opened o = Open(path, u"T");
    ASSERT_TRUE(o.rs);
    // 17 rows of 213 bytes and one of 425: 17 * 215 + 427 = 4082, the page is full.
    for (int i = 0; i < 19; ++i) {
      const size_t chars = i < 17 ? 100 : (i == 17 ? 206 : 1);
      rows.push_back({Value::Int(i), Value::Str(Japanese(chars))});
      ASSERT_TRUE(AddRow(o.rs.get(), {{u"N", rows.back()[0]}, {u"S", rows.back()[1]}}).ok());
    }
  }  // released without Close: written all the same
  ExpectCheckerClean(path);
  ExpectRowsThreeWays(path, u"T", rows);
  std::unique_ptr<DatabaseReader> reader;
  ASSERT_TRUE(DatabaseReader::Open(path, &reader).ok());
  TableDef def;
  ASSERT_TRUE(reader->ReadTableDef(u"T", &def).ok());
  EXPECT_EQ(def.row_count, 19u);
  std::vector<uint32_t> owned, free_pages;
  ASSERT_TRUE(reader->OwnedPages(def, &owned).ok());
  ASSERT_EQ(owned.size(), 2u);
  EXPECT_EQ(GetU16(reader->file().Page(owned[0]) + 2), 0);  // no free space left
  ASSERT_TRUE(reader->ReadUsageMap(def.free_map, &free_pages).ok());
  EXPECT_EQ(free_pages, std::vector<uint32_t>{owned[1]});
}

TEST(EngineAppend, The256thRowGoesToANewPageAndReopeningContinues) {
  KP_SKIP_WITHOUT_ORACLES();
  TableDef t;
  t.name = u"Small";
  t.columns = {Col(u"B", ColumnType::kByte)};
  const std::string path = MakeDatabase("append_256.mdb", {t});
  std::vector<Row> rows;
  for (int round = 0; round < 2; ++round) {
    Opened o = Open(path, u"Small");
    ASSERT_TRUE(o.rs);
    for (int i = 0; i < 200; ++i) {
      rows.push_back({Value::Int(i % 256)});
      ASSERT_TRUE(AddRow(o.rs.get(), {{u"B", rows.back()[0]}}).ok());
    }
    ASSERT_TRUE(o.db->Close().ok());
    ExpectCheckerClean(path);
  }
  ExpectRowsThreeWays(path, u"Small", rows);
  std::unique_ptr<DatabaseReader> reader;
  ASSERT_TRUE(DatabaseReader::Open(path, &reader).ok());
  TableDef def;
  ASSERT_TRUE(reader->ReadTableDef(u"Small", &def).ok());
  std::vector<uint32_t> owned;
  ASSERT_TRUE(reader->OwnedPages(def, &owned).ok());
  ASSERT_EQ(owned.size(), 2u);  // the second session filled the first page up to 255 rows
  EXPECT_EQ(GetU16(reader->file().Page(owned[0]) + 12), 255);
  EXPECT_EQ(GetU16(reader->file().Page(owned[1]) + 12), 145);
}

TEST(EngineAppend, ErrorsSayWhatAndLeaveOnlyClose) {
  const std::string path = KpCopy("append_errors.mdb");
  auto engine = CreateJetEngine();
  std::unique_ptr<Database> db;
  ASSERT_TRUE(engine->OpenDatabase(path, &db).ok());
  std::unique_ptr<Recordset> rs;
  EXPECT_TRUE(db->OpenRecordset(u"SELECT No FROM [一覧_ページ]", &rs).IsInvalidArgument());
  EXPECT_TRUE(db->OpenRecordset(u"SELECT * FROM [no such table]", &rs).IsNotFound());
  EXPECT_TRUE(db->OpenRecordset(u"SELECT * FROM [MSysObjects]", &rs).IsNotSupported());

  struct Case {
    std::u16string column;
    Value value;
    std::string says;
  };
  const std::vector<Case> cases = {
      {u"Nope", Value::Int(1), "no column Nope"},
      {u"Level", Value::Int(256), "does not fit Byte"},
      {u"Level", Value::Int(-1), "does not fit Byte"},
      {u"Angle", Value::Int(32768), "does not fit Integer"},
      {u"No", Value::Int(int64_t(std::numeric_limits<int32_t>::max()) + 1), "does not fit Long"},
      {u"IsTag", Value::Int(1), "Boolean column"},
      {u"No", Value::Str(u"1"), "Long column"},
  };
  // Each through SetField, then through the typed setter, then through the
  // typed setter by position, which must all refuse alike.
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    std::string first;
    for (const int way : {0, 1, 2}) {
      ASSERT_TRUE(db->OpenRecordset(u"SELECT * FROM [一覧_ページ]", &rs).ok());
      ASSERT_TRUE(rs->AddNew().ok());
      const bool text = c.value.kind == Value::Kind::kText;
      int at = -1;
      if (way == 2) {
        Status found = rs->FindColumn(c.column, &at);
        if (!found.ok()) {  // no such column: said at once, and the row set goes on
          EXPECT_NE(found.message().find(c.says), std::string::npos) << found.message();
          EXPECT_TRUE(rs->SetIntegerAt(0, 1).ok());
          EXPECT_TRUE(rs->Close().ok());
          continue;
        }
      }
      Status s = way == 0 ? rs->SetField(c.column, c.value)
                 : way == 1 ? (text ? rs->SetText(c.column, c.value.text) : rs->SetInteger(c.column, c.value.i))
                            : (text ? rs->SetTextAt(at, c.value.text) : rs->SetIntegerAt(at, c.value.i));
      EXPECT_FALSE(s.ok());
      if (way == 0) first = s.ToString();
      EXPECT_EQ(s.ToString(), first);
      EXPECT_NE(s.message().find(c.says), std::string::npos) << s.message();
      EXPECT_NE(s.message().find("一覧_ページ"), std::string::npos) << s.message();
      EXPECT_FALSE(rs->Update().ok());
      EXPECT_FALSE(rs->AddNew().ok());
      EXPECT_TRUE(rs->Close().ok());
    }
  }
  ASSERT_TRUE(db->OpenRecordset(u"SELECT * FROM [一覧_ページ]", &rs).ok());
  EXPECT_FALSE(rs->Update().ok());  // no AddNew
  EXPECT_TRUE(rs->Close().ok());
  ASSERT_TRUE(db->Close().ok());
  EXPECT_TRUE(ReadBack(path, u"一覧_ページ").empty());
  ExpectCheckerClean(path);
}

TEST(EngineAppend, RequiredAndZeroLengthRulesAndTooLargeRows) {
  TableDef t;
  t.name = u"Rules";
  t.columns = {Col(u"Req", ColumnType::kLong), Col(u"NoEmpty", ColumnType::kText, 10)};
  Assignments big = {{u"Req", Value::Int(3)}};
  for (const char16_t* c : {u"A", u"B", u"C", u"D", u"E", u"F", u"G", u"H", u"I"}) {
    t.columns.push_back(Col(c, ColumnType::kText, 255));
    big.push_back({c, Value::Str(Japanese(255))});
  }
  AllowEmpty(&t);
  t.properties.columns[u"NoEmpty"].erase(u"AllowZeroLength");
  t.properties.columns[u"Req"][u"Required"] = BoolProperty(true);
  const std::string path = MakeDatabase("append_rules.mdb", {t});
  {
    Opened o = Open(path, u"Rules");
    ASSERT_TRUE(o.rs);
    ASSERT_TRUE(AddRow(o.rs.get(), {{u"Req", Value::Int(1)}, {u"A", Value::Str(u"")}}).ok());
    const std::pair<Assignments, const char*> refused[] = {
        {{{u"NoEmpty", Value::Str(u"x")}}, "column Req: a value is required"},
        {{{u"Req", Value::Int(2)}, {u"NoEmpty", Value::Str(u"")}}, "column NoEmpty: zero-length text"},
        {big, "longer than 4060"}};
    for (const auto& [row, says] : refused) {
      const Status s = AddRow(o.rs.get(), row);
      EXPECT_NE(s.message().find(says), std::string::npos) << s.message();
      o.rs->Close();
      ASSERT_TRUE(o.db->OpenRecordset(u"SELECT * FROM [Rules]", &o.rs).ok());
    }
    o.rs->Close();
    ASSERT_TRUE(o.db->Close().ok());
  }
  const std::vector<Row> rows = ReadBack(path, u"Rules");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], Value::Int(1));
  ExpectCheckerClean(path);
}

// The export's failure path: a bad value in the middle of a table, the
// database released without Close.
TEST(EngineAppend, ReleasedAfterAFailureHoldsExactlyTheUpdatedRows) {
  KP_SKIP_WITHOUT_ORACLES();
  const std::string path = KpCopy("append_midway.mdb");
  std::vector<Row> want;
  {
    Opened o = Open(path, u"一覧_キーワード");
    ASSERT_TRUE(o.rs);
    const std::vector<std::u16string> names = {u"PageNo", u"ID",     u"Left",    u"Top",
                                               u"Width",  u"Height", u"KeyWord", u"Field"};
    for (int i = 0; i < 700; ++i) {
      want.push_back({Value::Int(1 + i / 10), Value::Int(1 + i % 10), Value::Int(i), Value::Int(-i), Value::Int(10),
                      Value::Int(20), Value::Str(Japanese(i % 40)), Value::Str(u"field")});
      Assignments a;
      for (size_t c = 0; c < names.size(); ++c) a.push_back({names[c], want.back()[c]});
      ASSERT_TRUE(AddRow(o.rs.get(), a).ok());
    }
    ASSERT_TRUE(o.rs->AddNew().ok());
    ASSERT_TRUE(o.rs->SetField(u"PageNo", Value::Int(71)).ok());
    EXPECT_FALSE(o.rs->SetField(u"Left", Value::Int(40000)).ok());
    EXPECT_FALSE(o.rs->Update().ok());
    // Released in the order the export's failure path may: row set last.
    o.db.reset();
    EXPECT_FALSE(o.rs->AddNew().ok());
  }
  ExpectCheckerClean(path);
  ExpectRowsThreeWays(path, u"一覧_キーワード", want);
}

TEST(EngineAppend, ManyRowsOutgrowInlineUsageMaps) {
  KP_SKIP_WITHOUT_ORACLES();
  const std::string path = KpCopy("append_many.mdb");
  const size_t n = 30000;  // about 700 pages: past one 512-page map window
  {
    Opened o = Open(path, u"一覧_範囲マーク");
    ASSERT_TRUE(o.rs);
    for (size_t i = 0; i < n; ++i) {
      ASSERT_TRUE(AddRow(o.rs.get(), {{u"PageNo", Value::Int(int64_t(i))}, {u"ID", Value::Int(1)},
                                      {u"Color", Value::Int(2)}, {u"Left", Value::Int(3)}, {u"Top", Value::Int(4)},
                                      {u"Width", Value::Int(5)}, {u"Height", Value::Int(6)}}).ok());
    }
    ASSERT_TRUE(o.db->Close().ok());
  }
  ExpectCheckerClean(path);
  const std::vector<Row> rows = ReadBack(path, u"一覧_範囲マーク");
  ASSERT_EQ(rows.size(), n);
  for (size_t i = 0; i < n; i += 997) EXPECT_EQ(rows[i][0], Value::Int(int64_t(i)));
  EXPECT_EQ(OutsideRowCount(path, u"一覧_範囲マーク", true), n);
  EXPECT_EQ(OutsideRowCount(path, u"一覧_範囲マーク", false), n);
}

}  // namespace
}  // namespace kp::jet
