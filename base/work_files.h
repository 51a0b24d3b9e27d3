// The work files a conversion keeps beside its output, and the removal of
// those that earlier conversions left behind (killed, or lost power).
//
// A conversion of the output O first takes a claim: the empty file
// "O.~kpN" (N the lowest free number), created new and locked for as long as
// the claim lives (flock on Linux, LockFileEx on Windows; the system drops
// the lock when the process ends, however it ends). Its work files are
// named after the claim, "O.~kpN" followed by a suffix, and made only while
// the claim is held. So whether a work file is still in use is never a guess
// by age: a claim that can be locked belongs to no running process, and its
// files are left over. The claim itself goes when it is released.
//
//   RemoveStaleWorkFiles(O)   removes every "O.~kpN" whose lock it can take,
//                             with its "O.~kpN<suffix>" files, and such files
//                             whose claim is gone; a held claim's files stay
//
// A claim is made safe against a removal that runs at the same moment: its
// maker locks it after creating it, and takes another name when the file was
// removed in between.
#pragma once

#include <memory>
#include <string>

#include "base/path.h"
#include "base/status.h"

namespace kp {

class WorkFileLock;  // an open, locked claim file (work_files_posix.cpp, work_files_win32.cpp)
struct WorkFileLockClose {
  void operator()(WorkFileLock* lock) const;
};
using WorkFileLockPtr = std::unique_ptr<WorkFileLock, WorkFileLockClose>;

class WorkFileClaim {
 public:
  // Takes a claim beside `output`.
  static Status Take(const Path& output, std::unique_ptr<WorkFileClaim>* claim);
  // Removes the claim's file and lets the lock go. The work files made under
  // it should be gone before.
  ~WorkFileClaim();
  WorkFileClaim(const WorkFileClaim&) = delete;
  WorkFileClaim& operator=(const WorkFileClaim&) = delete;

  // The claim's own file.
  const Path& path() const { return path_; }
  // A work file of this claim: its path followed by `suffix` (".db",
  // ".compact"). A file left there by an earlier holder of the same name is
  // removed first, so the name is free.
  Path WorkPath(const std::string& suffix) const;

 private:
  WorkFileClaim(Path path, WorkFileLockPtr lock);
  Path path_;
  WorkFileLockPtr lock_;
};

// Removes the work files beside `output` that no running process holds (see
// above). Failures are not reported: what cannot be removed now is removed
// by a later conversion.
void RemoveStaleWorkFiles(const Path& output);

// What the system does for the claims (one implementation per system).
namespace work_files {

enum class Locked {
  kTaken,    // the file is ours, locked
  kHeld,     // it exists and another holds (or is removing) it
  kMissing,  // it is not there, or was removed before the lock was had
};
// Creates `path` new and locks it, waiting for a removal that holds it.
// kHeld when it already exists.
Status CreateLocked(const Path& path, WorkFileLockPtr* lock, Locked* result);
// Opens the existing `path` and takes its lock when no one holds it.
Status LockExisting(const Path& path, WorkFileLockPtr* lock, Locked* result);

}  // namespace work_files

}  // namespace kp
