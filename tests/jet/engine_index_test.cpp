// Appending to tables with indexes: every index gets each new row's entry,
// in order (jet-check recomputes every key from its row and finds each row
// once), the outside readers agree on the rows, and unique indexes refuse a
// key they hold, leaving the file as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "jet/engine.h"
#include "jet/format.h"
#include "jet/index_leaf.h"
#include "jet/pager.h"
#include "jet/table_appender.h"
#include "tests/jet/engine_support.h"

namespace kp::jet {
namespace {

using namespace testing;

std::u16string Num(int v) {
  const std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

// Texts that sort apart in General Legacy only through their extra bytes
// (accents, kana widths, ignored characters) or not at all (case).
std::u16string TextOf(int v, size_t max_chars, size_t filler = 0) {
  static const char16_t* const kPrefixes[] = {u"", u"é", u"E", u"ｶﾅ", u"カナ", u"a-b", u"ab", u"Ä"};
  std::u16string s = kPrefixes[v % 8] + std::u16string(filler, u'x') + Num(v);
  return s.substr(0, max_chars);
}

// The engine's values for row value `v`: numbers and texts; Null elsewhere.
bool EngineValue(const ColumnDef& c, int v, Value* out) {
  switch (c.type) {
    case ColumnType::kLong: *out = Value::Int(1000 + v); return true;
    case ColumnType::kText: *out = Value::Str(TextOf(v, c.length / 2)); return true;
    default: return false;
  }
}

std::string WritableCopy(const char* file, const std::u16string& table) {
  return ReferenceCopy(file, "index_" + Utf8(table) + "_" + file);
}

// Appends one row per value through the engine; the status of each Update.
Status AppendRows(const std::string& path, const std::u16string& table, const std::vector<int>& values,
                  std::vector<Row>* added) {
  auto engine = CreateJetEngine();
  std::unique_ptr<Database> db;
  KP_RETURN_IF_ERROR(engine->OpenDatabase(path, &db));
  std::unique_ptr<Recordset> rs;
  KP_RETURN_IF_ERROR(db->OpenRecordset(u"SELECT * FROM [" + table + u"]", &rs));
  TableDef def;
  ReadBack(path, table, &def);
  Status s;
  for (int v : values) {
    KP_RETURN_IF_ERROR(rs->AddNew());
    Row row(def.columns.size());
    for (size_t c = 0; c < def.columns.size(); ++c) {
      if (EngineValue(def.columns[c], v, &row[c])) KP_RETURN_IF_ERROR(rs->SetField(def.columns[c].name, row[c]));
    }
    s = rs->Update();
    if (!s.ok()) break;
    if (added) added->push_back(row);
  }
  rs->Close();
  Status closed = db->Close();
  return s.ok() ? closed : s;
}

std::vector<int> Values(int n, bool shuffled, int modulo = 0) {
  std::vector<int> v(n);
  for (int i = 0; i < n; ++i) v[i] = modulo ? i % modulo : i;
  if (shuffled) std::shuffle(v.begin(), v.end(), std::mt19937(42));
  return v;
}

TEST(EngineIndex, AccessTablesKeepEveryIndex) {
  KP_SKIP_WITHOUT_ORACLES();
  struct Case {
    const char* file;
    const char16_t* table;
    int rows;
    bool shuffled;
    int modulo;              // values repeat (non-unique keys)
    const char* refused_by;  // the unique index a repeated first row meets
  };
  const Case cases[] = {
      {"indexTestV2000.mdb", u"Table2", 500, false, 0, "PrimaryKey"},
      {"indexTestV2000.mdb", u"Table3", 2000, true, 0, "PrimaryKey"},
      {"bigIndexTestV2000.mdb", u"Table1", 3000, true, 700, nullptr},
      {"testV2000.mdb", u"Table1", 1500, true, 0, "PrimaryKey"},
      {"testV2000.mdb", u"Table2", 800, false, 0, "PrimaryKey"},
      {"test2V2000.mdb", u"MSP_PROJECTS", 300, true, 0, "I_MSP_PROJECTS"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.file) + " " + Utf8(k.table));
    if (!std::filesystem::exists(ReferencePath(k.file))) GTEST_SKIP() << "no reference files";
    const std::string path = WritableCopy(k.file, k.table);
    TableDef def;
    const size_t before = ReadBack(path, k.table, &def).size();
    std::vector<Row> added;
    Status s = AppendRows(path, k.table, Values(k.rows, k.shuffled, k.modulo), &added);
    ASSERT_TRUE(s.ok()) << s.ToString();
    ExpectCheckerClean(path);
    ASSERT_EQ(ReadBack(path, k.table).size(), before + k.rows);
    // The outside readers give the new rows' values (the columns set).
    std::vector<size_t> set;
    Value unused;
    for (size_t c = 0; c < def.columns.size(); ++c) {
      if (EngineValue(def.columns[c], 0, &unused)) set.push_back(c);
    }
    auto project = [&](const std::vector<std::string>& lines) {
      std::vector<std::string> out;
      for (size_t i = lines.size() - k.rows; i < lines.size(); ++i) {
        std::vector<std::string> fields(1);
        for (char ch : lines[i]) {
          if (ch == '|') {
            fields.emplace_back();
          } else {
            fields.back().push_back(ch);
          }
        }
        std::string line;
        for (size_t c : set) line += (c < fields.size() ? fields[c] : "?") + "|";
        out.push_back(line);
      }
      return out;
    };
    for (bool mdbtools : {true, false}) {
      bool ok = false;
      const std::vector<std::string> got = mdbtools ? RowsByMdbtools(path, Utf8(k.table), &ok)
                                                    : RowsByMdbReader(path, Utf8(k.table), &ok);
      ASSERT_TRUE(ok) << (mdbtools ? "mdbtools" : "mdb-reader") << " cannot read it";
      ASSERT_EQ(got.size(), before + k.rows) << mdbtools;
      EXPECT_EQ(project(got), project(PrintedRows(def, added, mdbtools))) << mdbtools;
    }
    // Compaction carries the grown indexes over.
    const std::string compacted = path + ".compact";
    std::filesystem::remove(compacted);
    s = CreateJetEngine()->CompactDatabase(path, compacted);
    EXPECT_TRUE(s.ok()) << s.ToString();
    ExpectCheckerClean(compacted);
    if (k.refused_by == nullptr) continue;
    // A repeated key: refused with the index and the key named; nothing of
    // the row goes in.
    const Bytes file_before = ReadWholeFile(path);
    s = AppendRows(path, k.table, {Values(k.rows, k.shuffled)[0]}, nullptr);
    EXPECT_TRUE(s.IsInvalidArgument()) << s.ToString();
    EXPECT_NE(s.message().find(std::string("index ") + k.refused_by), std::string::npos) << s.message();
    EXPECT_NE(s.message().find("already holds the key"), std::string::npos) << s.message();
    EXPECT_EQ(ReadWholeFile(path), file_before);
  }
}

// An index page whose entries are out of order (a damaged file) is refused
// when the append reads it, naming the page, and the file stays as it was.
TEST(EngineIndex, AnIndexPageOutOfOrderIsRefused) {
  if (!std::filesystem::exists(ReferencePath("indexTestV2000.mdb"))) GTEST_SKIP() << "no reference files";
  const std::string path = WritableCopy("indexTestV2000.mdb", u"Disordered");
  TableDef def;
  ReadBack(path, u"Table2", &def);
  Bytes file = ReadWholeFile(path);
  const uint32_t root = def.physical_indexes[0].root_page;
  uint8_t* page = &file[size_t(root) * kPageSize];
  IndexPage decoded;
  ASSERT_TRUE(DecodeIndexPage(page, root, &decoded).ok());
  ASSERT_GE(decoded.entries.size(), 2u);
  // The first entry's first byte after the shared prefix, raised above the second's.
  page[kIndexEntriesOffset + GetU16(page + kIndexPrefixLengthOffset)] = 0xFF;
  WriteWholeFile(path, file);
  Status s = AppendRows(path, u"Table2", {Values(500, false)[0]}, nullptr);
  EXPECT_TRUE(s.IsCorruption()) << s.ToString();
  EXPECT_NE(s.message().find("page " + std::to_string(root) + ": entries 0 and 1 are not in strictly ascending order"),
            std::string::npos) << s.message();
  EXPECT_EQ(ReadWholeFile(path), file);
}

// The referencing side of a relationship (Table1 refers to Table2 and
// Table3 by their primary keys): a row's key must be one the referenced
// table holds, rows appended to it in the same session included; a Null
// key needs none. A key it lacks is refused, naming the relationship and
// the key, and leaves the file as it was.
TEST(EngineIndex, TheReferencingSideFindsItsKeys) {
  KP_SKIP_WITHOUT_ORACLES();
  if (!std::filesystem::exists(ReferencePath("indexTestV2000.mdb"))) GTEST_SKIP() << "no reference files";
  const std::string path = WritableCopy("indexTestV2000.mdb", u"Table1");
  std::vector<Row> table1 = ReadBack(path, u"Table1");
  auto assign = [](int id, Value fk1, Value fk2) {
    return Assignments{{u"id", Value::Int(id)}, {u"otherfk1", fk1}, {u"otherfk2", fk2}, {u"data", Value::Str(u"new")}};
  };
  {
    Opened o = Open(path, u"Table1");
    std::unique_ptr<Recordset> table2;
    ASSERT_TRUE(o.db->OpenRecordset(u"SELECT * FROM [Table2]", &table2).ok());
    ASSERT_TRUE(AddRow(table2.get(), {{u"id", Value::Int(500)}, {u"data", Value::Str(u"appended")}}).ok());
    const Assignments rows[] = {assign(100, Value::Int(0), Value::Int(13)), assign(101, Value::Int(500), Value::Int(10)),
                                assign(102, Value::Null(), Value::Null())};
    for (const Assignments& a : rows) {
      const Status s = AddRow(o.rs.get(), a);
      ASSERT_TRUE(s.ok()) << s.ToString();
      table1.push_back({a[0].second, a[1].second, a[2].second, a[3].second, Value::Int(0)});  // otherfk3 defaults to 0
    }
    ASSERT_TRUE(o.db->Close().ok());
  }
  ExpectCheckerClean(path);
  ExpectRowsThreeWays(path, u"Table1", table1);
  const struct {
    Value fk1, fk2;
    const char* message;
  } refused[] = {{Value::Int(501), Value::Int(10), "relationship Table2Table1: table Table2 has no row for otherfk1 = 501"},
                 {Value::Null(), Value::Int(9), "relationship Table3Table1: table Table3 has no row for otherfk2 = 9"}};
  for (const auto& r : refused) {
    const Bytes file_before = ReadWholeFile(path);
    Opened o = Open(path, u"Table1");
    const Status s = AddRow(o.rs.get(), assign(200, r.fk1, r.fk2));
    EXPECT_TRUE(s.IsInvalidArgument()) << s.ToString();
    EXPECT_NE(s.message().find(r.message), std::string::npos) << s.message();
    o.db->Close();
    EXPECT_EQ(ReadWholeFile(path), file_before);
  }
}

// Past a hundred thousand rows, in random order and in order: node pages
// on two levels.
TEST(EngineIndex, AGrownIndexStaysValid) {
  KP_SKIP_WITHOUT_ORACLES();
  if (!std::filesystem::exists(ReferencePath("bigIndexTestV2000.mdb"))) GTEST_SKIP() << "no reference files";
  constexpr int kRows = 120000;
  for (bool shuffled : {true, false}) {
    SCOPED_TRACE(shuffled ? "random order" : "in order");
    const std::string path = WritableCopy("bigIndexTestV2000.mdb", shuffled ? u"Shuffled" : u"Ordered");
    {
      Opened o = Open(path, u"Table1");
      ASSERT_TRUE(o.rs);
      std::vector<int> values = Values(kRows, shuffled);
      if (!shuffled) {  // in key order
        std::sort(values.begin(), values.end(), [](int a, int b) { return Num(100000 + a) < Num(100000 + b); });
      }
      for (int v : values) {
        const Status s = AddRow(o.rs.get(), {{u"col1", Value::Str(std::u16string(30, u'x') + Num(100000 + v))}});
        ASSERT_TRUE(s.ok()) << s.ToString();
      }
      ASSERT_TRUE(o.db->Close().ok());
    }
    ExpectCheckerClean(path);
    // The root is a node whose children are nodes.
    TableDef def;
    ReadBack(path, u"Table1", &def);
    const Bytes file = ReadWholeFile(path);
    IndexPage root, child;
    ASSERT_TRUE(DecodeIndexPage(&file[size_t(def.physical_indexes[0].root_page) * kPageSize], 0, &root).ok());
    ASSERT_FALSE(root.is_leaf());
    uint32_t first = 0;
    ASSERT_TRUE(IndexEntryChild(root.entries[0], &first));
    ASSERT_TRUE(DecodeIndexPage(&file[size_t(first) * kPageSize], first, &child).ok());
    EXPECT_FALSE(child.is_leaf());
    EXPECT_EQ(OutsideRowCount(path, u"Table1", true), size_t(kRows));
  }
}

// Every key type, both directions, Nulls ignored or refused, keys over
// several columns: rows from the builder, then appended in and out of order.
TEST(EngineIndex, KeysOfEveryTypeAndFlag) {
  KP_SKIP_WITHOUT_ORACLES();
  TableDef t;
  t.name = u"Keys";
  t.columns = {Col(u"b", ColumnType::kByte),      Col(u"i", ColumnType::kInteger), Col(u"l", ColumnType::kLong),
               Col(u"f", ColumnType::kBoolean),   Col(u"t", ColumnType::kText, 80), Col(u"m", ColumnType::kMemo),
               Col(u"c", ColumnType::kCurrency),  Col(u"d", ColumnType::kDouble),  Col(u"dt", ColumnType::kDateTime)};
  AllowEmpty(&t);
  ASSERT_TRUE(AssignColumnLayout(&t).ok());
  struct IndexShape {
    const char16_t* name;
    uint8_t flags;
    std::vector<std::pair<int, bool>> columns;  // position, ascending
    uint8_t kind = 0;
  };
  const std::vector<IndexShape> shapes = {
      {u"PrimaryKey", 0x89, {{2, true}}, kIndexKindPrimaryKey},
      {u"TextDown", 0x80, {{4, true}, {1, false}}},
      {u"DoubleNoNulls", 0x82, {{7, false}}},
      {u"DateMoney", 0x81, {{8, true}, {6, true}}},
      {u"Mixed", 0x80, {{0, true}, {3, false}, {5, true}}},
      {u"Needed", 0x88, {{1, true}}},
  };
  for (size_t x = 0; x < shapes.size(); ++x) {
    PhysicalIndex pi;
    pi.flags = shapes[x].flags;
    for (auto [col, asc] : shapes[x].columns) pi.columns.push_back({t.columns[col].number, uint8_t(asc ? 1 : 0)});
    t.physical_indexes.push_back(pi);
    LogicalIndex li;
    li.name = shapes[x].name;
    li.number = uint32_t(x);
    li.physical_index = uint32_t(x);
    li.kind = shapes[x].kind;
    t.logical_indexes.push_back(li);
  }
  auto row_of = [](int v) {
    Row r(9);
    r[0] = Value::Int(v % 256);
    r[1] = Value::Int((v * 7) % 30000 - 15000);
    r[2] = Value::Int(v * 3 - 50000);
    r[3] = Value::Bool(v % 3 == 0);
    r[4] = Value::Str(TextOf(v, 80));
    r[5] = v % 4 == 0 ? Value::Null() : Value::Str(std::u16string(200 + v % 100, u'ü') + Num(v));
    r[6] = Value();
    r[6].kind = Value::Kind::kCurrency;
    r[6].i = int64_t(v % 50) * 12345 - 300000;
    r[7] = v % 5 == 0 ? Value::Null() : Value::Double((v - 500) * 1.25);
    r[8] = Value::DateTime(36000.25 + v * 0.5);
    return r;
  };
  DatabaseSpec layout;
  layout.tables.push_back({t, {}});
  for (int v = 0; v < 40; ++v) layout.tables[0].rows.push_back(row_of(v));
  const std::string path = TempPath("index_keys.mdb");
  Status s = WriteDatabase(layout, path);
  ASSERT_TRUE(s.ok()) << s.ToString();

  // Out of order (a block of each at a time), then in order.
  std::vector<int> values = Values(3000, true);
  for (int& v : values) v += 40;
  for (int v = 3040; v < 4000; ++v) values.push_back(v);
  {
    std::unique_ptr<DatabaseReader> reader;
    ASSERT_TRUE(DatabaseReader::Open(path, &reader).ok());
    TableDef def;
    ASSERT_TRUE(reader->ReadTableDef(u"Keys", &def).ok());
    std::unique_ptr<Pager> pager;
    ASSERT_TRUE(Pager::Open(path, &pager).ok());
    std::unique_ptr<TableAppender> a;
    s = TableAppender::Open(pager.get(), def, true, &a);
    ASSERT_TRUE(s.ok()) << s.ToString();
    for (size_t k = 0; k < values.size(); ++k) {
      s = a->Append(row_of(values[k]));
      ASSERT_TRUE(s.ok()) << s.ToString();
      if (k % 700 == 0) {
        ASSERT_TRUE(a->Sync().ok());
        ASSERT_TRUE(pager->Flush().ok());
        pager->DropClean();
      }
    }
    // Refused rows: a repeated primary key, a repeated (dt, c), a Null where
    // an index needs a value.
    struct Bad {
      std::vector<std::pair<size_t, Value>> changes;
      const char* message;
    };
    const Bad bad[] = {
        {{}, "index PrimaryKey already holds the key l = -49769"},
        {{{2, Value::Int(999999)}}, "index DateMoney already holds the key (dt, c) = (36038.75, 3.3315)"},
        {{{2, Value::Int(999998)}, {8, Value::DateTime(1.5)}, {1, Value::Null()}}, "index Needed does not allow Null in column i"},
        {{{2, Value::Null()}}, "index PrimaryKey does not allow Null in column l"},
    };
    for (const Bad& b : bad) {
      Row r = row_of(77);
      for (const auto& [column, value] : b.changes) r[column] = value;
      s = a->Append(r);
      EXPECT_NE(s.message().find(b.message), std::string::npos) << s.ToString() << " / " << b.message;
      EXPECT_FALSE(a->damaged());
    }
    ASSERT_TRUE(a->Sync().ok());
    ASSERT_TRUE(pager->Flush().ok());
  }
  ExpectCheckerClean(path, /*strict=*/true);  // our own file
  EXPECT_EQ(ReadBack(path, u"Keys").size(), 4000u);
  EXPECT_EQ(OutsideRowCount(path, u"Keys", true), 4000u);
  EXPECT_EQ(OutsideRowCount(path, u"Keys", false), 4000u);
}

}  // namespace
}  // namespace kp::jet
