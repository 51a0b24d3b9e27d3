// Index keys: the bytes an index entry holds for each column value, in the
// order Access sorts them (entries compare as plain byte strings).
//
// An entry is, per index column, a flag byte and the key bytes, then the row
// pointer (3-byte big-endian page, 1-byte row):
//   flag  0x7F ascending / 0x80 descending value; 0x00 / 0xFF null
//   Byte              the byte
//   Integer, Long, Currency
//                     big-endian with the sign bit flipped
//   Single, Double, DateTime
//                     big-endian; non-negative: sign bit flipped; negative:
//                     all bits inverted
//   Boolean           (always a value) 00 true, FF false
//   Text, Memo        General Legacy codes (below), then 00
// Descending keys invert the key bytes (text: including a 00 written first).
//
// General Legacy text: the text is cut to 255 characters and trailing spaces
// dropped; each character contributes inline code bytes (none for ignored
// and unprintable ones), then 01. Accented and other "international"
// characters add extra codes after the 01, with 02 standing for each
// earlier character without one (trailing 00-02 bytes dropped); extended
// international characters (kana and others) add a two-bit flag each,
// packed three to a byte under 0x80 after 01 01 (trailing 3s dropped),
// followed by FF 02 80 FF 80; unprintable characters add, after 01 01 (and
// FF when flags precede) and 01, a big-endian u16 (7 + 4 x position) | 0x8000,
// 06 and their code each.
#pragma once

#include <cstdint>
#include <string>

#include "base/status.h"
#include "jet/bytes.h"
#include "jet/schema.h"

namespace kp::jet {

// Key bytes without the flag byte.
void AppendIntegerKeyBytes(int64_t value, int width, bool ascending, Bytes* key);  // width 2, 4 or 8
void AppendByteKeyBytes(uint8_t value, bool ascending, Bytes* key);
void AppendDoubleKeyBytes(double value, int width, bool ascending, Bytes* key);  // width 4 or 8
void AppendBooleanKeyBytes(bool value, bool ascending, Bytes* key);
void AppendGeneralLegacyTextKeyBytes(const std::u16string& text, bool ascending, Bytes* key);

// Flag byte plus key bytes of `value` in a column of `column`'s type.
// NotSupported for types this layer does not index (GUID, Numeric, Binary,
// OLE); InvalidArgument when the value does not fit the type.
Status AppendIndexKey(const ColumnDef& column, const Value& value, bool ascending, Bytes* key);
// The key of a present Integer (`width` 2) or Long (`width` 4) value, as
// AppendIndexKey writes it (flag byte, then the number big-endian with its
// sign bit flipped, all inverted when descending), at `p`; returns the end.
inline uint8_t* PutWholeNumberKey(int64_t value, int width, bool ascending, uint8_t* p) {
  const uint32_t invert = ascending ? 0 : 0xFFFFFFFFu;
  p[0] = ascending ? 0x7F : 0x80;
  if (width == 4) {
    const uint32_t v = uint32_t(value) ^ 0x80000000u ^ invert;
    p[1] = uint8_t(v >> 24);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 8);
    p[4] = uint8_t(v);
  } else {
    const uint32_t v = uint32_t(value) ^ 0x8000u ^ invert;
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v);
  }
  return p + 1 + width;
}

// The index entry of a row: the keys of `index`'s columns, then `page`/`row`.
Status BuildIndexEntry(const TableDef& def, const PhysicalIndex& index, const Row& row, uint32_t page, uint8_t row_number,
                       Bytes* entry);
// Appends the 4-byte row pointer of an index entry.
void AppendIndexRowPointer(uint32_t page, uint8_t row_number, Bytes* entry);

}  // namespace kp::jet
