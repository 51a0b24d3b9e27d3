// The column codec: how one value of each column type becomes the bytes it
// takes in a data row, and back. Row layout (where each value goes, the
// null mask, the variable-offset table) and long-value storage (LVAL rows)
// are the rows' business, in row_write.* and row_read.*; the rules for
// values a caller hands in (kinds accepted, ranges, Required) are in values.*.
//
// Per type, stored little-endian:
//   Byte            1 byte, 0..255
//   Integer         2 bytes, signed
//   Long            4 bytes, signed
//   Currency        8 bytes, signed, in 1/10000
//   Single          4 bytes, IEEE single
//   Double, Date    8 bytes, IEEE double (a date: days since 1899-12-30)
//   GUID, Numeric,  exactly the column's length in bytes as given (16, 17,
//   Complex         any), read back as binary
//   Boolean         no bytes: its value is its bit of the null mask
//   Text            UCS-2LE, or "compressed unicode": FF FE, then one byte
//                   per character when the column has the compressed-unicode
//                   flag, every character is in U+0001..U+00FF and there are
//                   3 to 1024 of them. Read back: after FF FE, segments split
//                   at 00 bytes alternate between one byte per character
//                   (the first) and UCS-2LE
//   Binary          its bytes
//   Memo            text as Text, stored as a long value
//   OLE             its bytes, stored as a long value
// Anything else reads back as binary and cannot be written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/status.h"
#include "jet/bytes.h"
#include "jet/schema.h"

namespace kp::jet {

// Text longer than this is never compressed (Access's limit).
constexpr size_t kMaxCompressedTextChars = 1024;

// ---- encoding -----------------------------------------------------------------
// Encoding errors are InvalidArgument "column Name: what".
Status RefuseValue(const ColumnDef& column, const std::string& what);

// The stored size of a fixed-length type; 0 when any length goes.
size_t FixedTypeSize(ColumnType type);

// The mask bit of a Boolean value (not null): True / False, or a number
// (non-zero is True).
Status EncodeBoolean(const ColumnDef& column, const Value& value, bool* bit);

// Writes the non-null value of fixed-length `column` (not Boolean) at `p`,
// column.length bytes, after checking that length against the type.
Status EncodeFixedValue(const ColumnDef& column, const Value& value, uint8_t* p);

// Encodes a text value for `column` (Text or Memo): compressed when the
// column allows it and it pays, UCS-2LE otherwise. No length check.
void EncodeText(const ColumnDef& column, const std::u16string& text, Bytes* out);

// The bytes of the non-null value of variable-length `column` (Text, Binary,
// Memo, OLE), checked against the column (kind, Text and Binary length).
// Text is encoded at the end of `text`: `in_text` is set, `offset` is where
// it starts there. Binary data is used where it is: `data` points into
// `value`. Memo and OLE bytes are the long value to store.
struct VariableBytes {
  bool in_text = false;
  const uint8_t* data = nullptr;
  size_t offset = 0;
  size_t size = 0;
};
Status EncodeVariableValue(const ColumnDef& column, const Value& value, Bytes* text,
                           VariableBytes* out);

// ---- decoding -----------------------------------------------------------------
// Text of a Text/Memo value's bytes (compressed or not).
std::u16string DecodeText(const uint8_t* data, size_t size);
void DecodeTextInto(const uint8_t* data, size_t size, std::u16string* out);

// Decodes the `size` bytes at `p` of a present value of `column` (not
// Boolean, not Memo/OLE) into `value`, reusing its text and binary capacity.
// Values shorter than their type are Corruption.
Status DecodeValue(const ColumnDef& column, const uint8_t* p, size_t size, Value* value);

// Decodes the bytes of a Memo (text) or OLE (binary) long value, read from
// its LVAL rows, into `value`.
void DecodeLongValue(const ColumnDef& column, Bytes bytes, Value* value);

}  // namespace kp::jet
