#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/file_io.h"
#include "base/work_files.h"

namespace kp {

// A claim file open with its flock held (a lock of the open file: a second
// open of the same file, in this process or another, does not have it).
class WorkFileLock {
 public:
  explicit WorkFileLock(int fd) : fd_(fd) {}
  ~WorkFileLock() { ::close(fd_); }
  int fd() const { return fd_; }

 private:
  int fd_;
};

void WorkFileLockClose::operator()(WorkFileLock* lock) const { delete lock; }

namespace work_files {

namespace {

// After the lock: the file may have been removed by the one who held it.
Locked Linked(int fd, WorkFileLockPtr* lock) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || st.st_nlink == 0) {
    ::close(fd);
    return Locked::kMissing;
  }
  lock->reset(new WorkFileLock(fd));
  return Locked::kTaken;
}

}  // namespace

Status CreateLocked(const Path& path, WorkFileLockPtr* lock, Locked* result) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno != EEXIST) return ErrnoStatus("create " + path.native(), errno);
    *result = Locked::kHeld;
    return Status::OK();
  }
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      const int e = errno;
      ::close(fd);
      ::unlink(path.c_str());
      return ErrnoStatus("lock " + path.native(), e);
    }
  }
  *result = Linked(fd, lock);
  return Status::OK();
}

Status LockExisting(const Path& path, WorkFileLockPtr* lock, Locked* result) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno != ENOENT) return ErrnoStatus("open " + path.native(), errno);
    *result = Locked::kMissing;
    return Status::OK();
  }
  int rc;
  while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    const int e = errno;
    ::close(fd);
    if (e != EWOULDBLOCK) return ErrnoStatus("lock " + path.native(), e);
    *result = Locked::kHeld;
    return Status::OK();
  }
  *result = Linked(fd, lock);
  return Status::OK();
}

}  // namespace work_files

}  // namespace kp
