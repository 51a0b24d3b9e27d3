// Values handed to a row set, checked and converted into the type of the
// column they go to, and the column rules that hold for a whole row.
//
// Kinds accepted per column type:
//   Byte, Integer, Long      whole numbers within the type's range
//   Currency, Double, Single whole numbers (stored exactly)
//   Boolean                  True / False
//   Text(n)                  text of at most n characters
//   Memo                     text
//   any                      Null (checked against Required at the end)
// Anything else is an error that names the column. The bytes a converted
// value then takes in a row are the column codec's (column_codec.h).
#pragma once

#include <optional>
#include <string>

#include "base/status.h"
#include "base/text_util.h"  // Utf16ToUtf8: names in messages
#include "jet/schema.h"

namespace kp::jet {

// The rules a column's properties set (absent properties: not required,
// zero-length strings refused, as the engine treats fields without them).
struct ColumnRules {
  bool required = false;
  bool allow_zero_length = false;
  std::optional<std::u16string> default_value;    // the DefaultValue expression
  std::optional<std::u16string> validation_rule;  // non-empty ValidationRule
};

// The rules of `column` from `def.properties`.
ColumnRules RulesOf(const TableDef& def, const ColumnDef& column);

// The longest text a Memo column takes, in UTF-16 units.
constexpr size_t kMaxMemoChars = 0x3FFFFFFF / 2;

// Converts `in` into the value stored in `column` (see the table above).
Status ConvertValue(const ColumnDef& column, const Value& in, Value* out);

// Checks a finished row: Null where a column is required, "" where
// zero-length strings are refused. `rules` has one entry per column.
Status CheckRow(const TableDef& def, const std::vector<ColumnRules>& rules, const Row& row);
// The same over `checked`, the columns CheckedColumns found to have a rule
// (for many rows of one table).
std::vector<size_t> CheckedColumns(const TableDef& def, const std::vector<ColumnRules>& rules);
Status CheckRow(const TableDef& def, const std::vector<ColumnRules>& rules, const Row& row,
                const std::vector<size_t>& checked);

// "column Name" for messages, the name in UTF-8.
std::string ColumnLabel(const ColumnDef& column);
// A value for messages: 12, -1.5, "text" (the first 64 characters), True,
// Null, "3 bytes".
std::string ValueText(const Value& v);

}  // namespace kp::jet
