// Table definitions and values of the Jet 4 layer: what a TDEF describes, in
// memory. The reader fills these from a file (tdef_read), the builder writes
// them out (tdef_write), and rows are vectors of Value in column order.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "jet/bytes.h"

namespace kp::jet {

// Column type codes as stored in the column descriptor (byte 0).
enum class ColumnType : uint8_t {
  kBoolean = 0x01,
  kByte = 0x02,
  kInteger = 0x03,   // 16-bit signed
  kLong = 0x04,      // 32-bit signed
  kCurrency = 0x05,  // 64-bit, scaled by 10^4
  kSingle = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,  // OLE Automation date (double)
  kBinary = 0x09,    // up to 255 bytes, variable
  kText = 0x0A,      // up to 255 characters (510 bytes), variable
  kOle = 0x0B,       // long binary value
  kMemo = 0x0C,      // long text value
  kGuid = 0x0F,      // 16 bytes, fixed
  kNumeric = 0x10,   // 17-byte scaled decimal, fixed
  kComplex = 0x11,   // Access-only binary data (MSysAccessObjects.Data)
};

const char* ColumnTypeName(ColumnType type);

// The whole numbers a column of `type` holds as they are: 0..255 for Byte,
// the signed 16- and 32-bit ranges for Integer and Long; an empty range
// (lo > hi) for the other types.
struct WholeRange {
  int64_t lo = 1, hi = 0;
};
inline WholeRange WholeRangeOf(ColumnType type) {
  switch (type) {
    case ColumnType::kByte: return {0, 255};
    case ColumnType::kInteger: return {INT16_MIN, INT16_MAX};
    case ColumnType::kLong: return {INT32_MIN, INT32_MAX};
    default: return {};
  }
}

// Column descriptor flags (byte 15).
constexpr uint8_t kColumnFixedLength = 0x01;
constexpr uint8_t kColumnCanBeNull = 0x02;  // set on every column Access writes
constexpr uint8_t kColumnAutoLong = 0x04;
constexpr uint8_t kColumnAutoGuid = 0x40;
constexpr uint8_t kColumnHyperlink = 0x80;
// Extended flags (byte 16).
constexpr uint8_t kColumnCompressedUnicode = 0x01;

// One entry of a property blob (MSysObjects.LvProp).
struct Property {
  uint8_t type = 0;       // a ColumnType code
  uint8_t ddl_flag = 0;   // 1 for the properties Access writes through DDL
  Bytes value;            // raw value bytes (UCS-2 for text, 1 byte for Boolean, ...)
};

// Properties of one object: the table's own ("" key) and one map per column.
using PropertyMap = std::map<std::u16string, Property>;
struct PropertySet {
  PropertyMap table;                              // chunk type 0x00, empty name
  std::map<std::u16string, PropertyMap> columns;  // chunk type 0x01, by column name
  // Any chunk this layer does not model, kept so that a blob can be written
  // back unchanged.
  bool has_unknown_chunks = false;
};

struct ColumnDef {
  std::u16string name;
  ColumnType type = ColumnType::kLong;
  uint16_t number = 0;        // column number: position in the null mask
  uint16_t var_index = 0;     // index into the variable-offset table (variable columns)
  uint16_t fixed_offset = 0;  // offset in the fixed area (fixed columns)
  uint16_t length = 0;        // bytes: 1, 2, 4, 8; 2 x chars for Text; 0 for Memo/OLE
  uint8_t flags = kColumnCanBeNull;
  uint8_t ext_flags = 0;
  uint8_t misc[4] = {0, 0, 0, 0};  // sort order (text) or precision/scale (numeric)

