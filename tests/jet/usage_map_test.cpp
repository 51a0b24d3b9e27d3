#include <gtest/gtest.h>

#include "jet/format.h"
#include "jet/page_file.h"
#include "jet/usage_map.h"
#include "tests/support/jet_support.h"

namespace kp::jet {
namespace {

// Row `r` of data page `page`: [start, end).
std::pair<const uint8_t*, size_t> RowOf(const uint8_t* page, int r) {
  const size_t start = GetU16(page + kDataRowOffsetsOffset + 2 * r) & kRowOffsetMask;
  const size_t end = r == 0 ? kPageSize : GetU16(page + kDataRowOffsetsOffset + 2 * (r - 1)) & kRowOffsetMask;
  return {page + start, end - start};
}

TEST(UsageMapTest, DecodesAndReencodesAccessMaps) {
  KP_SKIP_WITHOUT_REFERENCE();
  std::unique_ptr<PageFile> file;
  ASSERT_TRUE(PageFile::Open(testing::ReferencePath("empty.mdb"), &file).ok());
  struct Case { int row; std::set<uint32_t> pages; };
  const Case cases[] = {{0x00, {14}}, {0x01, {14}}, {0x02, {}}, {0x0A, {23}}, {0x0E, {22}},
                        {0x10, {7}},  {0x12, {21}}, {0x1E, {13}}};
  for (const Case& c : cases) {
    auto [row, size] = RowOf(file->Page(6), c.row);
    ASSERT_EQ(size, kUsageMapInlineRowBytes);
    std::set<uint32_t> pages;
    UsageMapLayout layout;
    ASSERT_TRUE(DecodeUsageMap(row, size, file.get(), &pages, &layout).ok());
    EXPECT_EQ(pages, c.pages) << "row " << c.row;
    EXPECT_EQ(layout.window_pages, 512u);
    Bytes again;
    ASSERT_TRUE(EncodeInlineUsageMap(pages, 64, &again).ok());
    EXPECT_TRUE(std::equal(again.begin(), again.end(), row)) << "row " << c.row;
  }
  // The global map: set bits are free pages, from the end of the file on.
  auto [row, size] = RowOf(file->Page(1), 0);
  std::set<uint32_t> free_pages;
  ASSERT_TRUE(DecodeUsageMap(row, size, nullptr, &free_pages).ok());
  EXPECT_EQ(free_pages.size(), 512u - 24u);
  EXPECT_EQ(*free_pages.begin(), 24u);
  Bytes global;
  ASSERT_TRUE(EncodeGlobalMap(24, 64, &global).ok());
  EXPECT_TRUE(std::equal(global.begin(), global.end(), row));
}

TEST(UsageMapTest, InlineWindowMovesAndRefusesWideSpans) {
  Bytes row;
  ASSERT_TRUE(EncodeInlineUsageMap({700, 703, 1207}, 64, &row).ok());
  EXPECT_EQ(GetU32(row.data() + 1), 696u);
  std::set<uint32_t> back;
  ASSERT_TRUE(DecodeUsageMap(row.data(), row.size(), nullptr, &back).ok());
  EXPECT_EQ(back, (std::set<uint32_t>{700, 703, 1207}));
  EXPECT_TRUE(EncodeInlineUsageMap({10, 600}, 64, &row).IsInvalidArgument());
  UsageMap m({10, 600});
  EXPECT_FALSE(m.FitsInline());
  m.Clear(10);
  EXPECT_TRUE(m.FitsInline());
  EXPECT_TRUE(m.EncodeInline(&row).ok());
  EXPECT_TRUE(EncodeGlobalMap(600, 64, &row).IsInvalidArgument());
}

TEST(UsageMapTest, ReferenceMapsThroughBitmapPages) {
  const std::set<uint32_t> pages = {3, 40000, 40001, 70000};
  // File: page 0 blank, pages 1..2 bitmap pages for slots 0 and 2, slot 1 on page 3.
  Bytes image(4 * kPageSize, 0);
  Bytes bitmap;
  const uint32_t where[3] = {1, 3, 2};
  for (uint32_t k = 0; k < 3; ++k) {
    EncodeUsageBitmapPage(pages, k, &bitmap);
    std::copy(bitmap.begin(), bitmap.end(), image.begin() + where[k] * kPageSize);
  }
  std::unique_ptr<PageFile> file;
  ASSERT_TRUE(PageFile::FromBytes(image, &file).ok());
  Bytes row;
  ASSERT_TRUE(EncodeReferenceUsageMapRow({1, 3, 2}, &row).ok());
  EXPECT_EQ(row.size(), 69u);
  std::set<uint32_t> back;
  UsageMapLayout layout;
  ASSERT_TRUE(DecodeUsageMap(row.data(), row.size(), file.get(), &back, &layout).ok());
  EXPECT_EQ(back, pages);
  EXPECT_EQ(layout.type, kUsageMapTypeReference);

  // A slot pointing at a page of the wrong type, or past the end, is an error.
  ASSERT_TRUE(EncodeReferenceUsageMapRow({0, 0, 0, 9}, &row).ok());
  EXPECT_TRUE(DecodeUsageMap(row.data(), row.size(), file.get(), &back).IsCorruption());
  image[kPageSize] = kPageTypeData;
  ASSERT_TRUE(PageFile::FromBytes(image, &file).ok());
  ASSERT_TRUE(EncodeReferenceUsageMapRow({1}, &row).ok());
  EXPECT_TRUE(DecodeUsageMap(row.data(), row.size(), file.get(), &back).IsCorruption());
  // Every slot naming one full bitmap page: refused, without holding the
  // millions of pages it would name.
  Bytes full(2 * kPageSize, 0);
  EncodeUsageBitmapPage({}, 0, &bitmap);
  std::copy(bitmap.begin(), bitmap.end(), full.begin() + kPageSize);
  std::fill(full.begin() + kPageSize + kUsageBitmapPageHeaderBytes, full.begin() + 2 * kPageSize, 0xFF);
  ASSERT_TRUE(PageFile::FromBytes(full, &file).ok());
  row.assign(1 + 4 * 1023, 0);  // longer than any map row Jet writes
  row[0] = kUsageMapTypeReference;
  for (size_t k = 0; k < 1023; ++k) row[1 + 4 * k] = 1;
  back.clear();
  EXPECT_TRUE(DecodeUsageMap(row.data(), row.size(), file.get(), &back).IsCorruption());
  EXPECT_LE(back.size(), 2 + kUsageBitmapPageSpan + 1);
  const uint8_t bad[1] = {7};
  EXPECT_TRUE(DecodeUsageMap(bad, 1, nullptr, &back).IsCorruption());
}

}  // namespace
}  // namespace kp::jet
