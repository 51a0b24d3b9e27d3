// Pager: the pages of a Jet 4 file opened for writing, through a page cache.
//
// Pages are read on first use and changed in the cache; nothing reaches the
// file before Flush(). New pages are appended at the end of the file, and
// the global usage map (page 1, row 0) is kept in step: a new page's bit is
// cleared, and the map row grows (in steps of 32 pages, as Access lengthens
// it) when the file outgrows it.
//
// Flush() writes in an order that leaves the file valid after every flush,
// and as valid as it can be if the writing stops half way:
//   1. pages appended since the last flush, in page order (nothing refers to
//      them yet);
//   2. changed pages that were already in the file, by write class: rows
//      (data and LVAL pages), then maps (usage-map rows and bitmaps, the
//      global map), then table definitions.
// A failed write is reported with its page; the pages stay dirty, so a later
// Flush() tries again.
//
// The global map (page 1, row 0) is a usage map (usage_map.h) in which a SET
// bit means the page is free. Inline, its window starts at page 0, and
// every page from the end of the file to the end of the window is marked
// free. (Other writers move the window along as their file grows; such a
// map is rewritten from page 0 before its first change, the pages before
// its window in use.) When page 1 has no room left to lengthen it (past 32,032 pages, about
// 125 MiB), it becomes a reference map: a 69-byte row whose bitmap pages are
// appended to the file as it grows, one per 32,736 pages.
//
// Not thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/file_io.h"
#include "base/status.h"
#include "jet/bytes.h"
#include "jet/format.h"

namespace kp::jet {

// When a changed page is written, relative to the others (see above).
enum class WriteClass : uint8_t { kRows = 0, kMaps = 1, kDefinition = 2 };

class Pager {
 public:
  // Opens `path` for reading and writing. The file must be a whole number of
  // pages with a data page holding the global map at page 1.
  static Status Open(const std::string& path, std::unique_ptr<Pager>* result);
  // Closes the file without writing anything.
  ~Pager();

  Pager(const Pager&) = delete;
  Pager& operator=(const Pager&) = delete;

  uint32_t page_count() const { return page_count_; }
  const std::string& path() const { return path_; }

  // The cached image of page `n` (4096 bytes), read from the file on first
  // use. The pointer stays valid until the next Flush()/DropClean().
  Status Get(uint32_t n, uint8_t** page);
  // Marks page `n` (already fetched with Get) as changed.
  void MarkDirty(uint32_t n, WriteClass write_class);
  // Replaces page `n` with `data` (4096 bytes) and marks it changed.
  Status Put(uint32_t n, const uint8_t* data, WriteClass write_class);
  // Appends a zero-filled page at the end of the file and marks it used in
  // the global map.
  Status Allocate(WriteClass write_class, uint32_t* n);

  // Writes every changed page (see the order above).
  Status Flush();
  // Flush(), then the file's data to the disk (one fsync).
  Status Sync();
  // Forgets the pages that need no writing (bounds the cache's memory).
  void DropClean();
  // Pages changed and not written yet.
  size_t dirty_count() const { return dirty_count_; }

 private:
  struct CachedPage {
    uint8_t data[kPageSize];
    bool dirty = false;
    WriteClass write_class = WriteClass::kRows;
  };

  Pager(std::unique_ptr<File> file, std::string path, uint32_t pages);
  Status LoadGlobalMap();
  Status MarkUsedInGlobalMap(uint32_t n);
  Status GrowGlobalMap(uint32_t pages_needed);
  Status RebaseGlobalMap(uint32_t end);
  Status ConvertGlobalMapToReference(std::set<uint32_t> free_pages = {});
  Status CoverWithGlobalBitmaps(const std::set<uint32_t>& free_pages);
  Status ClearGlobalBitmapBit(uint32_t n);
  Status WritePage(uint32_t n, const uint8_t* data, size_t count);
  CachedPage* Lookup(uint32_t n);
  std::unique_ptr<CachedPage> NewPage();

  std::unique_ptr<File> file_;
  std::string path_;
  uint32_t page_count_;  // pages including those not yet written
  uint32_t file_pages_;  // pages in the file itself
  size_t dirty_count_ = 0;
  std::unordered_map<uint32_t, std::unique_ptr<CachedPage>> cache_;
  // Page buffers given back by DropClean(), used again before new memory.
  std::vector<std::unique_ptr<CachedPage>> spare_;
  // The global map row: its place on page 1 and its form.
  uint16_t global_row_offset_ = 0;
  uint16_t global_row_length_ = 0;
  bool global_reference_ = false;
  uint32_t global_start_ = 0;  // inline: the window's first page
};

}  // namespace kp::jet
