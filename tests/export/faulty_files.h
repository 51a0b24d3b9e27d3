// A FileSystem over the real one that counts operations by kind and can make
// the N-th operation of one kind fail with a given errno, or (for writes)
// write half of its bytes and then fail with ENOSPC, as a disk that fills up.
#pragma once

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "base/file_io.h"

namespace kp::testing {

enum class FileOp { kOpen, kRead, kWrite, kSync, kRename, kRemove };
inline const char* FileOpName(FileOp op) {
  static const char* const names[] = {"open", "read", "write", "fsync", "rename", "remove"};
  return names[int(op)];
}
constexpr int kFileOpKinds = 6;

struct Fault {
  FileOp op = FileOp::kOpen;
  int nth = 0;              // 1-based; 0 = no fault
  int error = EIO;
  bool short_write = false;  // write half, then fail with ENOSPC
};

class FaultyFiles : public FileSystem {
 public:
  explicit FaultyFiles(Fault fault = {}) : fault_(fault) {}

  int count(FileOp op) const { return counts_[int(op)]; }
  int total() const { return int(sequence_.size()); }
  bool fired() const { return fired_; }
  // Kind of each operation in order, for placing a fault in time.
  const std::vector<FileOp>& sequence() const { return sequence_; }

  // Counts one operation; true when it is the one to fail.
  bool Hit(FileOp op) {
    sequence_.push_back(op);
    if (++counts_[int(op)] == fault_.nth && op == fault_.op) {
      fired_ = true;
      return true;
    }
    return false;
  }
  Status Failure(const std::string& what) { return ErrnoStatus(what, fault_.error); }

  Status Open(const Path& path, OpenMode mode, std::unique_ptr<File>* file) override;
  Status Rename(const Path& from, const Path& to) override {
    if (Hit(FileOp::kRename)) return Failure("rename " + PathToUtf8(from));
    return SystemFiles()->Rename(from, to);
  }
  Status Remove(const Path& path) override {
    if (Hit(FileOp::kRemove)) return Failure("remove " + PathToUtf8(path));
    return SystemFiles()->Remove(path);
  }
  Status SyncFolder(const Path& folder) override {
    if (Hit(FileOp::kSync)) return Failure("fsync " + PathToUtf8(folder));
    return SystemFiles()->SyncFolder(folder);
  }
  bool Exists(const Path& path) override { return SystemFiles()->Exists(path); }

  const Fault& fault() const { return fault_; }

 private:
  Fault fault_;
  int counts_[kFileOpKinds] = {};
  std::vector<FileOp> sequence_;
  bool fired_ = false;
};

class FaultyFile : public File {
 public:
  FaultyFile(FaultyFiles* fs, std::unique_ptr<File> real, std::string path)
      : fs_(fs), real_(std::move(real)), path_(std::move(path)) {}
  Status Read(void* buffer, size_t n, size_t* got) override {
    if (fs_->Hit(FileOp::kRead)) return fs_->Failure("read " + path_);
    return real_->Read(buffer, n, got);
  }
  Status ReadAt(uint64_t offset, void* buffer, size_t n) override {
    if (fs_->Hit(FileOp::kRead)) return fs_->Failure("read " + path_);
    return real_->ReadAt(offset, buffer, n);
  }
  Status WriteAt(uint64_t offset, const void* data, size_t n) override {
    if (fs_->Hit(FileOp::kWrite)) {
      if (!fs_->fault().short_write) return fs_->Failure("write " + path_);
      Status s = real_->WriteAt(offset, data, n / 2);
      return s.ok() ? ErrnoStatus("write " + path_, ENOSPC) : s;
    }
    return real_->WriteAt(offset, data, n);
  }
  Status Size(uint64_t* size) override { return real_->Size(size); }
  Status Truncate(uint64_t size) override {
    if (fs_->Hit(FileOp::kWrite)) return fs_->Failure("truncate " + path_);
    return real_->Truncate(size);
  }
  Status Sync() override {
    if (fs_->Hit(FileOp::kSync)) return fs_->Failure("fsync " + path_);
    return real_->Sync();
  }
  Status Close() override { return real_->Close(); }

 private:
  FaultyFiles* fs_;
  std::unique_ptr<File> real_;
  std::string path_;
};

inline Status FaultyFiles::Open(const Path& path, OpenMode mode, std::unique_ptr<File>* file) {
  if (Hit(FileOp::kOpen)) return Failure("open " + PathToUtf8(path));
  std::unique_ptr<File> real;
  KP_RETURN_IF_ERROR(SystemFiles()->Open(path, mode, &real));
  *file = std::make_unique<FaultyFile>(this, std::move(real), PathToUtf8(path));
  return Status::OK();
}

}  // namespace kp::testing
