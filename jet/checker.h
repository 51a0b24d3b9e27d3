// The invariant checker: verifies everything the layer writes and prints
// what is wrong and where ("page N: ...").
//
// Checked:
//   header      magic, version 1, fixed bytes, page key 0, the password area
//               matching the creation date (no password), sort order, the
//               "4.0" trailer; file size a whole number of pages
//   pages       every page's type byte; every page below end-of-file used by
//               something (header, global map, TDEF, usage maps, data, LVAL,
//               index pages)
//   global map  pages in use are not marked free; pages past the end of the
//               file, to the end of its window, are marked free
//   data pages  free space = 4082 - sum(row length + 2); row starts after the
//               offset table and in descending order; zeros between the
//               offset table and the lowest row; at most 255 rows
//   TDEF        free space = 4096 - 8 - tdef_len on a one-page TDEF, FF FF
//               ending exactly at tdef_len, zeros after it; column numbers,
//               variable indexes and fixed offsets consistent; the values
//               every writer puts in the same place: 1625 and four zero
//               bytes in each column descriptor, 1923 opening each
//               physical-index block, 1625 each logical-index block
//   rows        each live row decodes against its TDEF: column count and
//               variable count as the TDEF says, fixed columns inside the
//               fixed area, long values whole (chains end, no loops),
//               inline long values at most 64 bytes; row count in the TDEF
//               equals the rows found
//   usage maps  a table's owned map lists exactly its data pages; each
//               memo/OLE column's owned map exactly its LVAL pages; each
//               index's map exactly its index pages; free maps are subsets
//   indexes     pages of the right type and table, entries strictly sorted,
//               prefix lengths fit, free space and entry mask consistent;
//               the entries equal the ones recomputed from the rows
//               (General Legacy keys), and the unique count is the number
//               of distinct keys
//   references  relationships: each foreign key of a referencing table
//               names a table and one of its logical indexes with as many
//               key columns, and every row whose key columns are not all
//               Null has its key (made with the referenced index's
//               columns) among that index's entries
//   catalog     every table row's Id names its TDEF page
//
// Some deviations are Access's own (it leaves row counts of system tables
// stale); they are "tolerated" problems: reported, but failing only in
// strict mode, which is the mode for files this program writes.
#pragma once

#include <string>
#include <vector>

#include "base/status.h"
#include "jet/bytes.h"

namespace kp::jet {

struct CheckProblem {
  uint32_t page = 0;
  std::string message;
  bool tolerated = false;  // a deviation Access itself makes

  std::string ToString() const;  // "page 14: ..."
};

struct CheckOptions {
  bool strict = false;  // tolerated problems count too
};

struct CheckReport {
  std::vector<CheckProblem> problems;
  bool strict = false;
  // No problems (strict) / no untolerated problems.
  bool ok() const;
  // One "page N: message" line per problem; tolerated ones end with
  // " (tolerated: Access does this)" unless strict.
  std::string ToString() const;
};

// Checks the file at `path`. A failed Status means the file could not be
// read at all (I/O, not a Jet 4 file); everything else is in `report`.
Status CheckDatabase(const std::string& path, const CheckOptions& options, CheckReport* report);
// The same over a file image in memory.
Status CheckDatabaseImage(Bytes image, const CheckOptions& options, CheckReport* report);

// The check as a gate before a database is used or copied: OK when the file
// at `path` has no problem beyond the deviations Access itself makes;
// otherwise a Corruption naming the first problem with its page ("page 25:
// ...", and how many more). Its time and memory grow with the file (the
// whole file is read into memory).
Status CheckUsable(const std::string& path);

}  // namespace kp::jet
