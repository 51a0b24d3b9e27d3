// Outside readers of Jet files, for tests: mdbtools (mdb-export, mdb-tables)
// and the npm package mdb-reader (tests/js/mdb_dump.mjs), with their output
// parsed into plain tables of strings.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/status.h"

namespace kp::testing {

// One table as an outside reader printed it: every value as text, Null as
// nullopt.
struct OracleTable {
  std::vector<std::string> columns;                          // names (mdb-reader only)
  std::vector<std::string> types;                            // mdb-reader type names ("long", "text", ...)
  std::vector<std::vector<std::optional<std::string>>> rows;
  long row_count = -1;                                       // mdb-reader's TDEF row count
};

// A shell command's exit status (-1 when it could not run or was killed) and
// standard output.
struct ShellRun {
  int status = -1;
  std::string out;
};
ShellRun Shell(const std::string& command);

// Runs a shell command; `*out` receives its standard output. Fails when it
// cannot run or exits non-zero.
Status RunCapture(const std::string& command, std::string* out);

// Whether the tools are installed (tests skip otherwise).
bool HaveMdbtools();
bool HaveMdbReader();
// Skips the test where either reader is missing (on Windows, both).
#define KP_SKIP_WITHOUT_ORACLES()                                                \
  if (!::kp::testing::HaveMdbtools() || !::kp::testing::HaveMdbReader())          \
  GTEST_SKIP() << "mdbtools or mdb-reader (node) is missing"

// mdb-tables -1 (with -S: system tables too). Names are UTF-8.
Status MdbtoolsTableNames(const std::string& file, bool system, std::vector<std::string>* names);

// mdb-export of one table: no header, binary as upper-case hex, dates as
// "%Y-%m-%d %H:%M:%S", Booleans 0/1. mdbtools prints an empty text like Null.
Status MdbtoolsRows(const std::string& file, const std::string& table, OracleTable* out);

// mdb-reader, through `node mdb_dump.mjs FILE --system --table NAME` run with
// TZ=UTC: strings as they are, numbers in their JSON spelling, Booleans
// "true"/"false", binary as lower-case hex, dates as ISO strings.
Status MdbReaderRows(const std::string& file, const std::string& table, OracleTable* out);
// Table names mdb-reader lists (user tables; with `system` the system ones too).
Status MdbReaderTableNames(const std::string& file, bool system, std::vector<std::string>* names);

// The rows of `table` as lines in the two readers' common notation: fields
// joined by '|', Null as <NULL>, Booleans 0/1, binary as upper-case hex.
// mdbtools prints an empty text as <NULL> too. `*ok` is false when the reader
// failed (or is missing).
std::vector<std::string> RowsByMdbtools(const std::string& file, const std::string& table, bool* ok);
std::vector<std::string> RowsByMdbReader(const std::string& file, const std::string& table, bool* ok);

// Shell quoting for a single argument.
std::string ShellQuote(const std::string& s);

}  // namespace kp::testing
