// Compaction: a closed database read logically and written again by the
// builder: tight data and LVAL pages, exact usage maps, catalog indexes
// rebuilt, table Ids (= TDEF pages) and their MSysACEs rows renumbered
// together. The source's header page and its Owner/SID values are kept.
//
// Only what can be carried over exactly is compacted: the engine's own
// catalog objects and security rows as it writes them, and local tables
// without indexes whose columns are of known types. Anything else (saved
// queries, relationships, linked tables, forms and other objects Access
// adds, user indexes, custom permissions, unknown property chunks) makes
// compaction fail with a message saying what. A rebuilt file larger than
// the source is not used: the destination then gets the source's bytes.
#pragma once

#include <string>

#include "base/status.h"
#include "export/jet/builder.h"

namespace kp::jet {

// Reads the logical content of `source` into a builder layout.
Status ReadCompactionSpec(const std::string& source, DatabaseSpec* layout);

// Writes the compacted copy of `source` to `destination`, which must not
// exist. On failure `destination` is not left behind (when this call made
// it) and the source is untouched.
Status CompactDatabase(const std::string& source, const std::string& destination);

}  // namespace kp::jet
