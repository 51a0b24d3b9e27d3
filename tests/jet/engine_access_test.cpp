// Appending to the index-free tables of Access-made files (copies): the old
// rows stay as they were, the new ones read back through the project's
// reader, mdbtools and mdb-reader (tables with indexes: engine_index_test).
#include <gtest/gtest.h>

#include <filesystem>

#include "jet/engine.h"
#include "tests/jet/engine_support.h"

namespace kp::jet {
namespace {

using namespace testing;

// A value for the simple column types; Null (the default) for the others.
bool SampleValue(const ColumnDef& c, int row, Value* v) {
  switch (c.type) {
    case ColumnType::kByte: *v = Value::Int(200 + row); return true;
    case ColumnType::kInteger: *v = Value::Int(-300 - row); return true;
    case ColumnType::kLong: *v = Value::Int(123456 + row); return true;
    case ColumnType::kBoolean: *v = Value::Bool(row % 2 == 0); return true;
    case ColumnType::kText: *v = Value::Str(std::u16string(u"テスト文字列").substr(0, std::min<size_t>(6, c.length / 2))); return true;
    case ColumnType::kMemo: *v = Value::Str(std::u16string(40 + 30 * row, u'漢')); return true;
    default: return false;
  }
}

TEST(EngineAccess, IndexFreeTablesTakeRows) {
  KP_SKIP_WITHOUT_ORACLES();
  const std::vector<std::pair<const char*, const char16_t*>> tables = {
      {"delTestV2000.mdb", u"Table"},         {"fixedNumericTestV2000.mdb", u"test"},
      {"overflowTestV2000.mdb", u"Table1"},   {"queryTestV2000.mdb", u"Table1"},
      {"queryTestV2000.mdb", u"Table2"},      {"queryTestV2000.mdb", u"Table3"},
  };
  for (const auto& [file, table] : tables) {
    SCOPED_TRACE(std::string(file) + " " + Utf8(table));
    KP_SKIP_WITHOUT_REFERENCE();
    const std::string path = ReferenceCopy(file, std::string("access_") + file);
    TableDef def;
    const std::vector<Row> before = ReadBack(path, table, &def);
    const size_t mdbtools_before = OutsideRowCount(path, table, true);

    {
      Opened o = Open(path, table);
      ASSERT_TRUE(o.rs);
      for (int r = 0; r < 3; ++r) {
        Assignments a;
        for (const ColumnDef& c : def.columns) {
          Value v;
          if (SampleValue(c, r, &v)) a.push_back({c.name, v});
        }
        const Status s = AddRow(o.rs.get(), a);
        ASSERT_TRUE(s.ok()) << s.ToString();
      }
      ASSERT_TRUE(o.rs->Close().ok());
      ASSERT_TRUE(o.db->Close().ok());
    }
    ExpectCheckerClean(path);
    const std::vector<Row> after = ReadBack(path, table);
    ASSERT_EQ(after.size(), before.size() + 3);
    for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(after[i], before[i]) << "old row " << i;
    for (int r = 0; r < 3; ++r) {
      for (size_t c = 0; c < def.columns.size(); ++c) {
        Value v;
        if (SampleValue(def.columns[c], r, &v)) EXPECT_EQ(after[before.size() + r][c], v) << Utf8(def.columns[c].name);
      }
    }
    EXPECT_EQ(OutsideRowCount(path, table, true), mdbtools_before + 3);
    EXPECT_EQ(OutsideRowCount(path, table, false), before.size() + 3);
  }
}

}  // namespace
}  // namespace kp::jet
