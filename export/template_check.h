// The template check: a KP.dbd from elsewhere (another database put in its
// place) must be sound (every structure the database layer's check looks at:
// header, global map, catalog and its indexes, every table's definition,
// rows, usage maps and indexes), and hold the six output tables with every
// column the export writes, each at least as wide as this program's own
// template makes it.
// The export runs it on its copy of the template before the first row, so a
// template that does not fit fails the save without writing anything.
#pragma once

#include <string>

#include "base/status.h"

namespace kp {

// OK when the database at `path` can take every row the export writes;
// otherwise a Corruption naming the page of the first damage ("template:
// page 25: ..."), or a NotSupported naming the table and column that does
// not fit. Its time grows with the template, not with the document.
Status CheckTemplate(const std::string& path);

}  // namespace kp
