#include "base/work_files.h"

#include <map>
#include <system_error>
#include <vector>

namespace kp {

namespace {

using String = Path::string_type;

String Native(const std::string& ascii) { return String(ascii.begin(), ascii.end()); }

// Removes the files of claim `claim` (held by us) and then the claim.
void RemoveClaimed(const Path& claim, const std::vector<Path>& files, WorkFileLockPtr lock) {
  std::error_code ec;
  for (const Path& f : files) std::filesystem::remove(LongPathSafe(f), ec);
  std::filesystem::remove(LongPathSafe(claim), ec);
  lock.reset();
}

}  // namespace

WorkFileClaim::WorkFileClaim(Path path, WorkFileLockPtr lock)
    : path_(std::move(path)), lock_(std::move(lock)) {}

WorkFileClaim::~WorkFileClaim() { RemoveClaimed(path_, {}, std::move(lock_)); }

Status WorkFileClaim::Take(const Path& output, std::unique_ptr<WorkFileClaim>* claim) {
  int missing = 0;
  for (int n = 0; n < 1000;) {
    Path path = output;
    path += Native(".~kp" + std::to_string(n));
    WorkFileLockPtr lock;
    work_files::Locked locked;
    KP_RETURN_IF_ERROR(work_files::CreateLocked(path, &lock, &locked));
    switch (locked) {
      case work_files::Locked::kTaken:
        claim->reset(new WorkFileClaim(std::move(path), std::move(lock)));
        return Status::OK();
      case work_files::Locked::kHeld:
        ++n;
        break;
      case work_files::Locked::kMissing:  // removed before we locked it: again
        if (++missing > 100) ++n;
        break;
    }
  }
  return Status::IOError("no free work file name beside " + PathToUtf8(output));
}

Path WorkFileClaim::WorkPath(const std::string& suffix) const {
  Path p = path_;
  p += Native(suffix);
  std::error_code ec;
  std::filesystem::remove(LongPathSafe(p), ec);
  return p;
}

void RemoveStaleWorkFiles(const Path& output) {
  const Path folder = FolderOf(output);
  const String prefix = output.filename().native() + Native(".~kp");
  // Claim number -> whether its own file is there, and the files named after it.
  struct Found {
    bool claim = false;
    std::vector<Path> files;
  };
  std::map<unsigned long, Found> found;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(LongPathSafe(folder), ec), end; !ec && it != end; it.increment(ec)) {
    const String name = it->path().filename().native();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    size_t digits = prefix.size();
    while (digits < name.size() && digits - prefix.size() < 6 && name[digits] >= '0' && name[digits] <= '9') ++digits;
    if (digits == prefix.size()) continue;
    const unsigned long n = std::stoul(std::string(name.begin() + long(prefix.size()), name.begin() + long(digits)));
    Found& f = found[n];
    if (digits == name.size()) {
      f.claim = true;
    } else {
      f.files.push_back(folder / name);
    }
  }
  for (auto& [n, f] : found) {
    Path claim = output;
    claim += Native(".~kp" + std::to_string(n));
    WorkFileLockPtr lock;
    work_files::Locked locked = work_files::Locked::kMissing;
    if (f.claim && !work_files::LockExisting(claim, &lock, &locked).ok()) continue;
    // Files whose claim is gone: whoever makes the claim anew owns them.
    if (locked == work_files::Locked::kMissing && !work_files::CreateLocked(claim, &lock, &locked).ok()) continue;
    if (locked == work_files::Locked::kTaken) RemoveClaimed(claim, f.files, std::move(lock));
  }
}

}  // namespace kp
