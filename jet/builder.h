// Writes a complete new Jet 4 database in one pass: header page, global
// usage map, the engine's system catalog for a blank database (see
// catalog_write.h for its fixed pages), then each user table with its rows.
//
// Pages of a user table, allocated in this order after the catalog (page 16
// on): its TDEF page(s) (the table's Id is the first), one usage-map page
// (row 0 owned pages, row 1 pages with free space, then an owned/free pair
// per memo/OLE column in column order), then its data pages and LVAL pages as
// the rows fill them. An LVAL page holds the long values of one column only.
// Property blobs of more than 64 bytes go on an LVAL page of
// MSysObjects.LvProp after the last table.
//
// A table's indexes (physical and logical, as given; no foreign keys) get
// their trees after its rows: leaves, then node pages, built from the rows'
// sorted entries (an empty index is one empty leaf), listed in a usage-map
// row each on the table's map page, after the memo/OLE maps; their unique
// counts follow the keys. Two rows with one key in a unique index are an
// error.
//
// Each new table gets an MSysObjects row (Type 1, Flags 0, parent Tables,
// Owner = MSysDb's owner), the security rows the engine gives new tables, and
// entries in the MSysObjects and MSysACEs indexes; unique counts follow.
// The catalog's own rows must fit their single data pages and index leaves
// (a few dozen tables).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/bytes.h"
#include "jet/catalog_write.h"
#include "jet/schema.h"

namespace kp::jet {

struct TableSpec {
  // Name, columns (laid out: see AssignColumnLayout) and properties; page
  // numbers, maps and counts are filled in by the builder.
  TableDef def;
  std::vector<Row> rows;
};

struct DatabaseSpec {
  // Page 0 as it goes into the file (4096 bytes); empty: the reference
  // header. Its Owner/SID values must come with it (see SecurityIds).
  Bytes header_page;
  std::optional<SecurityIds> security;  // default: the reference values
  // DateCreate/DateUpdate of the engine's catalog rows and of the new
  // tables' rows; default: the reference catalog date.
  std::optional<double> catalog_date;
  std::optional<double> table_date;
  std::vector<TableSpec> tables;
};

// Builds the whole file in memory.
Status BuildDatabase(const DatabaseSpec& layout, Bytes* file);

// Builds the file and writes it to `path` durably (a synced temporary file
// beside it, renamed over `path`, the folder synced): `path` holds either
// what it held before or the whole new file.
Status WriteDatabase(const DatabaseSpec& layout, const std::string& path);

}  // namespace kp::jet
