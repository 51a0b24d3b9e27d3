// Claims on Windows: the claim file is open with read, write and delete
// sharing (so that it can be removed and its work files renamed while it is
// held) and its first byte locked with LockFileEx; the system drops the lock
// when the process ends. A file removed while open is "delete pending" until
// its last handle closes: that is the sign that it was removed.
#include "base/work_files.h"
#include "base/win32.h"

namespace kp {

class WorkFileLock {
 public:
  explicit WorkFileLock(win32::Handle h) : h_(std::move(h)) {}
  ~WorkFileLock() {
    OVERLAPPED o{};
    ::UnlockFileEx(h_.get(), 0, 1, 0, &o);
  }

 private:
  win32::Handle h_;
};

void WorkFileLockClose::operator()(WorkFileLock* lock) const { delete lock; }

namespace work_files {

namespace {

constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool Lock(HANDLE h, bool wait) {
  OVERLAPPED o{};
  return ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY), 0, 1, 0, &o) != 0;
}

// After the lock: the file may have been removed by the one who held it.
Locked Linked(win32::Handle h, WorkFileLockPtr* lock) {
  FILE_STANDARD_INFO info{};
  if (!::GetFileInformationByHandleEx(h.get(), FileStandardInfo, &info, sizeof(info)) || info.DeletePending) {
    return Locked::kMissing;
  }
  lock->reset(new WorkFileLock(std::move(h)));
  return Locked::kTaken;
}

}  // namespace

Status CreateLocked(const Path& path, WorkFileLockPtr* lock, Locked* result) {
  win32::Handle h(::CreateFileW(win32::LongPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShare, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) {
    const DWORD e = ::GetLastError();
    // A removed file not yet gone is refused as "access denied", as is a
    // folder that takes no files: only the first is there.
    if (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS ||
        (e == ERROR_ACCESS_DENIED && ::GetFileAttributesW(win32::LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES)) {
      *result = Locked::kHeld;
      return Status::OK();
    }
    return win32::ErrorStatus("create " + PathToUtf8(path), e);
  }
  if (!Lock(h.get(), true)) {
    const DWORD e = ::GetLastError();
    h.Reset();
    ::DeleteFileW(win32::LongPath(path).c_str());
    return win32::ErrorStatus("lock " + PathToUtf8(path), e);
  }
  *result = Linked(std::move(h), lock);
  return Status::OK();
}

Status LockExisting(const Path& path, WorkFileLockPtr* lock, Locked* result) {
  win32::Handle h(::CreateFileW(win32::LongPath(path).c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) {
    const DWORD e = ::GetLastError();
    if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) {
      *result = Locked::kMissing;
      return Status::OK();
    }
    if (e == ERROR_ACCESS_DENIED) {  // being removed
      *result = Locked::kHeld;
      return Status::OK();
    }
    return win32::ErrorStatus("open " + PathToUtf8(path), e);
  }
  if (!Lock(h.get(), false)) {
    const DWORD e = ::GetLastError();
    if (e != ERROR_LOCK_VIOLATION && e != ERROR_IO_PENDING) return win32::ErrorStatus("lock " + PathToUtf8(path), e);
    *result = Locked::kHeld;
    return Status::OK();
  }
  *result = Linked(std::move(h), lock);
  return Status::OK();
}

}  // namespace work_files

}  // namespace kp
