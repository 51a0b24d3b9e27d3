// Appending through the engine: the template's tables and tables of every
// shape read back by three readers, page and memo boundaries, errors that
// leave the row set good only for Close, and a database released without
// Close in the middle of a table.
#include <gtest/gtest.h>

#include <limits>

#include "export/jet/engine.h"
#include "tests/jet/engine_support.h"

namespace kp::jet {
namespace {

using namespace testing;

std::u16string Japanese(size_t n) {
  std::u16string s;
  for (size_t i = 0; i < n; ++i) s.push_back(char16_t(u'あ' + i % 80));
  return s;
}

struct Opened {
  std::unique_ptr<DBEngine> engine = CreateJetEngine();
  std::unique_ptr<Database> db;
  std::unique_ptr<Recordset> rs;
};

Opened Open(const std::string& path, const std::u16string& table) {
  Opened o;
  Status s = o.engine->OpenDatabase(path, &o.db);
  EXPECT_TRUE(s.ok()) << s.ToString();
  if (s.ok()) s = o.db->OpenRecordset(u"SELECT * FROM [" + table + u"]", &o.rs);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return o;
}

// Adds one row, assigning `values` by name; returns the first failure.
Status AddRow(Recordset* rs, const std::vector<std::pair<std::u16string, Value>>& values) {
  KP_RETURN_IF_ERROR(rs->AddNew());
  for (const auto& [name, v] : values) KP_RETURN_IF_ERROR(rs->SetField(name, v));
  return rs->Update();
}

TEST(EngineAppend, TemplateTablesReadBackThreeWays) {
  const std::string path = KpCopy("append_kp.mdb");
  {
    Opened o = Open(path, u"一覧_ページ");
    ASSERT_TRUE(o.rs);
    // Angle is not assigned in the first row: it keeps its default 0.
    ASSERT_TRUE(AddRow(o.rs.get(), {{u"No", Value::Int(1)}, {u"Name", Value::Null()}, {u"IsTag", Value::Bool(true)},
                                    {u"Level", Value::Int(0)}, {u"FileName", Value::Str(u"p1.png")},
                                    {u"ImageLen", Value::Int(123)}}).ok());
    ASSERT_TRUE(AddRow(o.rs.get(), {{u"No", Value::Int(2)}, {u"Name", Value::Str(u" ")}, {u"IsTag", Value::Bool(false)},
                                    {u"Level", Value::Int(255)}, {u"FileName", Value::Str(u"")},
                                    {u"ImageLen", Value::Int(std::numeric_limits<int32_t>::max())},
                                    {u"Angle", Value::Int(270)}}).ok());
    ASSERT_TRUE(AddRow(o.rs.get(), {{u"No", Value::Int(3)}, {u"Name", Value::Str(u"見出し・ページ")},
                                    {u"IsTag", Value::Bool(true)}, {u"Level", Value::Int(7)},
                                    {u"FileName", Value::Str(Japanese(255))},
                                    {u"ImageLen", Value::Int(std::numeric_limits<int32_t>::min())},
                                    {u"Angle", Value::Int(-32768)}}).ok());
    ASSERT_TRUE(o.rs->Close().ok());
    std::unique_ptr<Recordset> comments;
    ASSERT_TRUE(o.db->OpenRecordset(u"SELECT * FROM [一覧_コメント]", &comments).ok());
    // Memo lengths around the inline limit (64 bytes), one LVAL row (4076)
    // and the chain chunk (4072), in UCS-2 and compressed.
    int id = 0;
    for (size_t chars : {0, 1, 32, 33, 2036, 2038, 2039, 4500, 9000}) {
      ASSERT_TRUE(AddRow(comments.get(), {{u"PageNo", Value::Int(1)}, {u"ID", Value::Int(++id)},
                                          {u"Color", Value::Int(-1)}, {u"Left", Value::Int(32767)},
                                          {u"Top", Value::Int(0)}, {u"Text", Value::Str(Japanese(chars))}}).ok());
    }
    for (size_t chars : {63, 64, 65, 1024, 1025, 5000}) {
      ASSERT_TRUE(AddRow(comments.get(), {{u"PageNo", Value::Int(2)}, {u"ID", Value::Int(++id)},
                                          {u"Text", Value::Str(std::u16string(chars, u'k'))}}).ok());
    }
    ASSERT_TRUE(comments->Close().ok());
    ASSERT_TRUE(o.db->Close().ok());
  }
  ExpectCheckerClean(path);
  ExpectRowsThreeWays(path, u"一覧_ページ",
                      {{Value::Int(1), Value::Null(), Value::Bool(true), Value::Int(0), Value::Str(u"p1.png"),
                        Value::Int(123), Value::Int(0)},
                       {Value::Int(2), Value::Str(u" "), Value::Bool(false), Value::Int(255), Value::Str(u""),
                        Value::Int(std::numeric_limits<int32_t>::max()), Value::Int(270)},
                       {Value::Int(3), Value::Str(u"見出し・ページ"), Value::Bool(true), Value::Int(7),
                        Value::Str(Japanese(255)), Value::Int(std::numeric_limits<int32_t>::min()),
                        Value::Int(-32768)}});
  std::vector<Row> comments;
  int id = 0;
  for (size_t chars : {0, 1, 32, 33, 2036, 2038, 2039, 4500, 9000}) {
    comments.push_back({Value::Int(1), Value::Int(++id), Value::Int(-1), Value::Int(32767), Value::Int(0),
                        Value::Str(Japanese(chars))});
  }
  for (size_t chars : {63, 64, 65, 1024, 1025, 5000}) {
    comments.push_back({Value::Int(2), Value::Int(++id), Value::Null(), Value::Null(), Value::Null(),
                        Value::Str(std::u16string(chars, u'k'))});
  }
  ExpectRowsThreeWays(path, u"一覧_コメント", comments);
}

// Row of (Long, Text) with k Japanese characters: 13 + 2k bytes.
TEST(EngineAppend, PageFilledExactlyThenANewPage) {
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
  for (const Case& c : cases) {
    ASSERT_TRUE(db->OpenRecordset(u"SELECT * FROM [一覧_ページ]", &rs).ok());
    ASSERT_TRUE(rs->AddNew().ok());
    Status s = rs->SetField(c.column, c.value);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.message().find(c.says), std::string::npos) << s.message();
    EXPECT_NE(s.message().find("一覧_ページ"), std::string::npos) << s.message();
    EXPECT_FALSE(rs->Update().ok());
    EXPECT_FALSE(rs->AddNew().ok());
    EXPECT_TRUE(rs->Close().ok());
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
  t.columns = {Col(u"Req", ColumnType::kLong), Col(u"NoEmpty", ColumnType::kText, 10), Col(u"A", ColumnType::kText, 255),
               Col(u"B", ColumnType::kText, 255), Col(u"C", ColumnType::kText, 255), Col(u"D", ColumnType::kText, 255),
               Col(u"E", ColumnType::kText, 255), Col(u"F", ColumnType::kText, 255), Col(u"G", ColumnType::kText, 255),
               Col(u"H", ColumnType::kText, 255), Col(u"I", ColumnType::kText, 255)};
  AllowEmpty(&t);
  t.properties.columns[u"NoEmpty"].erase(u"AllowZeroLength");
  Property required;
  required.type = uint8_t(ColumnType::kBoolean);
  required.ddl_flag = 1;
  required.value = {1};
  t.properties.columns[u"Req"][u"Required"] = required;
  const std::string path = MakeDatabase("append_rules.mdb", {t});
  auto engine = CreateJetEngine();
  std::unique_ptr<Database> db;
  ASSERT_TRUE(engine->OpenDatabase(path, &db).ok());
  std::unique_ptr<Recordset> rs;
  ASSERT_TRUE(db->OpenRecordset(u"SELECT * FROM [Rules]", &rs).ok());
  ASSERT_TRUE(AddRow(rs.get(), {{u"Req", Value::Int(1)}, {u"A", Value::Str(u"")}}).ok());
  Status s = AddRow(rs.get(), {{u"NoEmpty", Value::Str(u"x")}});
  EXPECT_NE(s.message().find("column Req: a value is required"), std::string::npos) << s.message();
  rs->Close();
  ASSERT_TRUE(db->OpenRecordset(u"SELECT * FROM [Rules]", &rs).ok());
  s = AddRow(rs.get(), {{u"Req", Value::Int(2)}, {u"NoEmpty", Value::Str(u"")}});
  EXPECT_NE(s.message().find("column NoEmpty: zero-length text"), std::string::npos) << s.message();
  rs->Close();
  ASSERT_TRUE(db->OpenRecordset(u"SELECT * FROM [Rules]", &rs).ok());
  std::vector<std::pair<std::u16string, Value>> big = {{u"Req", Value::Int(3)}};
  for (const char16_t* c : {u"A", u"B", u"C", u"D", u"E", u"F", u"G", u"H", u"I"}) big.push_back({c, Value::Str(Japanese(255))});
  s = AddRow(rs.get(), big);
  EXPECT_NE(s.message().find("longer than 4060"), std::string::npos) << s.message();
  rs->Close();
  ASSERT_TRUE(db->Close().ok());
  const std::vector<Row> rows = ReadBack(path, u"Rules");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], Value::Int(1));
  ExpectCheckerClean(path);
}

