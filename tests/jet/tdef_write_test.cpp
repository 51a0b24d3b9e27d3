// TDEF serialization: long definitions split across linked pages, and
// user-table column layout. (The catalog tables' TDEFs against adox_jet4.mdb:
// build_catalog_test, whose blank database holds them.)
#include "jet/tdef_write.h"

#include <gtest/gtest.h>

#include "tests/support/jet_support.h"

namespace kp::jet {
namespace {

TEST(TdefWriteTest, LongDefinitionsContinueOnLinkedPages) {
  TableDef d;
  for (int i = 0; i < 150; ++i) {
    ColumnDef c;
    c.name = u"Column number " + std::u16string(1, char16_t(u'A' + i % 26)) + char16_t(u'a' + i / 26);
    c.type = i % 3 == 0 ? ColumnType::kMemo : ColumnType::kLong;
    d.columns.push_back(c);
  }
  ASSERT_TRUE(AssignColumnLayout(&d).ok());
  for (const auto& c : d.columns) {
    if (c.is_long_value()) d.long_value_maps.push_back({c.number, 0x1000u + c.number, 0x1100u + c.number});
  }
  Bytes logical;
  ASSERT_TRUE(EncodeTableDef(d, {}, &logical).ok());
  EXPECT_EQ(GetU32(&logical[8]), logical.size());
  EXPECT_EQ(GetU16(&logical[logical.size() - 2]), 0xFFFF);
  const size_t n = TableDefPageCount(logical.size());
  ASSERT_GE(n, 3u);
  std::vector<uint32_t> numbers;
  for (size_t i = 0; i < n; ++i) numbers.push_back(uint32_t(20 + 3 * i));
  std::vector<Bytes> pages;
  ASSERT_FALSE(SplitTableDef(logical, {20}, &pages).ok());
  ASSERT_TRUE(SplitTableDef(logical, numbers, &pages).ok());
  Bytes joined;
  for (size_t i = 0; i < n; ++i) {
    const Bytes& p = pages[i];
    EXPECT_EQ(p[0], 0x02);
    EXPECT_EQ(GetU32(&p[4]), i + 1 < n ? numbers[i + 1] : 0u);
    joined.insert(joined.end(), p.begin() + (i == 0 ? 0 : 8), p.end());
  }
  EXPECT_EQ(GetU16(&pages[0][2]), 0);
  const size_t last_used = logical.size() - 4096 - (n - 2) * 4088;
  EXPECT_EQ(GetU16(&pages[n - 1][2]), 4096 - 8 - last_used - 8);
  joined.resize(logical.size());
  joined[2] = logical[2];
  joined[3] = logical[3];
  joined[4] = logical[4];
  joined[5] = logical[5];
  EXPECT_EQ(joined, logical);
}

TEST(TdefWriteTest, LaysOutUserColumns) {
  TableDef d;
  auto add = [&](const char16_t* name, ColumnType type, uint16_t length = 0) {
    ColumnDef c;
    c.name = name;
    c.type = type;
    c.length = length;
    d.columns.push_back(c);
  };
  add(u"No", ColumnType::kLong);
  add(u"Name", ColumnType::kText, 510);
  add(u"IsTag", ColumnType::kBoolean);
  add(u"Level", ColumnType::kByte);
  add(u"Text", ColumnType::kMemo);
  add(u"Angle", ColumnType::kInteger);
  ASSERT_TRUE(AssignColumnLayout(&d).ok());
  EXPECT_EQ(d.max_cols, 6);
  const auto& c = d.columns;
  EXPECT_EQ(c[0].fixed_offset, 0);
  EXPECT_EQ(c[0].flags, 0x03);
  EXPECT_EQ(c[1].var_index, 0);
  EXPECT_EQ(c[1].flags, 0x02);
  EXPECT_EQ(c[1].ext_flags, kColumnCompressedUnicode);
  EXPECT_EQ(c[2].fixed_offset, 0);  // a Boolean lives in the null mask
  EXPECT_EQ(c[2].length, 1);
  EXPECT_EQ(c[2].var_index, 1);     // variable columns before it
  EXPECT_EQ(c[3].fixed_offset, 4);
  EXPECT_EQ(c[4].var_index, 1);
  EXPECT_EQ(c[5].fixed_offset, 5);
  EXPECT_EQ(c[5].var_index, 2);
  EXPECT_EQ(c[5].misc[0], 0x09);

  TableDef bad;
  bad.columns.resize(1);
  bad.columns[0].type = ColumnType::kText;
  bad.columns[0].length = 600;
  EXPECT_FALSE(AssignColumnLayout(&bad).ok());
  EXPECT_FALSE(AssignColumnLayout(&(bad = TableDef())).ok());
  TableDef twice = d;  // names are compared without regard to ASCII case
  twice.columns[1].name = u"NO";
  EXPECT_FALSE(AssignColumnLayout(&twice).ok());
  TableDef long_name = d;
  long_name.columns[0].name = std::u16string(65, u'x');
  Bytes logical;
  EXPECT_FALSE(EncodeTableDef(long_name, {}, &logical).ok());
}

}  // namespace
}  // namespace kp::jet
