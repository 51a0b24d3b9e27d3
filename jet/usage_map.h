// Usage maps: which pages a table, a long-value column or an index owns (or
// has free space on), and, for the global map on page 1, which pages are free.
//
// A map is one row of a data page (see format.h):
//   type 0, inline:    u8 0, u32 start page, bitmap; bit n (LSB first)
//                      stands for page start + n. Rows are 69 bytes (64-byte
//                      bitmap, 512 pages), longer for a grown global map.
//                      Access starts a window at a multiple of 8 and so does
//                      this layer; other writers start an index's map at its
//                      root page, whatever its number, and every reader
//                      accepts that.
//   type 1, reference: u8 1, 17 x u32 bitmap page (0 = none). Bitmap page k
//                      is `05 01 00 00` + 4092 bytes and stands for pages
//                      [k * 32736, (k + 1) * 32736), bit n = page k*32736 + n.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "base/status.h"
#include "jet/bytes.h"
#include "jet/format.h"

namespace kp::jet {

class PageFile;

// What a decoded map row looked like, besides its pages.
struct UsageMapLayout {
  uint8_t type = 0;
  uint32_t start_page = 0;             // inline: first page of the window
  uint32_t window_pages = 0;           // inline: pages the bitmap covers
  std::vector<uint32_t> bitmap_pages;  // reference: the 17 slots
};

// Decodes the map row [row, row + size). Reference maps read their bitmap
// pages from `file` (checking their type); `file` may be null for inline
// maps. `pages` receives every page whose bit is set.
Status DecodeUsageMap(const uint8_t* row, size_t size, const PageFile* file, std::set<uint32_t>* pages,
                      UsageMapLayout* layout = nullptr);

// The row of an inline map with a `bitmap_bytes`-byte bitmap listing `pages`.
// The window starts at page 0 when it can, otherwise at the first listed page
// rounded down to a multiple of 8; pages outside the window are an error.
Status EncodeInlineUsageMap(const std::set<uint32_t>& pages, size_t bitmap_bytes, Bytes* row);

// The row of a reference map whose 17 slots are `bitmap_pages` (missing
// slots are 0).
Status EncodeReferenceUsageMapRow(const std::vector<uint32_t>& bitmap_pages, Bytes* row);

// Bitmap page number `k` of a reference map listing `pages` (only the pages
// in its range count).
void EncodeUsageBitmapPage(const std::set<uint32_t>& pages, uint32_t k, Bytes* page);

// The global map row (page 1, row 0) of a file of `page_count` pages: an
// inline map from page 0 where a SET bit means FREE: pages past the end of
// the file, up to the end of the bitmap, are set.
Status EncodeGlobalMap(uint32_t page_count, size_t bitmap_bytes, Bytes* row);

// The global map's two forms. Inline, its bitmap grows with the file until
// page 1 (which also holds the 69-byte row 1) has no more room: up to
// kGlobalMapMaxInlineBitmapBytes, that is 32,032 pages (about 125 MiB).
// Past that the row is a reference map whose bitmap pages (usage_map's
// type 1 layout) again use a SET bit for a FREE page.
constexpr size_t kGlobalMapMaxInlineBitmapBytes =
    (kPageSize - kDataRowOffsetsOffset - 2 * 2 - kUsageMapInlineRowBytes - kUsageMapInlineHeaderBytes) / 4 * 4;

// The inline global map's bitmap for a file of `pages` pages, as Access
// sizes it: at least 512 pages, in steps of 32 (a 743-page Access file has a
// 96-byte bitmap). Past kGlobalMapMaxInlineBitmapBytes the map is a
// reference map.
inline size_t GlobalMapBitmapBytes(uint32_t pages) {
  return std::max<size_t>(kUsageMapInlineBitmapBytes, (size_t(pages) + 31) / 32 * 4);
}

// How many bitmap pages a file of `pages` pages needs for a reference global
// map once they are appended to it (they cover themselves too).
uint32_t GlobalBitmapPagesNeeded(uint32_t pages);

// Bitmap page number `k` of a reference global map of a file of
// `page_count` pages: pages at or past the end and those in `free_pages`
// are free (set), every other page is in use.
void EncodeGlobalBitmapPage(uint32_t k, uint32_t page_count, const std::set<uint32_t>& free_pages, Bytes* page);

// A small mutable set of pages that encodes to a map row.
class UsageMap {
 public:
  UsageMap() = default;
  explicit UsageMap(std::set<uint32_t> pages) : pages_(std::move(pages)) {}

  void Set(uint32_t page) { pages_.insert(page); }
  void Clear(uint32_t page) { pages_.erase(page); }
  bool Contains(uint32_t page) const { return pages_.count(page) != 0; }
  bool empty() const { return pages_.empty(); }
  const std::set<uint32_t>& pages() const { return pages_; }
  // Whether the pages fit one inline window of `bitmap_bytes` bytes.
  bool FitsInline(size_t bitmap_bytes = 64) const;
  // Reads a map row (see DecodeUsageMap).
  Status Decode(const uint8_t* row, size_t size, const PageFile* file) {
    pages_.clear();
    return DecodeUsageMap(row, size, file, &pages_);
  }
  Status EncodeInline(Bytes* row, size_t bitmap_bytes = 64) const {
    return EncodeInlineUsageMap(pages_, bitmap_bytes, row);
  }

 private:
  std::set<uint32_t> pages_;
};

}  // namespace kp::jet
