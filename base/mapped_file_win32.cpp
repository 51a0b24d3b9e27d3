// A read-only file mapping (CreateFileMappingW, MapViewOfFile); the pages read
// are given back by taking them out of the working set.
#include "base/mapped_file.h"
#include "base/win32.h"

namespace kp {

namespace {

class WinMappedFile : public MappedFile {
 public:
  WinMappedFile(win32::Handle file, uint64_t size, std::string path)
      : file_(std::move(file)), size_(size), path_(std::move(path)) {}
  ~WinMappedFile() override { Unmap(); }

  uint64_t size() const override { return size_; }

  Status Map() override {
    if (view_ != nullptr) return Status::OK();
    if (!mapping_.valid()) {
      mapping_ = win32::Handle(::CreateFileMappingW(file_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
      if (!mapping_.valid()) return win32::ErrorStatus("cannot map " + path_, ::GetLastError());
    }
    view_ = ::MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, SIZE_T(size_));
    if (view_ == nullptr) return win32::ErrorStatus("cannot map " + path_, ::GetLastError());
    data_ = static_cast<const uint8_t*>(view_);
    return Status::OK();
  }

  void DropResident() override {
    // Unlocking pages that were never locked takes them out of the working
    // set; the view, and data(), stay as they are.
    if (view_ != nullptr) ::VirtualUnlock(view_, SIZE_T(size_));
  }

  Status ReadAt(uint64_t offset, void* buffer, size_t n) const override {
    size_t done = 0;
    while (done < n) {
      OVERLAPPED o{};
      o.Offset = DWORD((offset + done) & 0xFFFFFFFFu);
      o.OffsetHigh = DWORD((offset + done) >> 32);
      DWORD read = 0;
      if (!::ReadFile(file_.get(), static_cast<char*>(buffer) + done, DWORD(n - done), &read, &o) || read == 0) {
        const DWORD e = ::GetLastError();
        if (read == 0 && (e == ERROR_HANDLE_EOF || e == ERROR_SUCCESS)) {
          return Status::IOError(path_ + ": the file is shorter than when it was opened");
        }
        return win32::ErrorStatus(path_, e);
      }
      done += read;
    }
    return Status::OK();
  }

 private:
  void Unmap() {
    if (view_ != nullptr) ::UnmapViewOfFile(view_);
    view_ = nullptr;
  }

  win32::Handle file_;
  win32::Handle mapping_{nullptr};
  uint64_t size_;
  std::string path_;
  void* view_ = nullptr;
};

}  // namespace

Status MappedFile::Open(const Path& path, std::unique_ptr<MappedFile>* out) {
  win32::Handle h(::CreateFileW(win32::LongPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) return win32::ErrorStatus("cannot open " + PathToUtf8(path), ::GetLastError());
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(h.get(), &size)) return win32::ErrorStatus("cannot read " + PathToUtf8(path), ::GetLastError());
  *out = std::make_unique<WinMappedFile>(std::move(h), uint64_t(size.QuadPart), PathToUtf8(path));
  return Status::OK();
}

}  // namespace kp
