// Databases of every column kind, built and read back three ways (the
// project's reader, mdbtools and mdb-reader) and passed through the strict
// checker: values at the limits of each type, Null
// and empty text, Japanese text, long values around every storage boundary,
// a page filled exactly, and more rows than one page may hold.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>

#include "jet/builder.h"
#include "jet/checker.h"
#include "jet/reader.h"
#include "jet/tdef_write.h"
#include "tests/jet/engine_support.h"

namespace kp::jet {
namespace {

using testing::MakeTable;
using testing::PageOf;
using testing::Utf8;

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 31 + 7);
  return b;
}

class BuildRoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "build_roundtrip_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".mdb";
  }
  void TearDown() override { std::remove(path_.c_str()); }

  // All three readers see exactly `rows` in `def`'s table under its column
  // names and types, and the strict checker finds nothing wrong.
  void ExpectReadersAgree(const TableDef& def, const std::vector<Row>& rows) {
    CheckOptions strict;
    strict.strict = true;
    CheckReport report;
    ASSERT_TRUE(CheckDatabase(path_, strict, &report).ok());
    EXPECT_TRUE(report.ok()) << report.ToString();
    TableDef got;
    testing::ReadBack(path_, def.name, &got);
    ASSERT_EQ(got.columns.size(), def.columns.size());
    for (size_t c = 0; c < def.columns.size(); ++c) {
      EXPECT_EQ(Utf8(got.columns[c].name), Utf8(def.columns[c].name));
      EXPECT_EQ(got.columns[c].type, def.columns[c].type) << Utf8(def.columns[c].name);
    }
    testing::ExpectRowsThreeWays(path_, def.name, rows);
  }

  std::string path_;
};

TEST_F(BuildRoundTripTest, EveryColumnKindAtItsLimits) {
  KP_SKIP_WITHOUT_ORACLES();
  const TableDef def = MakeTable(u"種類", {{u"Flag", ColumnType::kBoolean},
                                            {u"Small", ColumnType::kByte},
                                            {u"Mid", ColumnType::kInteger},
                                            {u"Big", ColumnType::kLong},
                                            {u"Label", ColumnType::kText},
                                            {u"Note", ColumnType::kMemo},
                                            {u"Blob", ColumnType::kOle}});
  const Value n = Value::Null();
  std::vector<Row> rows = {
      {Value::Bool(false), Value::Int(0), Value::Int(-32768), Value::Int(INT32_MIN), Value::Str(u""),
       Value::Str(u""), Value::Blob({})},
      {Value::Bool(true), Value::Int(255), Value::Int(32767), Value::Int(INT32_MAX),
       Value::Str(std::u16string(255, u'漢')), Value::Str(u"日本語のメモ"), Value::Blob({0x00, 0xFF})},
      {n, n, n, n, n, n, n},
      {Value::Bool(true), Value::Int(1), Value::Int(-1), Value::Int(-1), Value::Str(u" "),
       Value::Str(u"plain ASCII, stored compressed"), n},
      {n, n, n, n, Value::Str(u"ｶﾀｶﾅ and ひらがな and 漢字 and é"), n, n},
  };
  // Long values around each storage boundary: inline up to 64 bytes, one LVAL
  // row up to 4076, a chain of 4072-byte chunks beyond.
  for (size_t bytes : {size_t(0), size_t(64), size_t(65), size_t(4072), size_t(4073), size_t(4076), size_t(4077),
                       size_t(9000), size_t(20000)}) {
    rows.push_back({n, n, n, Value::Int(int64_t(bytes)), n, Value::Str(std::u16string(bytes / 2, u'あ')),
                    Value::Blob(Pattern(bytes))});
  }
  rows.push_back({n, n, n, n, n, Value::Str(std::u16string(62, u'x')), n});   // 64 bytes compressed
  rows.push_back({n, n, n, n, n, Value::Str(std::u16string(63, u'x')), n});   // 65 bytes compressed
  rows.push_back({n, n, n, n, n, Value::Str(std::u16string(1500, u'x')), n}); // too long to compress
  DatabaseSpec layout;
  layout.tables.push_back({def, rows});
  ASSERT_TRUE(WriteDatabase(layout, path_).ok());
  ExpectReadersAgree(def, rows);
}

