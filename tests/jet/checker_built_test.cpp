// Databases the builder writes: the strict checker finds nothing wrong, and
// the project's own reader gives back exactly the rows written.
#include <gtest/gtest.h>

#include "export/jet/builder.h"
#include "export/jet/checker.h"
#include "export/jet/props.h"
#include "export/jet/reader.h"
#include "export/jet/tdef_write.h"
#include "export/output_schema.h"

namespace kp::jet {
namespace {

TableDef MakeTable(const char16_t* name, std::vector<std::pair<const char16_t*, ColumnType>> cols) {
  TableDef d;
  d.name = name;
  for (auto [n, t] : cols) {
    ColumnDef c;
    c.name = n;
    c.type = t;
    c.length = t == ColumnType::kText ? 510 : 0;
    d.columns.push_back(c);
  }
  EXPECT_TRUE(AssignColumnLayout(&d).ok());
  return d;
}

void ExpectStrictlyClean(const Bytes& image) {
  CheckReport report;
  CheckOptions strict;
  strict.strict = true;
  ASSERT_TRUE(CheckDatabaseImage(image, strict, &report).ok());
  EXPECT_TRUE(report.ok()) << report.ToString();
}

// Reads `def.name` back and compares with `rows` (a Boolean Null reads false;
// the reader keeps empty texts empty).
void ExpectRows(const DatabaseReader& reader, const TableDef& def, const std::vector<Row>& rows) {
  TableDef got;
  ASSERT_TRUE(reader.ReadTableDef(def.name, &got).ok());
  ASSERT_EQ(got.columns.size(), def.columns.size());
  for (size_t c = 0; c < def.columns.size(); ++c) {
    EXPECT_EQ(got.columns[c].name, def.columns[c].name);
    EXPECT_EQ(got.columns[c].type, def.columns[c].type);
  }
  std::vector<Row> read;
  ASSERT_TRUE(reader.ReadRows(got, &read).ok());
  ASSERT_EQ(read.size(), rows.size());
  EXPECT_EQ(got.row_count, rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < def.columns.size(); ++c) {
      Value want = rows[r][c];
      if (def.columns[c].type == ColumnType::kBoolean && want.is_null()) want = Value::Bool(false);
      EXPECT_TRUE(read[r][c] == want) << "row " << r << " column " << c;
    }
  }
}

TEST(CheckerBuiltTest, EveryColumnKindAndLongValueSize) {
  const TableDef def = MakeTable(u"種類", {{u"Flag", ColumnType::kBoolean},
                                           {u"Small", ColumnType::kByte},
                                           {u"Mid", ColumnType::kInteger},
                                           {u"Big", ColumnType::kLong},
                                           {u"Label", ColumnType::kText},
                                           {u"Note", ColumnType::kMemo}});
  const Value n = Value::Null();
  std::vector<Row> rows = {
      {Value::Bool(false), Value::Int(0), Value::Int(-32768), Value::Int(INT32_MIN), Value::Str(u""), Value::Str(u"")},
      {Value::Bool(true), Value::Int(255), Value::Int(32767), Value::Int(INT32_MAX),
       Value::Str(std::u16string(255, u'漢')), Value::Str(u"日本語のメモ")},
      {n, n, n, n, n, n},
  };
  for (size_t bytes : {size_t(0), size_t(64), size_t(65), size_t(4072), size_t(4073), size_t(9000)}) {
    rows.push_back({n, n, n, Value::Int(int64_t(bytes)), n, Value::Str(std::u16string(bytes / 2, u'あ'))});
  }
  DatabaseSpec layout;
  layout.tables.push_back(TableSpec{def, rows});
  Bytes image;
  ASSERT_TRUE(BuildDatabase(layout, &image).ok());
  ExpectStrictlyClean(image);
  std::unique_ptr<DatabaseReader> reader;
  ASSERT_TRUE(DatabaseReader::OpenBytes(image, &reader).ok());
  ExpectRows(*reader, def, rows);
}

TEST(CheckerBuiltTest, ManyRowsOverSeveralPages) {
  const TableDef def = MakeTable(u"Rows", {{u"ID", ColumnType::kLong}, {u"Name", ColumnType::kText}});
  std::vector<Row> rows;
  for (int i = 0; i < 1200; ++i) {
    rows.push_back({Value::Int(i), i % 7 == 0 ? Value::Null() : Value::Str(u"row " + std::u16string(i % 40, u'r'))});
  }
  DatabaseSpec layout;
  layout.tables.push_back(TableSpec{def, rows});
  Bytes image;
  ASSERT_TRUE(BuildDatabase(layout, &image).ok());
  ExpectStrictlyClean(image);
  std::unique_ptr<DatabaseReader> reader;
  ASSERT_TRUE(DatabaseReader::OpenBytes(image, &reader).ok());
  ExpectRows(*reader, def, rows);
}

TEST(CheckerBuiltTest, TheSixOutputTablesWithTheirProperties) {
  std::vector<TableDef> tables;
  ASSERT_TRUE(OutputTableDefs(&tables).ok());
  DatabaseSpec layout;
  for (const auto& t : tables) layout.tables.push_back(TableSpec{t, {}});
  Bytes image;
  ASSERT_TRUE(BuildDatabase(layout, &image).ok());
  ExpectStrictlyClean(image);
  std::unique_ptr<DatabaseReader> reader;
  ASSERT_TRUE(DatabaseReader::OpenBytes(image, &reader).ok());
  EXPECT_EQ(reader->ListTables().size(), 6u);
  for (const auto& t : tables) {
    TableDef got;
    ASSERT_TRUE(reader->ReadTableDef(t.name, &got).ok());
    for (const auto& c : got.columns) {
      if (c.type == ColumnType::kText || c.type == ColumnType::kMemo) {
        EXPECT_EQ(ColumnAllowZeroLength(got.properties, c.name), true);
        EXPECT_NE(ColumnRequired(got.properties, c.name), true);
      }
      if (c.name == u"Angle") EXPECT_EQ(ColumnDefaultValue(got.properties, c.name), u"0");
    }
  }
}

}  // namespace
}  // namespace kp::jet
