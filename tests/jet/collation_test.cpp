#include <gtest/gtest.h>

#include "jet/collation.h"

namespace kp::jet {
namespace {

Bytes TextKey(const std::u16string& s, bool ascending = true) {
  Bytes k;
  AppendGeneralLegacyTextKeyBytes(s, ascending, &k);
  return k;
}

TEST(CollationTest, CatalogNamesAsAccessWroteThem) {
  // Keys of empty.mdb's ParentIdName leaf (after the 7F flag).
  EXPECT_EQ(TextKey(u"MSysAccessObjects"),
            (Bytes{0x60, 0x6B, 0x76, 0x6B, 0x4A, 0x4D, 0x4D, 0x51, 0x6B, 0x6B, 0x64, 0x4C, 0x5B, 0x51, 0x4D, 0x6D, 0x6B,
                   0x01, 0x00}));
  EXPECT_EQ(TextKey(u"Tables"), (Bytes{0x6D, 0x4A, 0x4C, 0x5E, 0x51, 0x6B, 0x01, 0x00}));
  // Case-insensitive, trailing spaces dropped, digits, space and underscore.
  EXPECT_EQ(TextKey(u"TABLES  "), TextKey(u"tables"));
  EXPECT_EQ(TextKey(u"a 0_9"), (Bytes{0x4A, 0x07, 0x36, 0x2B, 0x03, 0x48, 0x01, 0x00}));
  EXPECT_EQ(TextKey(u""), (Bytes{0x01, 0x00}));
  // Order follows the codes, not the code units: "MSysAccessObjects" < "MSysACEs".
  EXPECT_LT(TextKey(u"MSysAccessObjects"), TextKey(u"MSysACEs"));
  EXPECT_LT(TextKey(u"DataAccessPages"), TextKey(u"Databases"));
}

TEST(CollationTest, InternationalAndExtendedCharacters) {
  // An accented letter sorts with its base letter and adds an extra code
  // after the end of the text: 02 for each plain character before it.
  const Bytes e_acute = TextKey(u"ae\u00E9");
  EXPECT_EQ(e_acute, (Bytes{0x4A, 0x51, 0x51, 0x01, 0x02, 0x02, 0x0E, 0x00}));
  EXPECT_LT(TextKey(u"aee"), e_acute);
  // Kana carry extra codes and two-bit flags (here both 3, so all trimmed),
  // then 01 01 FF 02 80 FF 80.
  EXPECT_EQ(TextKey(u"\u30DA\u30FC\u30B8"),  // "page" in katakana
            (Bytes{0x7F, 0x2D, 0x4A, 0x7F, 0x13, 0x01, 0x04, 0x02, 0x03, 0x01, 0x01, 0xFF, 0x02, 0x80, 0xFF, 0x80,
                   0x00}));
  // Hiragana small a has flag 2: packed as 0x80 | 2 << 4.
  EXPECT_EQ(TextKey(u"\u3041"), (Bytes{0x7F, 0x02, 0x01, 0x01, 0x01, 0xA0, 0xFF, 0x02, 0x80, 0xFF, 0x80, 0x00}));
  // CJK ideographs are simple two-byte codes in code order here.
  EXPECT_EQ(TextKey(u"\u4E00"), (Bytes{0x9F, 0x02, 0x01, 0x00}));
  EXPECT_LT(TextKey(u"\u4E00"), TextKey(u"\u4E01"));
  // Ignored characters vanish; surrogate pairs get computed codes.
  EXPECT_EQ(TextKey(std::u16string(1, char16_t(0)) + u"a"), TextKey(u"a"));
  EXPECT_GT(TextKey(u"\xD83D\xDE00").size(), 4u);
  // Longer than 255 characters: only the first 255 count.
  EXPECT_EQ(TextKey(std::u16string(300, u'x')), TextKey(std::u16string(255, u'x')));
}

TEST(CollationTest, DescendingInvertsAndNumbersFlipTheSignBit) {
  Bytes asc = TextKey(u"ab"), desc = TextKey(u"ab", false);
  ASSERT_EQ(desc.size(), asc.size() + 1);
  for (size_t i = 0; i + 1 < asc.size(); ++i) EXPECT_EQ(desc[i], uint8_t(~asc[i]));
  EXPECT_EQ(desc.back(), 0x00);

  Bytes k;
  AppendIntegerKeyBytes(0x0F000000, 4, true, &k);
  EXPECT_EQ(k, (Bytes{0x8F, 0, 0, 0}));
  k.clear();
  AppendIntegerKeyBytes(int32_t(0x80000000), 4, true, &k);
  EXPECT_EQ(k, (Bytes{0, 0, 0, 0}));
  k.clear();
  AppendIntegerKeyBytes(-1, 2, true, &k);
  EXPECT_EQ(k, (Bytes{0x7F, 0xFF}));
  Bytes neg, pos;
  AppendDoubleKeyBytes(-2.5, 8, true, &neg);
  AppendDoubleKeyBytes(1.0, 8, true, &pos);
  EXPECT_LT(neg, pos);
  Bytes n1, n2;
  AppendDoubleKeyBytes(-3.0, 8, true, &n1);
  EXPECT_LT(n1, neg);

  ColumnDef id;
  id.type = ColumnType::kLong;
  id.number = 0;
  TableDef def;
  def.columns = {id};
  PhysicalIndex index;
  index.columns = {IndexColumn{0, 0x01}};
  Bytes entry;
  ASSERT_TRUE(BuildIndexEntry(def, index, {Value::Int(2)}, 14, 4, &entry).ok());
  EXPECT_EQ(entry, (Bytes{0x7F, 0x80, 0, 0, 2, 0, 0, 14, 4}));
  ASSERT_TRUE(BuildIndexEntry(def, index, {Value::Null()}, 14, 4, &entry).ok());
  EXPECT_EQ(entry, (Bytes{0x00, 0, 0, 14, 4}));
  EXPECT_TRUE(BuildIndexEntry(def, index, {Value::Str(u"x")}, 14, 4, &entry).IsInvalidArgument());
}

}  // namespace
}  // namespace kp::jet
