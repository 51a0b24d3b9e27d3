// The one query form the engine understands: SELECT * FROM [table name].
#pragma once

#include <string>

#include "base/status.h"

namespace kp::jet {

// Takes the table name out of `query`, which must read
// "SELECT * FROM [name]": keywords in any case, separated by blanks, the name
// in brackets (non-empty, without ']'), blanks allowed around the whole.
// Anything else is an InvalidArgument error that quotes the query.
Status ParseTableQuery(const std::u16string& query, std::u16string* table);

}  // namespace kp::jet
