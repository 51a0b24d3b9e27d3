#include <gtest/gtest.h>

#include <filesystem>

#include "jet/format.h"
#include "jet/index_leaf.h"
#include "jet/page_file.h"

namespace kp::jet {
namespace {

TEST(IndexLeafTest, RebuildsAccessLeavesByteForByte) {
  if (!std::filesystem::exists(KP_REFERENCE_DIR)) GTEST_SKIP() << "no reference files";
  std::unique_ptr<PageFile> file;
  ASSERT_TRUE(PageFile::Open(std::string(KP_REFERENCE_DIR) + "/empty.mdb", &file).ok());
  const size_t expected_entries[] = {18, 18, 52, 0, 0, 0, 0};
  for (uint32_t n = 7; n <= 13; ++n) {
    IndexPage leaf;
    ASSERT_TRUE(DecodeIndexPage(file->Page(n), n, &leaf).ok()) << n;
    EXPECT_TRUE(leaf.is_leaf());
    EXPECT_EQ(leaf.entries.size(), expected_entries[n - 7]) << n;
    EXPECT_EQ(leaf.free_space, kPageSize - kIndexEntriesOffset - leaf.entries_end);
    Bytes page;
    ASSERT_TRUE(BuildLeafPage(leaf.tdef_page, leaf.entries, &page).ok());
    EXPECT_TRUE(std::equal(page.begin(), page.end(), file->Page(n))) << "page " << n;
  }
  IndexPage aces;
  ASSERT_TRUE(DecodeIndexPage(file->Page(9), 9, &aces).ok());
  uint32_t page = 0;
  uint8_t row = 0;
  ASSERT_TRUE(IndexEntryRow(aces.entries.back(), false, &page, &row));
  EXPECT_EQ(page, 21u);
  EXPECT_EQ(row, 0x23);
}

TEST(IndexLeafTest, PrefixCompressedEntriesAreRestored) {
  Bytes page(kPageSize, 0);
  page[0] = kPageTypeIndexLeaf;
  page[1] = 1;
  PutU16(page.data() + kIndexPrefixLengthOffset, 3);
  // Two entries sharing "7F 80 00": stored whole, then without the prefix.
  const Bytes first = {0x7F, 0x80, 0x00, 0x01, 0x00, 0x00, 0x10, 0x00};
  const Bytes second_tail = {0x02, 0x00, 0x00, 0x10, 0x01};
  std::copy(first.begin(), first.end(), page.begin() + kIndexEntriesOffset);
  std::copy(second_tail.begin(), second_tail.end(), page.begin() + kIndexEntriesOffset + first.size());
  page[kIndexMaskOffset + 1] |= 1;        // end at 8
  page[kIndexMaskOffset + 1] |= 1 << 5;   // end at 13
  // Decoded into a page that held more and longer entries before.
  IndexPage leaf;
  leaf.entries.assign(5, Bytes(40, 0xEE));
  ASSERT_TRUE(DecodeIndexPage(page.data(), 30, &leaf).ok());
  ASSERT_EQ(leaf.entries.size(), 2u);
  EXPECT_EQ(leaf.entries[0], first);
  EXPECT_EQ(leaf.entries[1], (Bytes{0x7F, 0x80, 0x00, 0x02, 0x00, 0x00, 0x10, 0x01}));

  // A prefix longer than the first entry, a mask bit past the page: errors.
  PutU16(page.data() + kIndexPrefixLengthOffset, 20);
  EXPECT_TRUE(DecodeIndexPage(page.data(), 30, &leaf).IsCorruption());
  PutU16(page.data() + kIndexPrefixLengthOffset, 0);
  page[kIndexMaskOffset + kIndexMaskBytes - 1] = 0x80;
  EXPECT_TRUE(DecodeIndexPage(page.data(), 30, &leaf).IsCorruption());
  page[0] = kPageTypeData;
  EXPECT_TRUE(DecodeIndexPage(page.data(), 30, &leaf).IsCorruption());
}

TEST(IndexLeafTest, BuildRefusesUnsortedAndOversizedEntries) {
  const Bytes a = {0x7F, 0x01, 0, 0, 1, 0}, b = {0x7F, 0x02, 0, 0, 1, 0};
  Bytes page;
  EXPECT_TRUE(BuildLeafPage(5, {a, b}, &page).ok());
  EXPECT_EQ(GetU16(page.data() + kIndexFreeSpaceOffset), 3616 - 12);
  EXPECT_TRUE(BuildLeafPage(5, {b, a}, &page).IsInvalidArgument());
  EXPECT_TRUE(BuildLeafPage(5, {a, a}, &page).IsInvalidArgument());
  std::vector<Bytes> many;
  for (int i = 0; i < 700; ++i) many.push_back({0x7F, uint8_t(i >> 8), uint8_t(i), 0, 0, 1, 0});
  EXPECT_TRUE(BuildLeafPage(5, many, &page).IsNotSupported());
  many.resize(3616 / 7);
  EXPECT_TRUE(BuildLeafPage(5, many, &page).ok());
  EXPECT_EQ(GetU16(page.data() + kIndexFreeSpaceOffset), 3616 % 7);
}

}  // namespace
}  // namespace kp::jet
