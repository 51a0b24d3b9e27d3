// Row mapping: how a loaded ControlDocument becomes the rows of the six
// output tables (export/output_schema.h), written in that order, each opened
// by its query text, columns assigned in the schema's order.
//
// Values: No/PageNo = page position + 1; ID = item position in its page's list
// + 1; Name is Null only when empty; IsTag is True only for the byte 2; Angle
// codes 1..4 give 0/90/180/270 and any other code leaves the column
// unassigned (the template's default); embedded-file rows copy KPE_FileName
// and InData from the register entry at RegisterIndex. Every other text is
// written unchanged, empty strings included.
//
// The loops run on the counts (PageCount, EmbedCount, ...), never on a list's
// size; a count larger than its list, or a RegisterIndex outside the
// register, fails the table at the row that would read past the end. Rows are
// committed one at a time, so rows written before a failure stay.
//
// The document is only read. Not thread-safe beyond what the Database allows.
#pragma once

#include <functional>
#include <string>

#include "base/status.h"
#include "jet/jet.h"
#include "export/output_schema.h"
#include "model/control_document.h"

namespace kp {

// Called after the rows of page position p are written, with p + 1; also
// for a page that gave no rows.
using PageDoneCallback = std::function<void(int32_t pages_done)>;

// Opens table `table_index` on `db` by its query text, appends the rows of
// every page of `doc` in order, reports each finished page to `on_page_done`
// (may be empty) and closes the table. On failure the cause names the table,
// page, item and column where it happened.
Status WriteTable(const ControlDocument& doc, int table_index, jet::Database& db,
                  const PageDoneCallback& on_page_done);

}  // namespace kp
