#include <gtest/gtest.h>

#include <filesystem>

#include "export/jet/checker.h"
#include "export/jet/format.h"
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

TEST(CheckerTest, FindsCountAndMapFaults) {
  KP_SKIP_WITHOUT_REFERENCE();
  const Bytes clean = Load("empty.mdb");
  Bytes image = clean;
  PutU32(Page(&image, 2) + kTdefRowCountOffset, 17);  // MSysObjects has 18 rows
  EXPECT_TRUE(Reports(image, "page 2: row count of MSysObjects is 17 in the TDEF, 18 rows found"));

  image = clean;
  PutU32(Page(&image, 2) + 67, 19);  // unique count of ParentIdName, 18 keys
  EXPECT_TRUE(Reports(image, "unique count 19"));

  // Global map: page 14 (MSysObjects' data) marked free; page 30 (past the
  // end) marked in use.
  image = clean;
  const size_t global_bitmap = kPageSize - kUsageMapInlineRowBytes + 5;  // row 0 is the last 69 bytes
  image[kPageSize + global_bitmap + 1] |= 0x40;
  EXPECT_TRUE(Reports(image, "marks pages in use as free: 14"));
  image = clean;
  image[kPageSize + global_bitmap + 3] &= uint8_t(~0x40);
  EXPECT_TRUE(Reports(image, "past the end of the file (24 pages) as free: 30"));

  // Owned map of MSysObjects (page 6 row 0) without its data page 14.
  image = clean;
  image[6 * kPageSize + GetU16(Page(&image, 6) + kDataRowOffsetsOffset) + 5 + 1] &= uint8_t(~0x40);
  EXPECT_TRUE(Reports(image, "page 14: data pages of MSysObjects missing from its owned map: 14"));

  // Data page free space.
  image = clean;
  PutU16(Page(&image, 14) + kDataFreeSpaceOffset, 2000);
  EXPECT_TRUE(Reports(image, "page 14: free space 2000, the rows leave 2442"));

  // A page nobody uses that the global map keeps in use (Access leaves
  // such pages until a compaction: a problem in strict mode only).
  image = clean;
  image.resize(image.size() + kPageSize, 0);
  image[kPageSize + global_bitmap + 3] &= uint8_t(~0x01);
  EXPECT_TRUE(Reports(image, "page 24: pages that nothing refers to"));
  CheckReport lenient;
  ASSERT_TRUE(CheckDatabaseImage(image, CheckOptions(), &lenient).ok());
  EXPECT_TRUE(lenient.ok()) << lenient.ToString();
}

TEST(CheckerTest, FindsIndexFaults) {
  KP_SKIP_WITHOUT_REFERENCE();
  const Bytes clean = Load("empty.mdb");
  // Page 8, the Id index: 18 entries of 9 bytes from offset 480.
  Bytes image = clean;
  uint8_t* leaf = Page(&image, 8) + kIndexEntriesOffset;
  std::swap_ranges(leaf, leaf + 9, leaf + 9);
  EXPECT_TRUE(Reports(image, "index 1 of MSysObjects: entries 0 and 1 are not in strictly ascending order"));

  image = clean;
  Page(&image, 8)[kIndexEntriesOffset + 4] ^= 0x01;  // a key byte of the first entry
  EXPECT_TRUE(Reports(image, "1 entries missing, 1 entries without a row"));

  image = clean;
  PutU16(Page(&image, 9) + kIndexFreeSpaceOffset, 3000);
  EXPECT_TRUE(Reports(image, "page 9: index 0 of MSysACEs: free space 3000"));

  image = clean;
  PutU32(Page(&image, 7) + kIndexTdefOffset, 3);
  EXPECT_TRUE(Reports(image, "index page names TDEF 3, not 2"));
}

TEST(CheckerTest, FindsRowAndLongValueFaults) {
  KP_SKIP_WITHOUT_REFERENCE();
  const Bytes clean = Load("empty.mdb");
  // AccessLayout's LvExtra is one LVAL row (page 22 row 0); made a chain
  // whose first row points back at itself, it loops.
  Bytes image = clean;
  const Bytes header = {0xC2, 0x07, 0x00, 0x40, 0x00, 0x16, 0x00, 0x00};
  auto at = std::search(image.begin() + 14 * kPageSize, image.begin() + 15 * kPageSize, header.begin(), header.end());
  ASSERT_NE(at, image.begin() + 15 * kPageSize);
  at[3] = 0x00;  // flags: chain
  const size_t lval_row = GetU16(Page(&image, 22) + kDataRowOffsetsOffset);
  PutU32(Page(&image, 22) + lval_row, MakePointer(22, 0));
  EXPECT_TRUE(Reports(image, "loops back to page 22 row 0"));

  // The same pointer out of range.
  image = clean;
  at = std::search(image.begin() + 14 * kPageSize, image.begin() + 15 * kPageSize, header.begin(), header.end());
  at[5] = 0x99;
  EXPECT_TRUE(Reports(image, "page 153 (page 153 row 0) is past the end of the file"));

  // TDEF free space, and a row with the wrong column count.
  image = clean;
  PutU16(Page(&image, 3) + kTdefFreeSpaceOffset, 100);
  EXPECT_TRUE(Reports(image, "page 3: TDEF of MSysACEs: free space 100"));
  image = clean;
  const size_t ace_row = GetU16(Page(&image, 21) + kDataRowOffsetsOffset);
  PutU16(Page(&image, 21) + ace_row, 5);  // 5 columns, the TDEF says 4
  EXPECT_TRUE(Reports(image, "row 0 of MSysACEs has 5 columns, the TDEF 4"));

  // Header: a password area that no longer matches the date.
  image = clean;
  Page(&image, 0)[0x72 + 6] ^= 0x01;  // the creation date moves by days
  EXPECT_TRUE(Reports(image, "password area"));
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