  bool is_fixed() const { return (flags & kColumnFixedLength) != 0; }
  bool is_long_value() const { return type == ColumnType::kMemo || type == ColumnType::kOle; }
};

// A physical index: the B-tree that holds the keys (Jet 4 "real index").
struct IndexColumn {
  uint16_t column_number = 0;
  uint8_t flags = 0x01;  // 0x01 ascending
};
struct PhysicalIndex {
  std::vector<IndexColumn> columns;  // at most 10
  uint32_t usage_map = 0;            // pointer to the index's usage map row
  uint32_t root_page = 0;            // first leaf (or root node) page
  uint8_t flags = 0x80;              // 0x01 unique, 0x02 ignore nulls, 0x08 required
  uint32_t unique_count = 0;         // the key count kept in the 12-byte block
  Bytes raw;                         // the 52 stored bytes, for round-tripping unknown fields
};
// A logical index: a name that points at a physical index.
struct LogicalIndex {
  std::u16string name;
  uint32_t number = 0;
  uint32_t physical_index = 0;
  uint8_t kind = 0;  // 1 primary key, 2 foreign key
  Bytes raw;         // the 28 stored bytes
};

struct LongValueMaps {  // per memo/OLE column
  uint16_t column_number = 0;
  uint32_t owned_map = 0;  // pointer to the owned-pages usage map row
  uint32_t free_map = 0;   // pointer to the free-space usage map row
};

struct TableDef {
  std::u16string name;
  uint32_t tdef_page = 0;   // first TDEF page (= the table's Id in MSysObjects)
  uint32_t row_count = 0;
  uint32_t autonumber = 0;  // last autonumber value
  uint8_t table_type = 0x4E;  // 0x4E user, 0x53 system
  uint16_t max_cols = 0;      // never decreases; deleted columns keep their numbers
  uint32_t owned_map = 0;     // pointer to the owned-pages usage map row
  uint32_t free_map = 0;      // pointer to the free-space usage map row
  std::vector<ColumnDef> columns;  // sorted by column number
  std::vector<PhysicalIndex> physical_indexes;
  std::vector<LogicalIndex> logical_indexes;
  std::vector<LongValueMaps> long_value_maps;
  PropertySet properties;  // from the table's LvProp, when present

  uint16_t variable_column_count() const {
    uint16_t n = 0;
    for (const auto& c : columns) n += c.is_fixed() ? 0 : 1;
    return n;
  }
  // The column with this exact name, or nullptr.
  const ColumnDef* FindColumn(const std::u16string& column_name) const {
    for (const auto& c : columns) if (c.name == column_name) return &c;
    return nullptr;
  }
};

// One value of a row. Integer kinds share `i`; floating kinds share `d`.
struct Value {
  enum class Kind { kNull, kBoolean, kInteger, kDouble, kCurrency, kDateTime, kText, kBinary };
  Kind kind = Kind::kNull;
  int64_t i = 0;      // Boolean (0/1), Byte, Integer, Long; Currency x 10^4
  double d = 0;       // Single, Double, DateTime
  std::u16string text;
  Bytes binary;       // Binary, OLE, GUID, Numeric (raw bytes)

  static Value Null() { return Value(); }
  static Value Bool(bool b) { Value v; v.kind = Kind::kBoolean; v.i = b ? 1 : 0; return v; }
  static Value Int(int64_t n) { Value v; v.kind = Kind::kInteger; v.i = n; return v; }
  static Value Double(double x) { Value v; v.kind = Kind::kDouble; v.d = x; return v; }
  static Value DateTime(double x) { Value v; v.kind = Kind::kDateTime; v.d = x; return v; }
  static Value Str(std::u16string s) { Value v; v.kind = Kind::kText; v.text = std::move(s); return v; }
  static Value Blob(Bytes b) { Value v; v.kind = Kind::kBinary; v.binary = std::move(b); return v; }

  bool is_null() const { return kind == Kind::kNull; }
  bool operator==(const Value& o) const {
    return kind == o.kind && i == o.i && d == o.d && text == o.text && binary == o.binary;
  }
};

// A row: one Value per entry of TableDef::columns, in the same order.
using Row = std::vector<Value>;

}  // namespace kp::jet
