// Row encoding: turns one Row (a Value per column) into the bytes of a Jet 4
// data row, and long values (Memo, OLE) into their 12-byte in-row header plus
// the LVAL rows that hold them when they are not stored inline.
//
// Data row layout (offsets from the start of the row):
//   0                 u16 column count (= TableDef::max_cols)
//   2                 fixed area: each fixed column at 2 + fixed_offset, its
//                     full length always reserved (zeros when the value is
//                     null); Booleans take no bytes here
//   2 + fixed size    variable data, in variable-index order
//   ...               u16 end of variable data (row offset)
//   ...               u16 start offset of each variable column, LAST first;
//                     a null or empty value starts where the next one does
//   ...               u16 variable column count
//   ...               null mask, (max_cols + 7) / 8 bytes, bit n = column
//                     number n, 1 = present; a Boolean's value IS its bit
// Tables without variable columns have no variable data, end offset, offset
// table or count: the null mask follows the fixed area.
//
// Long value header (12 bytes, in the variable data of the row):
//   0  u32 length of the stored bytes | flags in the top two bits:
//        0x80000000 inline (the bytes follow the header in the row)
//        0x40000000 one LVAL row (the bytes are the whole row)
//        0          a chain of LVAL rows, each a u32 next pointer (0 at the
//                   end) followed by at most 4072 bytes
//   4  u32 pointer to the first LVAL row (page << 8 | row), 0 when inline
//   8  u32 0
//
// The bytes of each value (fixed types, text, binary, the bytes of a long
// value) come from the column codec, column_codec.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/bytes.h"
#include "jet/column_codec.h"
#include "jet/format.h"
#include "jet/schema.h"

namespace kp::jet {

// Limits of the row encoding (names kept for callers; values from format.h).
constexpr size_t kMaxRowBytes = kMaxDataRowBytes;                  // longest data row
constexpr size_t kMaxInlineLongValueBytes = kLongValueInlineMax;   // longest inline memo/OLE value
constexpr size_t kMaxLongValueRowBytes = kLongValueRowMax;         // longest LVAL row
constexpr size_t kMaxLongValueChunkBytes = kLongValueChunkMax;     // data in one chain row
constexpr size_t kLongValueHeaderBytes = kLongValueHeaderSize;
constexpr size_t kMaxLongValueBytes = kLongValueLengthMask;  // length field of the header

// Where the long values of memo/OLE columns go when they are not stored inline.
class LongValueSink {
 public:
  virtual ~LongValueSink() = default;
  // Stores `row` (<= 4076 bytes) as one row of an LVAL page that belongs to
  // `column`; returns its pointer (page << 8 | row number).
  virtual Status AddLongValueRow(const ColumnDef& column, const Bytes& row, uint32_t* pointer) = 0;
};

// Encodes `row` (one Value per def.columns entry) into the bytes of a data row.
// Memo data <= 64 bytes goes inline; up to 4076 bytes one LVAL row; longer a chain
// (written last chunk first, each chunk <= 4072 bytes after its 4-byte next pointer).
// Values are checked against their column's type (kind, range, text length) and
// the row against the 4060-byte limit; errors name the column. `sink` may be
// null when no long value needs an LVAL row (the call then fails if one does).
Status EncodeRow(const TableDef& def, const Row& row, LongValueSink* sink, Bytes* out);

// Stores the encoded long value `data` of `column`: appends its 12-byte
// header (and the data itself when inline) to `out`, handing LVAL rows to
// `sink` otherwise.
Status EncodeLongValue(const ColumnDef& column, const Bytes& data, LongValueSink* sink, Bytes* out);
// The same for the `size` bytes at `data`; `scratch` holds the LVAL rows on
// their way to `sink` (its capacity is kept for the next call).
Status EncodeLongValue(const ColumnDef& column, const uint8_t* data, size_t size, LongValueSink* sink,
                       Bytes* out, Bytes* scratch);

// Encodes rows of one table, as EncodeRow does, byte for byte: the layout of
// the table (column count, fixed area size, variable slots) is worked out
// once, and the buffers a row needs on its way are kept from row to row, so
// that a row of a table without LVAL rows allocates nothing once `out` has
// grown. `def` must outlive the encoder and not change.
class RowEncoder {
 public:
  explicit RowEncoder(const TableDef& def);
  RowEncoder(const RowEncoder&) = delete;
  RowEncoder& operator=(const RowEncoder&) = delete;

  Status Encode(const Row& row, LongValueSink* sink, Bytes* out);

 private:
  // The phases of Encode, in order: the fixed columns (into `out`, after
  // its column count); every variable value encoded and checked, its size
  // added to `row_size`; the variable data and offset table written, up to
  // `row_size` less the null mask.
  Status EncodeFixedArea(const Row& row, Bytes* out);
  Status EncodeVariableValues(const Row& row, size_t* row_size);
  Status AppendVariableArea(LongValueSink* sink, size_t row_size, Bytes* out);
  // Sets the null-mask bit of `column`: present, or True.
  void Mark(const ColumnDef& column);

  // One variable-index slot: its column and, while a row is encoded, its bytes.
  struct Slot {
    const ColumnDef* column = nullptr;  // null: a deleted column's slot
    size_t value = 0;                   // index into the row
    bool present = false;
    VariableBytes bytes;                // text in text_, or a binary value in place
    uint16_t start = 0;                 // row offset of its data
  };

  // A fixed column; `width` 1, 2 or 4 for a Byte, Integer or Long of its
  // type's length, whose whole numbers the encoder writes itself.
  struct Fixed {
    const ColumnDef* column = nullptr;
    size_t value = 0;  // index into the row
    // A Byte, Integer or Long: its width, and the whole numbers written in
    // place (an empty range for the other types).
    int width = 0;
    int64_t lo = 1, hi = 0;
    uint16_t offset = 0;  // in the fixed area
    uint16_t mask_byte = 0;  // its bit in the null mask
    uint8_t mask_bit = 0;
  };

  const TableDef& def_;
  std::vector<Fixed> fixed_;  // in column order
  uint16_t column_count_ = 0;
  size_t fixed_size_ = 0;
  Status layout_;  // a variable index used twice
  std::vector<Slot> slots_;
  Bytes null_mask_;
  Bytes text_;            // encoded text of the row's variable columns
  Bytes long_value_row_;  // LVAL row on its way to the sink
};

// The size of the fixed area of `def` (the end of its furthest fixed column).
size_t FixedAreaSize(const TableDef& def);

}  // namespace kp::jet
