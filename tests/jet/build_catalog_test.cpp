// The catalog the builder writes: a database without tables is the engine's
// own blank database (adox_jet4.mdb) byte for byte, apart from the bytes the
// engine leaves uninitialised; new tables add exactly their catalog rows,
// security rows and index entries.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "jet/builder.h"
#include "jet/catalog_write.h"
#include "jet/header.h"
#include "jet/tdef_write.h"
#include "tests/support/jet_support.h"

namespace kp::jet {
namespace {

using testing::MaskTdefDontCare;
using testing::PageOf;
using testing::RowsOf;

TEST(BuildCatalogTest, BlankDatabaseIsTheEngines) {
  KP_SKIP_WITHOUT_REFERENCE();
  const Bytes reference = testing::Load("adox_jet4.mdb");
  Bytes file;
  ASSERT_TRUE(BuildDatabase(DatabaseSpec(), &file).ok());
  ASSERT_EQ(file.size(), reference.size());
  for (uint32_t p = 0; p < file.size() / 4096; ++p) {
    Bytes ours = PageOf(file, p);
    Bytes theirs = PageOf(reference, p);
    if (p >= kCatalogTdefPage && p <= kMSysRelationshipsPage) {
      MaskTdefDontCare(&ours);
      MaskTdefDontCare(&theirs);
    }
    for (size_t i = 0; i < 4096; ++i) ASSERT_EQ(ours[i], theirs[i]) << "page " << p << " byte " << i;
  }
}

TEST(BuildCatalogTest, ReferenceHeaderDecodesToTheReferenceFields) {
  const Bytes page = ReferenceHeaderPage();
  HeaderInfo h;
  ASSERT_TRUE(DecodeHeader(page.data(), &h).ok());
  EXPECT_TRUE(CheckHeaderSupported(h).ok());
  EXPECT_EQ(h.version, 1u);
  EXPECT_EQ(h.code_page, 1252);
  EXPECT_EQ(h.db_key, 0u);
  EXPECT_TRUE(h.password.empty());  // the password area is exactly the date mask
  EXPECT_EQ(h.build, 9756u);
  EXPECT_EQ(h.sort_order, 0x0409);
  EXPECT_EQ(h.sort_version, 0);
  EXPECT_NEAR(h.creation_date, 42329.944803, 1e-6);  // 2015-11-21 22:40:31
  // The catalog rows are dated 19 ms later, as in the reference file.
  EXPECT_NEAR((ReferenceCatalogDate() - h.creation_date) * 86400, 0.019, 0.001);

  // A header page with a password is refused, not copied.
  DatabaseSpec layout;
  layout.header_page = page;
  h.password = u"secret";
  EncodeHeader(h, layout.header_page.data());
  Bytes file;
  EXPECT_FALSE(BuildDatabase(layout, &file).ok());
  layout.header_page.resize(100);
  EXPECT_TRUE(BuildDatabase(layout, &file).IsInvalidArgument());
}

// Entries of a leaf page, split at the entry-end mask bits.
std::vector<Bytes> LeafEntries(const Bytes& page) {
  std::vector<Bytes> entries;
  size_t start = 480;
  const size_t end = 4096 - GetU16(&page[2]);
  for (size_t at = 481; at <= end; ++at) {
    const size_t bit = at - 480;
    if (page[27 + bit / 8] & (1u << (bit % 8))) {
      entries.emplace_back(page.begin() + start, page.begin() + at);
      start = at;
    }
  }
  return entries;
}

TEST(BuildCatalogTest, NewTablesGetCatalogRowsSecurityAndIndexEntries) {
  Bytes blank;
  ASSERT_TRUE(BuildDatabase(DatabaseSpec(), &blank).ok());
  DatabaseSpec layout;
  for (const char16_t* name : {u"Zeta", u"alpha", u"Beta_2"}) {
    TableDef d;
    d.name = name;
    d.columns.resize(1);
    d.columns[0].name = u"N";
    d.columns[0].type = ColumnType::kLong;
    ASSERT_TRUE(AssignColumnLayout(&d).ok());
    layout.tables.push_back({d, {}});
  }
  Bytes file;
  ASSERT_TRUE(BuildDatabase(layout, &file).ok());

  // Tables take TDEF page 16 on, each with one map page: Ids 16, 18, 20.
  const auto objects = RowsOf(PageOf(file, kCatalogDataPage));
  const auto blank_objects = RowsOf(PageOf(blank, kCatalogDataPage));
  ASSERT_EQ(objects.size(), 11u);
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(objects[i], blank_objects[i]) << "engine row " << i;
  const SecurityIds ids = ReferenceSecurityIds();
  for (size_t i = 8; i < 11; ++i) {
    const Bytes& r = objects[i];
    EXPECT_EQ(GetU32(&r[2]), 16 + 2 * (i - 8));          // Id = TDEF page
    EXPECT_EQ(GetU32(&r[6]), uint32_t(kTablesContainerId));
    EXPECT_EQ(GetU16(&r[10]), 1);                         // Type: table
    EXPECT_EQ(GetU32(&r[28]), 0u);                        // Flags
    EXPECT_EQ(Bytes(r.end() - 3 - 2 - 22 - 2 - 2, r.end() - 3 - 2 - 22 - 2), ids.admin);  // Owner
    EXPECT_EQ(PageOf(file, GetU32(&r[2]))[0], 0x02);
  }
  EXPECT_EQ(GetU32(&PageOf(file, kCatalogTdefPage)[16]), 11u);     // row count
  EXPECT_EQ(GetU32(&PageOf(file, kCatalogTdefPage)[63 + 4]), 11u); // unique ParentIdName
  EXPECT_EQ(GetU32(&PageOf(file, kCatalogTdefPage)[75 + 4]), 11u); // unique Id

  // Two security rows per table, as the engine gives new tables.
  const auto aces = RowsOf(PageOf(file, kAcesDataPage));
  ASSERT_EQ(aces.size(), 16u + 6u);
  std::map<uint32_t, std::vector<std::pair<Bytes, uint32_t>>> by_object;
  for (size_t i = 16; i < aces.size(); ++i) {
    const Bytes& r = aces[i];
    by_object[GetU32(&r[2])].push_back({Bytes(r.begin() + 10, r.begin() + 12), GetU32(&r[6])});
    EXPECT_EQ(r.back(), 0x07);  // not inheritable
  }
  for (uint32_t id : {16u, 18u, 20u}) {
    ASSERT_EQ(by_object[id].size(), 2u);
    EXPECT_EQ(by_object[id][0], std::make_pair(ids.admin, 0x0F00FEu));
    EXPECT_EQ(by_object[id][1], std::make_pair(ids.users, 0x0FFEFFu));
  }
  EXPECT_EQ(GetU32(&PageOf(file, kMSysAcesPage)[16]), 22u);
  EXPECT_EQ(GetU32(&PageOf(file, kMSysAcesPage)[63 + 4]), 11u);  // distinct ObjectIds

  // Every catalog row has one entry per index, entries sorted by their bytes.
  for (uint32_t leaf : {kParentIdNameLeafPage, kObjectIdLeafPage, kAcesLeafPage}) {
    const auto entries = LeafEntries(PageOf(file, leaf));
    EXPECT_EQ(entries.size(), leaf == kAcesLeafPage ? 22u : 11u) << "leaf " << leaf;
    EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end())) << "leaf " << leaf;
    std::set<uint32_t> rows;
    for (const Bytes& e : entries) rows.insert(GetU32(&e[e.size() - 4]));
    EXPECT_EQ(rows.size(), entries.size());
  }
  // Case does not matter in names: "alpha" sorts before "Beta_2" and "Zeta".
  const auto by_name = LeafEntries(PageOf(file, kParentIdNameLeafPage));
  std::vector<uint8_t> user_rows;
  for (const Bytes& e : by_name) {
    if (e[e.size() - 1] >= 8) user_rows.push_back(e[e.size() - 1]);
  }
  EXPECT_EQ(user_rows, (std::vector<uint8_t>{9, 10, 8}));

  // A second table with the same name, in another case, is refused.
  layout.tables.push_back(layout.tables[0]);
  layout.tables.back().def.name = u"ZETA";
  EXPECT_TRUE(BuildDatabase(layout, &file).IsInvalidArgument());
}

}  // namespace
}  // namespace kp::jet
