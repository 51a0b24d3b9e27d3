// ctl2mdb's verify mode: `ctl2mdb --verify PATH OUTPUT.mdb`.
//
// Checks the structure of OUTPUT.mdb as jet-check does, then loads PATH (a
// DEFAULT.CTL, or the folder that holds one) as the convert mode does and
// compares every row of the six output tables of OUTPUT.mdb
// with the rows a conversion of it writes (export/verify.h). Prints
// "verified: N rows" on stdout and returns 0 when they agree; otherwise
// prints the first difference (table, row, column, expected and found) on
// stderr and returns 1, as it does when the database is damaged (the page of
// its first problem) or the document or the database cannot be read (the
// message and its cause).
#pragma once

#include <string>

namespace kp::cli {

int RunVerify(const std::string& path, const std::string& database);

}  // namespace kp::cli
