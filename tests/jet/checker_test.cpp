#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "jet/checker.h"
#include "jet/format.h"
#include "tests/support/jet_support.h"

namespace kp::jet {
namespace {

namespace fs = std::filesystem;

using testing::Load;
using testing::Page;
using testing::WriteWholeFile;

// The report of `image`, and whether one problem mentions `needle`.
bool Reports(const Bytes& image, const std::string& needle, bool strict = true) {
  CheckReport report;
  CheckOptions options;
  options.strict = strict;
  Status s = CheckDatabaseImage(image, options, &report);
  EXPECT_TRUE(s.ok()) << s.ToString();
  EXPECT_FALSE(report.ok()) << "no problem found, expected one about \"" << needle << "\"";
  const std::string text = report.ToString();
  EXPECT_NE(text.find(needle), std::string::npos) << "expected \"" << needle << "\" in:\n" << text;
  return text.find(needle) != std::string::npos;
}

TEST(CheckerTest, AccessMadeFilesPass) {
  KP_SKIP_WITHOUT_REFERENCE();
  for (const auto& e : fs::directory_iterator(KP_REFERENCE_DIR)) {
    if (e.path().extension() != ".mdb") continue;
    CheckReport report;
    ASSERT_TRUE(CheckDatabase(e.path().string(), CheckOptions(), &report).ok()) << e.path();
    EXPECT_TRUE(report.ok()) << e.path() << "\n" << report.ToString();
  }
  // The blank files hold no leftovers: they pass strictly too.
  for (const char* name : {"empty.mdb", "adox_jet4.mdb", "emptyJet4.mdb"}) {
    CheckReport report;
    CheckOptions strict;
    strict.strict = true;
    ASSERT_TRUE(CheckDatabaseImage(Load(name), strict, &report).ok());
    EXPECT_TRUE(report.ok()) << name << "\n" << report.ToString();
  }
}

// Each fault put into empty.mdb is reported by the strict checker with its place.
TEST(CheckerTest, FindsEachFaultWithItsPlace) {
  KP_SKIP_WITHOUT_REFERENCE();
  const Bytes clean = Load("empty.mdb");
  // Global map row 0 is the last 69 bytes of page 1.
  const size_t global_bitmap = kPageSize + kPageSize - kUsageMapInlineRowBytes + 5;
  // AccessLayout's LvExtra column: one LVAL row (page 22 row 0), found by its header in page 14.
  auto lv_extra = [](Bytes* image) {
    const Bytes header = {0xC2, 0x07, 0x00, 0x40, 0x00, 0x16, 0x00, 0x00};
    auto at = std::search(image->begin() + 14 * kPageSize, image->begin() + 15 * kPageSize, header.begin(), header.end());
    EXPECT_NE(at, image->begin() + 15 * kPageSize);
    return at;
  };
  const struct {
    std::function<void(Bytes*)> damage;
    const char* says;
  } cases[] = {
      // Counts and maps.
      {[](Bytes* im) { PutU32(Page(im, 2) + kTdefRowCountOffset, 17); },  // MSysObjects has 18 rows
       "page 2: row count of MSysObjects is 17 in the TDEF, 18 rows found"},
      {[](Bytes* im) { PutU32(Page(im, 2) + 67, 19); }, "unique count 19"},  // of ParentIdName, 18 keys
      {[&](Bytes* im) { (*im)[global_bitmap + 1] |= 0x40; }, "marks pages in use as free: 14"},
      {[&](Bytes* im) { (*im)[global_bitmap + 3] &= uint8_t(~0x40); },
       "past the end of the file (24 pages) as free: 30"},
      {[](Bytes* im) {  // MSysObjects' owned map (page 6 row 0) without its data page 14
         (*im)[6 * kPageSize + GetU16(Page(im, 6) + kDataRowOffsetsOffset) + 5 + 1] &= uint8_t(~0x40);
       },
       "page 14: data pages of MSysObjects missing from its owned map: 14"},
      {[](Bytes* im) { PutU16(Page(im, 14) + kDataFreeSpaceOffset, 2000); },
       "page 14: free space 2000, the rows leave 2442"},
      // Indexes (page 8, the Id index: 18 entries of 9 bytes).
      {[](Bytes* im) {
         uint8_t* leaf = Page(im, 8) + kIndexEntriesOffset;
         std::swap_ranges(leaf, leaf + 9, leaf + 9);
       },
       "index 1 of MSysObjects: entries 0 and 1 are not in strictly ascending order"},
      {[](Bytes* im) { Page(im, 8)[kIndexEntriesOffset + 4] ^= 0x01; },  // a key byte of the first entry
       "1 entries missing, 1 entries without a row"},
      {[](Bytes* im) { PutU16(Page(im, 9) + kIndexFreeSpaceOffset, 3000); }, "page 9: index 0 of MSysACEs: free space 3000"},
      {[](Bytes* im) { PutU32(Page(im, 7) + kIndexTdefOffset, 3); }, "index page names TDEF 3, not 2"},
      // Rows and long values.
      {[&](Bytes* im) {  // LvExtra made a chain whose first row points back at itself
         lv_extra(im)[3] = 0x00;  // flags: chain
         PutU32(Page(im, 22) + GetU16(Page(im, 22) + kDataRowOffsetsOffset), MakePointer(22, 0));
       },
       "loops back to page 22 row 0"},
      {[&](Bytes* im) { lv_extra(im)[5] = 0x99; }, "page 153 (page 153 row 0) is past the end of the file"},
      {[](Bytes* im) { PutU16(Page(im, 3) + kTdefFreeSpaceOffset, 100); }, "page 3: TDEF of MSysACEs: free space 100"},
      {[](Bytes* im) { PutU16(Page(im, 21) + GetU16(Page(im, 21) + kDataRowOffsetsOffset), 5); },  // the TDEF says 4
       "row 0 of MSysACEs has 5 columns, the TDEF 4"},
      {[](Bytes* im) { Page(im, 0)[0x72 + 6] ^= 0x01; }, "password area"},  // the creation date moves by days
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    Bytes image = clean;
    c.damage(&image);
    EXPECT_TRUE(Reports(image, c.says));
  }

  // A page nobody uses that the global map keeps in use (Access leaves such
  // pages until a compaction: a problem in strict mode only).
  Bytes image = clean;
  image.resize(image.size() + kPageSize, 0);
  image[global_bitmap + 3] &= uint8_t(~0x01);
  EXPECT_TRUE(Reports(image, "page 24: pages that nothing refers to"));
  CheckReport lenient;
  ASSERT_TRUE(CheckDatabaseImage(image, CheckOptions(), &lenient).ok());
  EXPECT_TRUE(lenient.ok()) << lenient.ToString();
}

// Table1 of indexTestV2000.mdb references Table2 through otherfk1 ("Table2Table1") and
// Table3 through otherfk2 ("Table3Table1"): rows whose keys the referenced table lacks,
// and relationships naming what is not there, are reported; an all-Null key is exempt.
TEST(CheckerTest, FindsBrokenRelationships) {
  KP_SKIP_WITHOUT_REFERENCE();
  const Bytes clean = Load("indexTestV2000.mdb");
  // Table1: TDEF page 24 (Table2Table1's logical index block at 570), rows id 0..3 in
  // slots 0..3 of page 62 (otherfk1 at 10, otherfk2 at 14, a one-byte null mask at the
  // end), its otherfk1 index one leaf, page 45, of 9-byte entries in row order.
  auto row = [](Bytes* im, int r) {
    return Page(im, 62) + (GetU16(Page(im, 62) + kDataRowOffsetsOffset + 2 * r) & kRowOffsetMask);
  };
  const size_t table2table1 = 24 * kPageSize + 570;
  const struct {
    std::function<void(Bytes*)> damage;
    const char* says;  // nullptr: no problem with a relationship
  } cases[] = {
      {[&](Bytes* im) {  // otherfk1 2 -> 7, in the row and in Table1's own index
         PutU32(row(im, 3) + 10, 7);
         Page(im, 45)[kIndexEntriesOffset + 3 * 9 + 4] = 7;
       },
       "page 62: row 3 of Table1: relationship Table2Table1: no row of Table2 has its key otherfk1 = 7"},
      {[&](Bytes* im) { PutU32(row(im, 1) + 14, 14), PutU32(row(im, 2) + 14, 14); },
       "page 62: row 1 of Table1: relationship Table3Table1: no row of Table3 has its key otherfk2 = 14 (nor 1 more"},
      {[&](Bytes* im) { row(im, 2)[-1] &= uint8_t(~0x04); }, nullptr},  // row 3's otherfk1 Null
      {[&](Bytes* im) { PutU32(im->data() + table2table1 + kLogicalIndexOtherIndexOffset, 9); },
       "page 24: relationship Table2Table1 of Table1 names logical index 9 of Table2, which it lacks"},
      {[&](Bytes* im) { PutU32(im->data() + table2table1 + kLogicalIndexOtherTableOffset, 62); },
       "page 24: relationship Table2Table1 of Table1: the referenced table: page 62 is a data page"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says ? c.says : "all-Null key");
    Bytes image = clean;
    c.damage(&image);
    if (c.says != nullptr) {
      EXPECT_TRUE(Reports(image, c.says, false));
      continue;
    }
    CheckReport report;
    ASSERT_TRUE(CheckDatabaseImage(image, CheckOptions(), &report).ok());
    EXPECT_EQ(report.ToString().find("relationship"), std::string::npos) << report.ToString();
  }
}

// Other writers leave a catalog row they lengthened on another slot of its
// page (the old slot an overflow pointer, the new one flagged deleted): the
// table it names is still checked, so its pages are in use and its faults
// found.
TEST(CheckerTest, FollowsAnOverflowedCatalogRow) {
  KP_SKIP_WITHOUT_REFERENCE();
  Bytes image = Load("empty.mdb");
  uint8_t* p = Page(&image, 14);
  const uint16_t rows = GetU16(p + kDataRowCountOffset);
  uint16_t lowest = kPageSize, aces = rows;
  for (uint16_t r = 0; r < rows; ++r) {
    const uint16_t start = GetU16(p + kDataRowOffsetsOffset + 2 * r) & kRowOffsetMask;
    const uint16_t end = r == 0 ? kPageSize : GetU16(p + kDataRowOffsetsOffset + 2 * (r - 1)) & kRowOffsetMask;
    if (GetU32(p + start + 2) == 3 && end - start > 4) aces = r;  // Id 3: MSysACEs
    lowest = std::min(lowest, start);
  }
  ASSERT_LT(aces, rows);
  const uint16_t start = GetU16(p + kDataRowOffsetsOffset + 2 * aces);
  const uint16_t end = aces == 0 ? kPageSize : GetU16(p + kDataRowOffsetsOffset + 2 * (aces - 1));
  const uint16_t moved = uint16_t(lowest - (end - start));
  std::copy(p + start, p + end, p + moved);
  PutU16(p + kDataRowOffsetsOffset + 2 * rows, uint16_t(moved | 0x8000));  // deleted: reached by the pointer only
  PutU16(p + kDataRowCountOffset, uint16_t(rows + 1));
  PutU16(p + kDataFreeSpaceOffset, uint16_t(GetU16(p + kDataFreeSpaceOffset) - (end - start) - 2));
  PutU16(p + kDataRowOffsetsOffset + 2 * aces, uint16_t(start | 0x4000));
  p[start] = uint8_t(rows);
  p[start + 1] = 14;
  p[start + 2] = p[start + 3] = 0;
  CheckReport report;
  ASSERT_TRUE(CheckDatabaseImage(image, CheckOptions{true}, &report).ok());
  EXPECT_TRUE(report.ok()) << report.ToString();
  PutU16(Page(&image, 3) + kTdefFreeSpaceOffset, 100);
  EXPECT_TRUE(Reports(image, "page 3: TDEF of MSysACEs: free space 100"));
}

// Other writers free an emptied index page by clearing its type byte and
// leave it on the index's usage map: tolerated; any other page there is not.
TEST(CheckerTest, FreedPagesOnAnIndexMapAreTolerated) {
  KP_SKIP_WITHOUT_REFERENCE();
  Bytes image = Load("empty.mdb");
  image.resize(image.size() + kPageSize, 0);  // page 24, free in the global map
  uint8_t* p6 = Page(&image, 6);
  uint8_t* index_map = p6 + (GetU16(p6 + kDataRowOffsetsOffset + 2 * 0x10) & kRowOffsetMask);  // lists page 7
  index_map[kUsageMapInlineHeaderBytes + 24 / 8] |= uint8_t(1u << (24 % 8));
  CheckReport lenient;
  ASSERT_TRUE(CheckDatabaseImage(image, CheckOptions(), &lenient).ok());
  EXPECT_TRUE(lenient.ok()) << lenient.ToString();
  EXPECT_TRUE(Reports(image, "lists freed pages: 24"));
  Page(&image, 24)[0] = kPageTypeIndexLeaf;
  EXPECT_TRUE(Reports(image, "lists pages outside its tree: 24", false));
}

TEST(CheckerTest, ToleratedProblemsFailOnlyWhenStrict) {
  KP_SKIP_WITHOUT_REFERENCE();
  Bytes image = Load("empty.mdb");
  image[14 * kPageSize + 200] = 0x5A;  // garbage in a data page's free space
  CheckReport report;
  ASSERT_TRUE(CheckDatabaseImage(image, CheckOptions(), &report).ok());
  EXPECT_TRUE(report.ok());
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_TRUE(report.problems[0].tolerated);
  EXPECT_NE(report.ToString().find("page 14: non-zero byte at 200"), std::string::npos);
  EXPECT_TRUE(Reports(image, "page 14: non-zero byte at 200", true));
}

TEST(CheckerTest, JetCheckToolExitStatus) {
  KP_SKIP_WITHOUT_REFERENCE();
  const std::string tool = std::string(KP_BUILD_DIR) + "/jet-check";
  if (!fs::exists(tool)) GTEST_SKIP() << "jet-check not built";
  const std::string ref = std::string(KP_REFERENCE_DIR);
  EXPECT_EQ(std::system((tool + " " + ref + "/empty.mdb " + ref + "/testV2000.mdb >/dev/null").c_str()), 0);
  Bytes image = Load("empty.mdb");
  PutU32(Page(&image, 2) + kTdefRowCountOffset, 3);
  const std::string bad = (fs::temp_directory_path() / "kp_checker_bad.mdb").string();
  WriteWholeFile(bad, image);
  const std::string out = (fs::temp_directory_path() / "kp_checker_bad.txt").string();
  EXPECT_EQ(WEXITSTATUS(std::system((tool + " " + bad + " >" + out).c_str())), 1);
  std::ifstream in(out);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find(bad + ": page 2: row count of MSysObjects is 3"), std::string::npos) << text;
  EXPECT_EQ(WEXITSTATUS(std::system((tool + " /nonexistent.mdb 2>/dev/null").c_str())), 2);
  fs::remove(bad);
  fs::remove(out);
}

}  // namespace
}  // namespace kp::jet
