#include <gtest/gtest.h>

#include "jet/format.h"
#include "jet/page_file.h"
#include "jet/props.h"
#include "tests/support/jet_support.h"

namespace kp::jet {
namespace {

TEST(PropsTest, ParsesAndRewritesAccessBlob) {
  KP_SKIP_WITHOUT_REFERENCE();
  std::unique_ptr<PageFile> file;
  ASSERT_TRUE(PageFile::Open(testing::ReferencePath("empty.mdb"), &file).ok());
  // MSysDb's blob: LVAL page 23, row 0, 92 bytes at the end of the page.
  const uint8_t* page = file->Page(23);
  const size_t start = GetU16(page + kDataRowOffsetsOffset);
  ASSERT_EQ(kPageSize - start, 92u);
  PropertySet props;
  ASSERT_TRUE(ParsePropertyBlob(page + start, 92, &props).ok());
  ASSERT_EQ(props.table.size(), 2u);
  EXPECT_EQ(PropertyText(props.table.at(u"AccessVersion")), u"08.50");
  EXPECT_EQ(GetU32(props.table.at(u"Build").value.data()), 6620u);
  EXPECT_EQ(props.table.at(u"Build").type, uint8_t(ColumnType::kLong));
  EXPECT_FALSE(props.has_unknown_chunks);
  Bytes blob;
  ASSERT_TRUE(SerializePropertySet(props, &blob).ok());
  ASSERT_EQ(blob.size(), 92u);
  EXPECT_TRUE(std::equal(blob.begin(), blob.end(), page + start));
}

TEST(PropsTest, ColumnRulesRoundTrip) {
  PropertySet props;
  props.columns[u"Angle"][u"DefaultValue"] = TextProperty(u"0", ColumnType::kMemo);
  props.columns[u"Name"][u"AllowZeroLength"] = BoolProperty(true);
  props.columns[u"Name"][u"Required"] = BoolProperty(false);
  props.columns[u"Name"][u"ValidationRule"] = TextProperty(u"Len([Name])<10");
  props.columns[u"Empty"];  // a column without properties gets no chunk
  Bytes blob;
  const std::vector<std::u16string> order = {u"Name", u"Angle"};
  ASSERT_TRUE(SerializePropertySet(props, &blob, &order).ok());
  PropertySet back;
  ASSERT_TRUE(ParsePropertyBlob(blob.data(), blob.size(), &back).ok());
  EXPECT_EQ(ColumnDefaultValue(back, u"Angle"), u"0");
  EXPECT_EQ(ColumnAllowZeroLength(back, u"Name"), true);
  EXPECT_EQ(ColumnRequired(back, u"Name"), false);
  EXPECT_EQ(ColumnValidationRule(back, u"Name"), u"Len([Name])<10");
  EXPECT_EQ(ColumnRequired(back, u"Angle"), std::nullopt);
  EXPECT_EQ(ColumnDefaultValue(back, u"Missing"), std::nullopt);
  EXPECT_EQ(back.columns.count(u"Empty"), 0u);
  EXPECT_EQ(back.columns.at(u"Angle").at(u"DefaultValue").ddl_flag, 1);
  // Column chunks come in the order asked for: "Name" before "Angle".
  auto find = [&blob](const std::u16string& s) {
    Bytes needle;
    for (char16_t c : s) AppendU16(&needle, uint16_t(c));
    return std::search(blob.begin(), blob.end(), needle.begin(), needle.end()) - blob.begin();
  };
  EXPECT_LT(find(u"Name"), find(u"Angle"));

  Bytes empty;
  ASSERT_TRUE(SerializePropertySet(PropertySet(), &empty).ok());
  EXPECT_TRUE(empty.empty());
}

TEST(PropsTest, BadBlobsAreErrors) {
  PropertySet props;
  props.columns[u"A"][u"Required"] = BoolProperty(true);
  Bytes blob;
  ASSERT_TRUE(SerializePropertySet(props, &blob).ok());
  PropertySet out;
  const uint8_t jet3[] = {'K', 'K', 'D', 0};
  EXPECT_TRUE(ParsePropertyBlob(jet3, 4, &out).IsCorruption());
  // Every cut inside a chunk fails cleanly, none reads past the end (a cut
  // right after the name chunk leaves a valid blob without values).
  const size_t names_end = 4 + GetU32(blob.data() + 4);
  for (size_t n = 5; n < blob.size(); ++n) {
    Bytes cut(blob.begin(), blob.begin() + n);
    EXPECT_EQ(ParsePropertyBlob(cut.data(), cut.size(), &out).ok(), n == names_end) << n;
  }
  // A name index past the name list.
  Bytes bad = blob;
  bad[bad.size() - 5] = 9;  // name index (low byte) of the only entry
  EXPECT_TRUE(ParsePropertyBlob(bad.data(), bad.size(), &out).IsCorruption());
  // A chunk claiming more bytes than there are.
  bad = blob;
  PutU32(bad.data() + 4, 100000);
  EXPECT_TRUE(ParsePropertyBlob(bad.data(), bad.size(), &out).IsCorruption());
}

}  // namespace
}  // namespace kp::jet
