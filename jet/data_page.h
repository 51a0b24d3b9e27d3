// Data pages: the page that holds table rows, LVAL rows (long values) and
// usage-map rows, built up one row at a time.
//
// Page layout:
//   0   u8  page type 0x01
//   1   u8  0x01
//   2   u16 free space = 4082 - sum(row length + 2)
//   4   u32 owner: TDEF page of the table, "LVAL" (4C 56 41 4C) for long
//           values, 0 for usage-map rows, 1 on the global-map page
//   8   u32 0
//   12  u16 row count
//   14  u16 row offsets, one per row (flags 0x8000 deleted, 0x4000 lookup)
//   ... free space ...
//   rows, packed downward from the end of the page: row i runs from its own
//   offset up to the offset of row i-1 (4096 for row 0)
// A page holds at most 255 rows.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "jet/bytes.h"
#include "jet/format.h"

namespace kp::jet {

constexpr uint32_t kDataPageLvalOwner = kLvalOwnerTag;  // "LVAL" read as a u32
constexpr size_t kDataPageHeaderBytes = kDataRowOffsetsOffset;
constexpr size_t kDataPageEmptyFreeSpace = kDataUsableBytes;
constexpr int kDataPageMaxRows = kMaxRowsPerDataPage;

class DataPageBuilder {
 public:
  // An empty page of `owner` (see the layout above).
  explicit DataPageBuilder(uint32_t owner = 0) { Reset(owner); }

  // Starts over with an empty page.
  void Reset(uint32_t owner);

  // Continues an existing data page (e.g. the last page of a table): checks
  // its header and row offsets; rows added later go below the lowest row.
  // `page_number` only serves error messages.
  Status Load(const uint8_t* page, uint32_t page_number);

  // Whether a row of `size` bytes (plus its 2-byte offset) still fits.
  bool Fits(size_t size) const;
  // Adds `row`; returns its row number. Fails when it does not fit.
  Status AddRow(const Bytes& row, uint8_t* row_number);

  size_t free_space() const { return free_; }
  int row_count() const { return rows_; }
  bool empty() const { return rows_ == 0; }
  const Bytes& page() const { return page_; }

 private:
  Bytes page_;
  size_t free_ = 0;
  size_t lowest_ = 0;  // start of the lowest row (4096 when there is none)
  int rows_ = 0;
};

}  // namespace kp::jet