TEST_F(BuildRoundTripTest, ManyRowsAndAnExactlyFilledPage) {
  KP_SKIP_WITHOUT_ORACLES();
  // Three-byte rows: the 255-row limit, not the space, ends each page.
  const TableDef flags = MakeTable(u"Flags", {{u"F", ColumnType::kBoolean}});
  std::vector<Row> flag_rows;
  for (int i = 0; i < 600; ++i) flag_rows.push_back({Value::Bool(i % 3 == 0)});

  // Rows of one Text column: 9 + 2n bytes. Seven rows of 255 characters take
  // 7 x 521 bytes with their offsets; a row of 212 characters fills the
  // remaining 435 bytes to the last byte.
  const TableDef texts = MakeTable(u"Texts", {{u"T", ColumnType::kText}});
  std::vector<Row> text_rows;
  for (int i = 0; i < 7; ++i) text_rows.push_back({Value::Str(std::u16string(255, u'頁'))});
  text_rows.push_back({Value::Str(std::u16string(212, u'満'))});
  text_rows.push_back({Value::Str(u"次")});

  DatabaseSpec layout;
  layout.tables.push_back({flags, flag_rows});
  layout.tables.push_back({texts, text_rows});
  Bytes file;
  ASSERT_TRUE(BuildDatabase(layout, &file).ok());
  // Flags: TDEF 16, maps 17, data 18-20 with 255, 255 and 90 rows.
  EXPECT_EQ(GetU16(&PageOf(file, 18)[12]), 255);
  EXPECT_EQ(GetU16(&PageOf(file, 19)[12]), 255);
  EXPECT_EQ(GetU16(&PageOf(file, 20)[12]), 90);
  EXPECT_EQ(GetU32(&PageOf(file, 16)[16]), 600u);  // row count
  // Texts: TDEF 21, maps 22, data 23 (full) and 24.
  const Bytes full = PageOf(file, 23);
  EXPECT_EQ(GetU16(&full[2]), 0);
  EXPECT_EQ(GetU16(&full[12]), 8);
  EXPECT_EQ(GetU16(&full[14 + 2 * 7]), 14 + 2 * 8);  // the last row starts right after the offsets
  EXPECT_EQ(GetU16(&PageOf(file, 24)[12]), 1);
  // The full page is owned but not in the free-space map (row 1 of page 22).
  const Bytes maps = PageOf(file, 22);
  const size_t owned = GetU16(&maps[14]);
  const size_t free = GetU16(&maps[16]);
  EXPECT_EQ(maps[owned + 5 + 23 / 8] & (1 << (23 % 8)), 1 << (23 % 8));
  EXPECT_EQ(maps[free + 5 + 23 / 8] & (1 << (23 % 8)), 0);
  EXPECT_NE(maps[free + 5 + 24 / 8] & (1 << (24 % 8)), 0);

  ASSERT_TRUE(WriteDatabase(layout, path_).ok());
  ExpectReadersAgree(flags, flag_rows);
  ExpectReadersAgree(texts, text_rows);
}

TEST_F(BuildRoundTripTest, TablesLargerThanOneMapWindow) {
  KP_SKIP_WITHOUT_ORACLES();
  // One row per page: 530 data pages do not fit a 512-page inline map, so the
  // table's maps become reference maps with bitmap pages.
  std::vector<std::pair<const char16_t*, ColumnType>> cols = {
      {u"C0", ColumnType::kText}, {u"C1", ColumnType::kText}, {u"C2", ColumnType::kText},
      {u"C3", ColumnType::kText}, {u"C4", ColumnType::kText}, {u"C5", ColumnType::kText},
      {u"C6", ColumnType::kText}, {u"N", ColumnType::kLong}};
  const TableDef def = MakeTable(u"Wide", cols);
  std::vector<Row> rows;
  for (int i = 0; i < 530; ++i) {
    Row r(8, Value::Str(std::u16string(255, char16_t(u'一' + i))));
    r[7] = Value::Int(i);
    rows.push_back(r);
  }
  DatabaseSpec layout;
  layout.tables.push_back({def, rows});
  Bytes file;
  ASSERT_TRUE(BuildDatabase(layout, &file).ok());
  const Bytes maps = PageOf(file, 17);
  EXPECT_EQ(maps[GetU16(&maps[14])], 0x01);  // owned map: reference type
  ASSERT_TRUE(WriteDatabase(layout, path_).ok());
  ExpectReadersAgree(def, rows);
}

TEST_F(BuildRoundTripTest, BadRowsNameTheirTableRowAndColumn) {
  const TableDef def = MakeTable(u"Checked", {{u"Small", ColumnType::kByte}, {u"Label", ColumnType::kText}});
  DatabaseSpec layout;
  layout.tables.push_back({def, {{Value::Int(1), Value::Str(u"ok")}, {Value::Int(256), Value::Null()}}});
  Bytes file;
  Status s = BuildDatabase(layout, &file);
  EXPECT_TRUE(s.IsInvalidArgument());
  EXPECT_NE(s.message().find("table Checked"), std::string::npos) << s.ToString();
  EXPECT_NE(s.message().find("row 2"), std::string::npos) << s.ToString();
  EXPECT_NE(s.message().find("column Small"), std::string::npos) << s.ToString();

  // A failed write leaves nothing at the destination.
  EXPECT_FALSE(WriteDatabase(layout, path_).ok());
  EXPECT_TRUE(testing::ReadWholeFile(path_).empty());
  EXPECT_TRUE(testing::ReadWholeFile(path_ + ".tmp").empty());
}

}  // namespace
}  // namespace kp::jet
