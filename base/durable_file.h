// Writing files so that a crash, a full disk or a failed write never leaves
// a torn file where a complete one is expected. Every function goes through
// Files() (file_io.h).
//
//   new file   written completely under its own new name, synced once; on
//              failure it is removed
//   copy       the same with the bytes of another file
//   replace    a complete file renamed over its destination (atomic), then
//              the destination's folder synced, so that the new name lasts
//
// The usual sequence: write or copy to TempPathBeside(destination), change
// it, sync it, ReplaceDurably(temp, destination); on failure RemoveQuietly(temp).
#pragma once

#include <cstddef>
#include <string>

#include "base/path.h"
#include "base/status.h"

namespace kp {

enum class SyncMode { kSync, kNoSync };

// Writes `size` bytes to the new file `path` (it must not exist).
Status WriteNewFile(const Path& path, const void* data, size_t size, SyncMode sync = SyncMode::kSync);
// Copies the file `from` into the new file `to` (it must not exist).
Status CopyToNewFile(const Path& from, const Path& to, SyncMode sync = SyncMode::kSync);
// Renames the complete file `from` over `to` and syncs the folder of `to`
// (and that of `from` when it differs). A failed folder sync is reported;
// the rename has then been made.
Status ReplaceDurably(const Path& from, const Path& to);
// A name beside `path` that is free at the moment: "<path>.~kp<n>".
Status TempPathBeside(const Path& path, Path* temp);
// Removes `path` if it is there; a failure is not reported.
void RemoveQuietly(const Path& path);

}  // namespace kp
