// Index pages: decode a leaf (0x04) or node (0x03) page into its entries, and
// build a single leaf page from sorted entries.
//
// Page layout:
//   0   u8 type (04 leaf, 03 node), u8 01
//   2   u16 free space = 4096 - (480 + bytes of entries)
//   4   u32 TDEF page of the table
//   8   u32 0
//   12  u32 previous page, 16 u32 next page, 20 u32 tail page (0 = none)
//   24  u16 prefix length: the first entry is stored whole, every later one
//       without its first `prefix length` bytes (they equal the first's)
//   26  u8 0
//   27  453-byte entry mask: bit n (byte 27 + n / 8, bit n % 8) is set where
//       a stored entry ends n bytes after offset 480
//   480 the stored entries, back to back
// An entry: the keys (collation.h), the row pointer (3-byte big-endian page,
// 1-byte row) and, on node pages, a big-endian u32 child page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/status.h"
#include "jet/bytes.h"

namespace kp::jet {

// The length of the common start of two entries (a page's prefix).
inline size_t CommonPrefix(const uint8_t* a, size_t a_size, const uint8_t* b, size_t b_size) {
  const size_t n = a_size < b_size ? a_size : b_size;
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

struct IndexPage {
  uint8_t type = 0;  // kPageTypeIndexLeaf or kPageTypeIndexNode
  uint16_t free_space = 0;
  uint32_t tdef_page = 0;
  uint32_t prev_page = 0;
  uint32_t next_page = 0;
  uint32_t tail_page = 0;
  uint16_t prefix_length = 0;
  uint32_t entries_end = 0;      // bytes of stored entries (after offset 480)
  std::vector<Bytes> entries;    // whole entries, prefix restored

  bool is_leaf() const;
};

// Decodes the index page image `page` (number `page_number`, for messages).
// The entries reuse the buffers of those `out` held, so that decoding page
// after page into one IndexPage allocates next to nothing.
Status DecodeIndexPage(const uint8_t* page, uint32_t page_number, IndexPage* out);

// Builds a leaf page holding `entries` (each keys + row pointer, strictly
// ascending as byte strings) with prefix length 0 and no neighbours: what
// Access writes for an index that fits one page. Fails when they are not
// sorted or do not fit.
Status BuildLeafPage(uint32_t tdef_page, const std::vector<Bytes>& entries, Bytes* page);

// Whether entries of these sizes fit one leaf page.
bool LeafFits(size_t total_entry_bytes);

// The row pointer at the end of a leaf entry (or before the child page of a
// node entry): page and row. False when the entry is too short.
bool IndexEntryRow(const Bytes& entry, bool node, uint32_t* page, uint8_t* row);
// The child page of a node entry.
bool IndexEntryChild(const Bytes& entry, uint32_t* child);

}  // namespace kp::jet
