// Reading rows: data-page row slots, the row layout and long values.
//
// Data page: see format.h. Row slot r holds a u16 at 14 + 2r: its start
// (mask 0x1FFF) and flags, 0x8000 deleted, 0x4000 overflow: the slot holds
// a pointer (u8 row, u24 page) to where the row really is; the row there is
// itself flagged deleted so that a page scan skips it. Row r ends where row
// r-1 starts (4096 for row 0).
//
// Row (Jet 4):
//   u16 column count (columns of the table when the row was written)
//   fixed area: each fixed column at 2 + its fixed offset
//   variable data
//   u16 end of variable data                       } only when the table
//   u16 variable offsets, last column first        } has variable columns
//   u16 variable column count                      }
//   null mask, (column count + 7) / 8 bytes: bit n = column n, 1 = present;
//   a Boolean's value is its bit
// The value of each column from its bytes: the column codec, column_codec.h.
// Long values (Memo, OLE): a 12-byte header, u32 length | flags, u32
// pointer, u32 0: 0x80000000 data inline after the header; 0x40000000 data
// is the LVAL row at the pointer; 0 a chain of LVAL rows, each a u32 next
// pointer and up to 4072 bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/status.h"
#include "jet/bytes.h"
#include "jet/column_codec.h"
#include "jet/schema.h"

namespace kp::jet {

class PageFile;

// A row slot of a data page.
struct RowSlot {
  uint16_t start = 0;   // offset in the page
  uint16_t end = 0;     // one past its last byte
  bool deleted = false;
  bool overflow = false;
};

// Row count and slot `r` of data page image `page` (number `page_number`),
// checked: offsets inside the page and after the offset table, rows not
// overlapping their neighbours.
Status DataPageRowCount(const uint8_t* page, uint32_t page_number, uint16_t* count);
Status DataPageRowSlot(const uint8_t* page, uint32_t page_number, uint16_t r, RowSlot* slot);

// Bytes of row `row` of data page `page` (following no overflow pointer).
Status ReadRowBytes(const PageFile& file, uint32_t page, uint8_t row, const uint8_t** data, size_t* size,
                    RowSlot* slot = nullptr);

// Where the parts of a decoded row are, for the checker.
struct RowLayout {
  uint16_t column_count = 0;
  uint16_t variable_count = 0;  // from the row (0 when the table has none)
  size_t fixed_end = 0;         // end of the fixed area
  size_t variable_end = 0;      // end of variable data
  size_t variable_start = 0;    // start of the first variable value
  // Per def.columns entry: the value's bytes [first, second) in the row;
  // (0, 0) when the column is null, Boolean or not in the row.
  std::vector<std::pair<uint32_t, uint32_t>> spans;
};

// Decodes a row's bytes into one Value per def.columns entry. Long values
// are read from `file` (chains: loops, pointers out of range and short
// chains are errors).
Status DecodeRow(const PageFile& file, const TableDef& def, const uint8_t* data, size_t size, Row* row,
                 RowLayout* layout = nullptr);

// Reads a long value given its 12-byte header (and the bytes that follow it
// in the row, for inline data).
Status ReadLongValue(const PageFile& file, const uint8_t* field, size_t size, Bytes* out);

// The pages of a long value's LVAL rows (empty for inline values).
Status LongValuePages(const PageFile& file, const uint8_t* field, size_t size, std::vector<uint32_t>* pages);

}  // namespace kp::jet
