// Default values of new rows, and whether a table may take appended rows.
//
// A DefaultValue expression is understood when it is a plain literal
// (optionally after "="): a number (123, -4, 1.5, 2E3), a quoted string
// ("a""b" or 'a''b'), True / False / Yes / No, or Null, case-insensitive.
// The literal goes into the column's type as the engine coerces it: True is
// -1 in a number column, a non-zero number is True in a Boolean column, a
// number keeps its written form in a text column. Anything else (functions,
// dates, arithmetic) is not evaluated: the table then refuses appending.
#pragma once

#include <string>
#include <vector>

#include "base/status.h"
#include "jet/schema.h"
#include "jet/values.h"

namespace kp::jet {

// Parses a literal DefaultValue expression into `value`; `written` receives
// the literal's text as written (numbers), for text columns.
Status ParseDefaultLiteral(const std::u16string& expression, Value* value, std::u16string* written);

// The value `column` starts with in a new row: its DefaultValue in the
// column's type, or Null when it has none.
Status DefaultFor(const ColumnDef& column, const ColumnRules& rules, Value* value);

// Checks what stands in the way of appending to `def` in its properties
// and columns: no validation rule on the table or a column, no GUID
// autonumber, and every default understood (indexes and relationships are
// the appender's). Fills the rules and starting values of
// every column. The error says which table and what stands in the way.
Status PrepareAppend(const TableDef& def, std::vector<ColumnRules>* rules, Row* defaults);

}  // namespace kp::jet
