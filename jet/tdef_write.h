// Table definitions on disk: serializes a TableDef into TDEF page(s) laid out
// as Access writes them.
//
// Logical TDEF buffer (offsets from the start of the first page; its first 8
// bytes are that page's header):
//   0   02 01, u16 free space, u32 next TDEF page (0 if none)
//   8   u32 tdef_len (the whole buffer, continuation headers left out)
//   12  u32 1625
//   16  u32 row count
//   20  u32 last autonumber
//   24  u8 1, 15 zero bytes
//   40  u8 table type (0x4E user, 0x53 system)
//   41  u16 max column count, u16 variable column count, u16 column count
//   47  u32 logical index count, u32 physical index count
//   55  u32 owned-pages map pointer, u32 free-space map pointer
//   63  per physical index 12 bytes: u32 0, u32 unique key count, u32 0
//       per column a 25-byte descriptor:
//         0 type, 1 u32 1625, 5 u16 column number, 7 u16 variable index,
//         9 u16 0, 11 4 bytes sort order / precision (ColumnDef::misc),
//         15 flags, 16 extended flags, 17 u32 0, 21 u16 fixed offset,
//         23 u16 length
//       column names, each u16 byte length + UCS-2LE, in descriptor order
//       per physical index 52 bytes: u32 1923, 10 x (u16 column or FFFF,
//         u8 flags), u32 usage map pointer, u32 root page, u32 0,
//         u8 index flags, 5 zero bytes
//       per logical index 28 bytes: u32 1625, u32 index number, u32 physical
//         index, u8 0, i32 -1, u32 0, 04 04, u8 kind, u32 0
//       logical index names (as column names)
//       per memo/OLE column: u16 column number, u32 owned map, u32 free map
//       FF FF
// A buffer longer than a page continues on further pages, each with its own
// 8-byte header (02 01, free space, next page). Free space: 4096 - 8 -
// tdef_len on a single page; on split pages (space left on the page) - 8,
// at least 0.
#pragma once

#include <cstdint>
#include <vector>

#include "base/status.h"
#include "jet/bytes.h"
#include "jet/schema.h"

namespace kp::jet {

struct TdefWriteOptions {
  // Column descriptors, logical indexes and the memo/OLE list in the
  // case-insensitive alphabetical order of their names, as the engine writes
  // its own catalog tables; otherwise column-number / index-number order.
  bool alphabetical = false;
};

// The bytes of the logical TDEF buffer of `def` (its page-0 header included,
// with next page 0 and free space unset: see SplitTableDef).
Status EncodeTableDef(const TableDef& def, const TdefWriteOptions& options, Bytes* logical);

// How many pages a logical buffer of `size` bytes takes.
size_t TableDefPageCount(size_t size);

// Cuts the logical buffer into page images for `page_numbers` (the first is
// the table's TDEF page; exactly TableDefPageCount pages), linking them.
Status SplitTableDef(const Bytes& logical, const std::vector<uint32_t>& page_numbers,
                     std::vector<Bytes>* pages);

// Numbers `columns` in their order and places them in a row: a variable
// column takes the next variable index; a fixed one (flags) takes the next
// bytes of the fixed area (a Boolean none: its value is its null-mask bit)
// and the variable index of the next variable column.
void PlaceColumns(std::vector<ColumnDef>* columns);

// Fills in the on-disk layout of user-table columns given in column order
// (name, type, and length for Text/Binary in bytes): flags, the sort-order
// bytes, lengths of the fixed types, then PlaceColumns, and max_cols. Text
// and Memo columns get compressed unicode.
Status AssignColumnLayout(TableDef* def);

}  // namespace kp::jet
