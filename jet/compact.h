// Compaction: a closed database copied into a new file that holds the same
// objects with no dead space.
//
// Every table of the catalog (MSysObjects rows of Type 1: the system tables,
// Access's own tables and the user's) is carried over with its definition
// bytes, its live rows byte for byte and its long values; everything that
// is not a table (containers, queries, forms, relationships, properties,
// security rows) lives in the rows of those tables and goes with them.
// Unknown column types are copied as the bytes they are stored as.
//
// What changes:
//   - pages: TDEFs first (MSysObjects at page 2, then the tables in the order
//     of their old Ids), then the usage-map pages, then per table its data
//     pages, the LVAL pages of its memo/OLE columns and its index pages;
//     deleted rows, overflow slots, dead space and unused pages are gone;
//   - a table's Id is its new TDEF page: MSysObjects.Id and MSysACEs.ObjectId
//     follow (security rows of page-sized Ids that name no table are dropped),
//     and so does the other table's TDEF page in each relationship's logical
//     index;
//   - row counts, usage maps, index trees and their unique-key counts are
//     computed anew; index keys are taken from the source index (the bytes the
//     engine that wrote them computed, whatever its sort order), except where
//     the key holds a renumbered Id, which is computed;
//   - the header page is the source's.
// It streams: rows go from the source to the new file as they are read; per
// table it keeps a row-pointer translation (8 bytes a row) and the page sets
// of its usage maps, and per index one page per tree level.
// Compacting the result again gives the same bytes.
#pragma once

#include <string>

#include "base/status.h"

namespace kp::jet {

struct CompactOptions {
  // The source is checked first (CheckUsable in checker.h) and refused, with
  // the page named, when the check fails: a damaged file is never carried
  // over into one that looks whole. Off only for a file this layer has just
  // written into a database that passed the check (the export's output: its
  // template is checked before the first row), where a second check would
  // cost as much as the writing.
  bool check_source = true;
};

// Writes the compacted copy of `source` to `destination`, which must not
// exist. On failure `destination` is not left behind (when this call made
// it) and the source is untouched.
Status CompactDatabase(const std::string& source, const std::string& destination,
                       const CompactOptions& options = CompactOptions());

}  // namespace kp::jet
