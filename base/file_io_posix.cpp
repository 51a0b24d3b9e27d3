// The file system on Linux and other POSIX systems: paths are bytes, given to
// the system calls unchanged.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/file_io.h"

namespace kp {

namespace {

constexpr size_t kMaxPieces = 64;  // gathered by one pwritev

class PosixFile : public File {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  Status Read(void* buffer, size_t n, size_t* got) override {
    for (;;) {
      const ssize_t r = ::read(fd_, buffer, n);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return ErrnoStatus("read " + path_, errno);
      *got = size_t(r);
      return Status::OK();
    }
  }

  Status ReadAt(uint64_t offset, void* buffer, size_t n) override {
    size_t done = 0;
    while (done < n) {
      const ssize_t r = ::pread(fd_, static_cast<char*>(buffer) + done, n - done, off_t(offset + done));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return ErrnoStatus("read " + path_, errno);
      if (r == 0) return Status::IOError("read " + path_ + ": unexpected end of file");
      done += size_t(r);
    }
    return Status::OK();
  }

  Status WriteAt(uint64_t offset, const void* data, size_t n) override {
    size_t done = 0;
    while (done < n) {
      const ssize_t w = ::pwrite(fd_, static_cast<const char*>(data) + done, n - done, off_t(offset + done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return ErrnoStatus("write " + path_, w < 0 ? errno : ENOSPC);
      done += size_t(w);
    }
    return Status::OK();
  }

  Status WritePiecesAt(uint64_t offset, const Piece* pieces, size_t count) override {
    while (count > 0) {
      iovec iov[kMaxPieces];
      const size_t n = std::min(count, kMaxPieces);
      size_t total = 0;
      for (size_t k = 0; k < n; ++k) {
        iov[k].iov_base = const_cast<void*>(pieces[k].data);
        iov[k].iov_len = pieces[k].size;
        total += pieces[k].size;
      }
      ssize_t w = ::pwritev(fd_, iov, int(n), off_t(offset));
      while (w < 0 && errno == EINTR) w = ::pwritev(fd_, iov, int(n), off_t(offset));
      if (w < 0) return ErrnoStatus("write " + path_, errno);
      if (size_t(w) < total) {
        // A short write: the rest piece by piece, which reports the cause.
        uint64_t at = offset;
        size_t written = size_t(w);
        for (size_t k = 0; k < n; ++k) {
          const size_t from = std::min(written, pieces[k].size);
          written -= from;
          if (from < pieces[k].size) {
            KP_RETURN_IF_ERROR(WriteAt(at + from, static_cast<const char*>(pieces[k].data) + from, pieces[k].size - from));
          }
          at += pieces[k].size;
        }
      }
      offset += total;
      pieces += n;
      count -= n;
    }
    return Status::OK();
  }

  Status Size(uint64_t* size) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return ErrnoStatus("stat " + path_, errno);
    *size = uint64_t(st.st_size);
    return Status::OK();
  }

  Status Truncate(uint64_t size) override {
    if (::ftruncate(fd_, off_t(size)) != 0) return ErrnoStatus("truncate " + path_, errno);
    return Status::OK();
  }

  Status Sync() override {
    if (::fsync(fd_) != 0) return ErrnoStatus("fsync " + path_, errno);
    return Status::OK();
  }

  void StartWriteback(uint64_t offset, uint64_t length) override {
#ifdef __linux__
    ::sync_file_range(fd_, off64_t(offset), off64_t(length), SYNC_FILE_RANGE_WRITE);  // a hint: errors change nothing
#else
    (void)offset;
    (void)length;
#endif
  }

  Status Close() override {
    if (fd_ < 0) return Status::OK();
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 && errno != EINTR) return ErrnoStatus("close " + path_, errno);
    return Status::OK();
  }

 private:
  int fd_;
  std::string path_;
};

class PosixFileSystem : public FileSystem {
 public:
  Status Open(const Path& path, OpenMode mode, std::unique_ptr<File>* file) override {
    int flags = O_CLOEXEC;
    switch (mode) {
      case OpenMode::kRead: flags |= O_RDONLY; break;
      case OpenMode::kReadWrite: flags |= O_RDWR; break;
      case OpenMode::kCreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    }
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return ErrnoStatus("open " + path.native(), errno);
    *file = std::make_unique<PosixFile>(fd, path.native());
    return Status::OK();
  }

  Status Rename(const Path& from, const Path& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) return ErrnoStatus("rename " + from.native() + " to " + to.native(), errno);
    return Status::OK();
  }

  Status Remove(const Path& path) override {
    if (std::remove(path.c_str()) != 0) return ErrnoStatus("remove " + path.native(), errno);
    return Status::OK();
  }

  Status SyncFolder(const Path& folder) override {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return ErrnoStatus("open folder " + folder.native(), errno);
    // Some file systems cannot sync a folder (EINVAL): nothing more to do there.
    const int rc = ::fsync(fd);
    const int e = errno;
    ::close(fd);
    if (rc != 0 && e != EINVAL) return ErrnoStatus("fsync folder " + folder.native(), e);
    return Status::OK();
  }

  bool Exists(const Path& path) override {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
  }
};

}  // namespace

FileSystem* SystemFiles() {
  static PosixFileSystem fs;
  return &fs;
}

}  // namespace kp
