// The six tables of the output database, defined once: the template KP.dbd is
// written from these definitions, and the export appends to the same tables.
#pragma once

#include <vector>

#include "base/status.h"
#include "export/jet/schema.h"

namespace kp::jet {

// The six tables in the order the export writes them, columns laid out
// (numbers, offsets, flags) and with their column properties: every Text and
// Memo column allows zero-length strings, none is required, and `Angle` has
// DefaultValue 0. Text and Memo columns compress unicode (flag and property).
Status KpTableDefs(std::vector<TableDef>* tables);

}  // namespace kp::jet