// The export's failure path: a bad value in the middle of a table, the
// database released without Close.
TEST(EngineAppend, ReleasedAfterAFailureHoldsExactlyTheUpdatedRows) {
  const std::string path = KpCopy("append_midway.mdb");
  std::vector<Row> want;
  {
    Opened o = Open(path, u"一覧_キーワード");
    ASSERT_TRUE(o.rs);
    for (int i = 0; i < 700; ++i) {
      want.push_back({Value::Int(1 + i / 10), Value::Int(1 + i % 10), Value::Int(i), Value::Int(-i), Value::Int(10),
                      Value::Int(20), Value::Str(Japanese(i % 40)), Value::Str(u"field")});
      ASSERT_TRUE(AddRow(o.rs.get(), {{u"PageNo", want.back()[0]}, {u"ID", want.back()[1]}, {u"Left", want.back()[2]},
                                      {u"Top", want.back()[3]}, {u"Width", want.back()[4]},
                                      {u"Height", want.back()[5]}, {u"KeyWord", want.back()[6]},
                                      {u"Field", want.back()[7]}}).ok());
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
  bool ok = false;
  const size_t by_mdbtools = RowsByMdbtools(path, "一覧_範囲マーク", &ok).size();
  if (ok) EXPECT_EQ(by_mdbtools, n);
  const size_t by_mdb_reader = RowsByMdbReader(path, "一覧_範囲マーク", &ok).size();
  if (ok) EXPECT_EQ(by_mdb_reader, n);
}

}  // namespace
}  // namespace kp::jet
