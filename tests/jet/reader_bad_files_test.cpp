// Bad files give errors, never a crash or a hang.
#include <gtest/gtest.h>

#include <random>

#include "jet/checker.h"
#include "jet/format.h"
#include "jet/reader.h"
#include "tests/support/jet_support.h"

namespace kp::jet {
namespace {

using testing::Load;
using testing::Page;

// Opens `image` and reads every table; the first failure, or OK.
Status ReadEverything(const Bytes& image) {
  std::unique_ptr<DatabaseReader> reader;
  KP_RETURN_IF_ERROR(DatabaseReader::OpenBytes(image, &reader));
  for (const auto& e : reader->ListTables(true)) {
    TableDef def;
    KP_RETURN_IF_ERROR(reader->ReadTableDef(e.name, &def));
    std::vector<Row> rows;
    KP_RETURN_IF_ERROR(reader->ReadRows(def, &rows));
  }
  return Status::OK();
}

TEST(ReaderBadFilesTest, TruncatedFiles) {
  KP_SKIP_WITHOUT_REFERENCE();
  const Bytes clean = Load("empty.mdb");
  ASSERT_TRUE(ReadEverything(clean).ok());
  // Cut after each page: the catalog or a table points past the end.
  for (size_t pages = 1; pages < 24; ++pages) {
    Bytes cut(clean.begin(), clean.begin() + pages * kPageSize);
    Status s = ReadEverything(cut);
    EXPECT_TRUE(s.IsCorruption()) << pages << " pages: " << s.ToString();
    EXPECT_NE(s.message().find("past the end"), std::string::npos) << s.ToString();
  }
  // Cut inside a page.
  Bytes cut(clean.begin(), clean.begin() + 5 * kPageSize + 100);
  EXPECT_TRUE(ReadEverything(cut).IsCorruption());
}

TEST(ReaderBadFilesTest, PointersOutOfRangeAndLoops) {
  KP_SKIP_WITHOUT_REFERENCE();
  const Bytes clean = Load("empty.mdb");
  Bytes image = clean;
  PutU32(Page(&image, 2) + kTdefOwnedMapOffset, MakePointer(9999, 0));
  Status s = ReadEverything(image);
  EXPECT_TRUE(s.IsCorruption());
  EXPECT_NE(s.message().find("page 9999"), std::string::npos) << s.ToString();

  image = clean;
  PutU32(Page(&image, 3) + kTdefNextPageOffset, 3);  // MSysACEs' TDEF continues on itself
  s = ReadEverything(image);
  EXPECT_NE(s.message().find("loops back to page 3"), std::string::npos) << s.ToString();

  image = clean;
  PutU32(Page(&image, 3) + kTdefNextPageOffset, 14);  // a data page
  s = ReadEverything(image);
  EXPECT_NE(s.message().find("page 14 is a data page"), std::string::npos) << s.ToString();

  image = clean;
  PutU16(Page(&image, 14) + kDataRowCountOffset, 3000);  // more row offsets than the page holds
  EXPECT_TRUE(ReadEverything(image).IsCorruption());

  // Other versions, an encryption key, a password are refused clearly.
  image = clean;
  Page(&image, 0)[kHeaderVersionOffset] = 2;
  s = ReadEverything(image);
  EXPECT_TRUE(s.IsNotSupported());
  EXPECT_NE(s.message().find("version 2"), std::string::npos);
}

TEST(ReaderBadFilesTest, OverflowRowsLoopingAreErrors) {
  KP_SKIP_WITHOUT_REFERENCE();
  Bytes image = Load("overflowTestV2000.mdb");
  ASSERT_TRUE(ReadEverything(image).ok());
  // Table1 page 27 row 2 is an overflow slot: point it at itself.
  uint8_t* page = Page(&image, 27);
  const uint16_t raw = GetU16(page + kDataRowOffsetsOffset + 2 * 2);
  ASSERT_TRUE(raw & kRowOffsetLookup);
  const size_t start = raw & kRowOffsetMask;
  page[start] = 2;  // row 2
  page[start + 1] = 27;  // page 27
  page[start + 2] = 0;
  page[start + 3] = 0;
  Status s = ReadEverything(image);
  EXPECT_NE(s.message().find("overflow"), std::string::npos) << s.ToString();
}

// Random damage to a file never crashes the reader or the checker (run under
// the sanitizers by the test command), and neither hangs.
TEST(ReaderBadFilesTest, RandomDamageNeverCrashes) {
  KP_SKIP_WITHOUT_REFERENCE();
  for (const char* name : {"empty.mdb", "overflowTestV2000.mdb", "indexTestV2000.mdb"}) {
    const Bytes clean = Load(name);
    std::mt19937 rng(12345);
    for (int round = 0; round < 60; ++round) {
      Bytes image = clean;
      const int hits = 1 + int(rng() % 16);
      for (int h = 0; h < hits; ++h) {
        // Aim most hits at structure: page headers, row offsets, TDEF fields.
        const size_t page = 1 + rng() % (image.size() / kPageSize - 1);
        const size_t offset = (rng() % 3 == 0) ? rng() % kPageSize : rng() % 96;
        image[page * kPageSize + offset] = uint8_t(rng());
      }
      (void)ReadEverything(image);
      CheckReport report;
      (void)CheckDatabaseImage(image, CheckOptions(), &report);
    }
  }
}

}  // namespace
}  // namespace kp::jet
