// Verification: checks a database's structure, reads it back and compares
// every row of the six output tables with the rows the export writes for a
// document.
//
// The expected rows come from the row mapping itself (WriteTable, through a
// row set that keeps the rows instead of writing them), each value converted
// into its column's type as the engine stores it; a column the mapping leaves
// unassigned (Angle for a code outside 1..4) is expected to hold the
// column's default. Only the output schema's columns are compared; other
// columns a template may have are not.
//
// Rows are matched by their key (No in the pages table, PageNo and ID in the
// others), not by their place in the file, so a compacted database verifies
// as the uncompacted one does. A row whose key the document does not give, a
// second row with a key already matched, and a row the document gives that
// the database lacks are differences; rows a template held before the export
// count as extra rows too. The first difference in the order of the tables
// and, within a table, of the keys is reported: the table, the row's key
// and, for a row that differs, the column with the value expected and the
// value found.
//
// The comparison reads rows only; a file can hold them all and still be
// damaged elsewhere (an index, a usage map, a page's free-space count), which
// CheckStructure finds. Time grows with the rows (a table's rows are looked up by key in the
// order of the document; a file in any other order costs a binary search a
// row). Memory: the expected rows of one table at a time, kept compactly.
#pragma once

#include <cstdint>
#include <string>

#include "base/status.h"
#include "model/control_document.h"

namespace kp {

struct VerifyResult {
  bool same = false;
  int64_t rows = 0;        // rows compared, over the six tables
  std::string difference;  // the first difference, when not `same`
};

// Checks the structure of the database at `path` as jet-check does
// (problems Access itself makes are tolerated): a failed status naming the
// page of the first problem when the file is not whole and valid. A file
// that fails it is never reported as verified, so callers run it before
// VerifyDatabase (and before loading the document: the check holds the file
// in memory).
Status CheckStructure(const std::string& path);

// Compares the database at `path` with `doc`. A failed status when the
// database cannot be read, lacks a table or column of the output schema, or
// the document cannot be mapped to rows (the cause names the place); a
// difference is not a failure but `result->same == false`.
Status VerifyDatabase(const ControlDocument& doc, const std::string& path, VerifyResult* result);

}  // namespace kp
