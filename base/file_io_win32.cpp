// The file system on Windows: paths are UTF-16, given to the wide API with
// the \\?\ prefix (any length); every handle lets others read, write and
// delete, so that a work file this program holds open can still be renamed
// by it. A replace is MoveFileExW with MOVEFILE_REPLACE_EXISTING and
// MOVEFILE_WRITE_THROUGH: atomic, and durable when it returns; it fails, the
// destination unchanged, while another program holds the destination open
// without delete sharing (as Access holds an open database).
#include <algorithm>

#include "base/file_io.h"
#include "base/win32.h"

namespace kp {

namespace {

using win32::ErrorStatus;

constexpr DWORD kMaxTransfer = DWORD(1) << 30;

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = DWORD(offset & 0xFFFFFFFFu);
  o.OffsetHigh = DWORD(offset >> 32);
  return o;
}

class WinFile : public File {
 public:
  WinFile(win32::Handle h, std::string path) : h_(std::move(h)), path_(std::move(path)) {}

  Status Read(void* buffer, size_t n, size_t* got) override {
    DWORD read = 0;
    if (!::ReadFile(h_.get(), buffer, DWORD(std::min<size_t>(n, kMaxTransfer)), &read, nullptr)) {
      const DWORD e = ::GetLastError();
      if (e == ERROR_HANDLE_EOF) {
        *got = 0;
        return Status::OK();
      }
      return ErrorStatus("read " + path_, e);
    }
    *got = read;
    return Status::OK();
  }

  Status ReadAt(uint64_t offset, void* buffer, size_t n) override {
    size_t done = 0;
    while (done < n) {
      OVERLAPPED o = At(offset + done);
      DWORD read = 0;
      if (!::ReadFile(h_.get(), static_cast<char*>(buffer) + done, DWORD(std::min<size_t>(n - done, kMaxTransfer)), &read, &o)) {
        const DWORD e = ::GetLastError();
        if (e == ERROR_HANDLE_EOF) return Status::IOError("read " + path_ + ": unexpected end of file");
        return ErrorStatus("read " + path_, e);
      }
      if (read == 0) return Status::IOError("read " + path_ + ": unexpected end of file");
      done += read;
    }
    return Status::OK();
  }

  Status WriteAt(uint64_t offset, const void* data, size_t n) override {
    size_t done = 0;
    while (done < n) {
      OVERLAPPED o = At(offset + done);
      DWORD written = 0;
      if (!::WriteFile(h_.get(), static_cast<const char*>(data) + done, DWORD(std::min<size_t>(n - done, kMaxTransfer)), &written, &o)) {
        return ErrorStatus("write " + path_, ::GetLastError());
      }
      if (written == 0) return ErrorStatus("write " + path_, ERROR_DISK_FULL);
      done += written;
    }
    return Status::OK();
  }

  Status Size(uint64_t* size) override {
    LARGE_INTEGER s;
    if (!::GetFileSizeEx(h_.get(), &s)) return ErrorStatus("stat " + path_, ::GetLastError());
    *size = uint64_t(s.QuadPart);
    return Status::OK();
  }

  Status Truncate(uint64_t size) override {
    FILE_END_OF_FILE_INFO info{};
    info.EndOfFile.QuadPart = LONGLONG(size);
    if (!::SetFileInformationByHandle(h_.get(), FileEndOfFileInfo, &info, sizeof(info))) {
      return ErrorStatus("truncate " + path_, ::GetLastError());
    }
    return Status::OK();
  }

  Status Sync() override {
    if (!::FlushFileBuffers(h_.get())) return ErrorStatus("fsync " + path_, ::GetLastError());
    return Status::OK();
  }

  Status Close() override {
    if (!h_.valid()) return Status::OK();
    if (!::CloseHandle(h_.Release())) return ErrorStatus("close " + path_, ::GetLastError());
    return Status::OK();
  }

 private:
  win32::Handle h_;
  std::string path_;
};

class WinFileSystem : public FileSystem {
 public:
  Status Open(const Path& path, OpenMode mode, std::unique_ptr<File>* file) override {
    DWORD access = GENERIC_READ, disposition = OPEN_EXISTING;
    switch (mode) {
      case OpenMode::kRead: break;
      case OpenMode::kReadWrite: access |= GENERIC_WRITE; break;
      case OpenMode::kCreateNew: access |= GENERIC_WRITE; disposition = CREATE_NEW; break;
    }
    win32::Handle h(::CreateFileW(win32::LongPath(path).c_str(), access,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid()) return ErrorStatus("open " + PathToUtf8(path), ::GetLastError());
    *file = std::make_unique<WinFile>(std::move(h), PathToUtf8(path));
    return Status::OK();
  }

  Status Rename(const Path& from, const Path& to) override {
    if (!::MoveFileExW(win32::LongPath(from).c_str(), win32::LongPath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return ErrorStatus("rename " + PathToUtf8(from) + " to " + PathToUtf8(to), ::GetLastError());
    }
    return Status::OK();
  }

  Status Remove(const Path& path) override {
    if (!::DeleteFileW(win32::LongPath(path).c_str())) return ErrorStatus("remove " + PathToUtf8(path), ::GetLastError());
    return Status::OK();
  }

  // MOVEFILE_WRITE_THROUGH has made the rename durable already.
  Status SyncFolder(const Path&) override { return Status::OK(); }

  bool Exists(const Path& path) override {
    return ::GetFileAttributesW(win32::LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
};

}  // namespace

FileSystem* SystemFiles() {
  static WinFileSystem fs;
  return &fs;
}

}  // namespace kp
