#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/mapped_file.h"

namespace kp {

namespace {

class PosixMappedFile : public MappedFile {
 public:
  PosixMappedFile(int fd, uint64_t size, std::string path) : fd_(fd), size_(size), path_(std::move(path)) {}
  ~PosixMappedFile() override {
    if (map_ != nullptr) ::munmap(map_, size_t(size_));
    ::close(fd_);
  }
  uint64_t size() const override { return size_; }
  Status Map() override {
    if (map_ != nullptr) return Status::OK();
    void* map = ::mmap(nullptr, size_t(size_), PROT_READ, MAP_PRIVATE, fd_, 0);
    if (map == MAP_FAILED) return Status::IOError("cannot map " + path_ + ": " + std::strerror(errno));
    map_ = map;
    data_ = static_cast<const uint8_t*>(map);
    return Status::OK();
  }
  void DropResident() override {
    if (map_ != nullptr) ::madvise(map_, size_t(size_), MADV_DONTNEED);
  }
  Status ReadAt(uint64_t offset, void* buffer, size_t n) const override {
    for (size_t done = 0; done < n;) {
      const ssize_t r = ::pread(fd_, static_cast<char*>(buffer) + done, n - done, off_t(offset + done));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        return Status::IOError(path_ + ": " + (r < 0 ? std::strerror(errno) : "the file is shorter than when it was opened"));
      }
      done += size_t(r);
    }
    return Status::OK();
  }

 private:
  int fd_;
  uint64_t size_;
  std::string path_;
  void* map_ = nullptr;
};

}  // namespace

Status MappedFile::Open(const Path& path, std::unique_ptr<MappedFile>* out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status::IOError("cannot open " + path.native() + ": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int e = errno;
    ::close(fd);
    return Status::IOError("cannot read " + path.native() + ": " + std::strerror(e));
  }
  *out = std::make_unique<PosixMappedFile>(fd, uint64_t(st.st_size), path.native());
  return Status::OK();
}

}  // namespace kp
