// Property blobs (MSysObjects.LvProp): the table's and its columns'
// properties, such as DefaultValue, Required and AllowZeroLength.
//
// Layout:
//   "MR2\0"
//   chunks, each: u32 length (with this 6-byte header), u16 type, then
//     type 0x80, names: (u16 byte length, UCS-2LE name) per property name
//     type 0x00 (the object) / 0x01 (a column): a name block, u32 length
//       (with itself), u16 byte length, UCS-2LE name (a column's name; empty
//       or the object's name for 0x00); then entries, each:
//         u16 entry length (with itself), u8 DDL flag, u8 type code (column
//         type codes), u16 index into the name list, u16 value length, value
//   Text values are UCS-2LE; Booleans one byte 00/01; Long 4 bytes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/bytes.h"
#include "jet/schema.h"

namespace kp::jet {

// Parses a blob into `props` (cleared first). Chunks of other types are
// skipped and flagged in `props->has_unknown_chunks`.
Status ParsePropertyBlob(const uint8_t* data, size_t size, PropertySet* props);

// Writes `props` as a blob: the name list (names in order of first use: the
// table's, then the columns'), the table chunk (when it has properties), then
// one chunk per column with properties, in `column_order` when given (names
// not in it follow in name order). An empty set gives an empty blob.
Status SerializePropertySet(const PropertySet& props, Bytes* blob,
                            const std::vector<std::u16string>* column_order = nullptr);

// Property values.
Property TextProperty(const std::u16string& text, ColumnType type = ColumnType::kText, uint8_t ddl_flag = 1);
Property BoolProperty(bool value, uint8_t ddl_flag = 1);
Property LongProperty(int32_t value, uint8_t ddl_flag = 0);
// The text of a Text/Memo property, nullopt for other types.
std::optional<std::u16string> PropertyText(const Property& p);
// The value of a Boolean property (any non-zero byte is true).
std::optional<bool> PropertyBool(const Property& p);

// The column's property `name`, or nullptr.
const Property* FindColumnProperty(const PropertySet& props, const std::u16string& column,
                                   const std::u16string& name);

// The four column rules the layer enforces. Absent properties give nullopt.
std::optional<std::u16string> ColumnDefaultValue(const PropertySet& props, const std::u16string& column);
std::optional<bool> ColumnRequired(const PropertySet& props, const std::u16string& column);
std::optional<bool> ColumnAllowZeroLength(const PropertySet& props, const std::u16string& column);
std::optional<std::u16string> ColumnValidationRule(const PropertySet& props, const std::u16string& column);

}  // namespace kp::jet
