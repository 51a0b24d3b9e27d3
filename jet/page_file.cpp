#include "jet/page_file.h"

#include "base/file_io.h"
#include "base/path.h"
#include "base/mapped_file.h"

namespace kp::jet {

const char* PageTypeName(uint8_t type) {
  switch (type) {
    case kPageTypeHeader: return "header page";
    case kPageTypeData: return "data page";
    case kPageTypeTdef: return "TDEF page";
    case kPageTypeIndexNode: return "index node page";
    case kPageTypeIndexLeaf: return "index leaf page";
    case kPageTypeUsageBitmap: return "usage-map bitmap page";
    default: return "page of unknown type";
  }
}

Status PageFile::FromBytes(Bytes data, std::unique_ptr<PageFile>* out) {
  if (data.empty()) return Status::Corruption("empty file");
  if (data.size() % kPageSize != 0) {
    return Status::Corruption("file size " + std::to_string(data.size()) + " is not a multiple of " +
                              std::to_string(kPageSize) + " (truncated?)");
  }
  if (data.size() / kPageSize > 0xFFFFFF) return Status::NotSupported("file has more pages than a pointer can name");
  std::unique_ptr<PageFile> f(new PageFile());
  f->page_count_ = uint32_t(data.size() / kPageSize);
  f->data_ = std::move(data);
  f->base_ = f->data_.data();
  *out = std::move(f);
  return Status::OK();
}

Status PageFile::Open(const std::string& path, std::unique_ptr<PageFile>* out) {
  std::unique_ptr<File> file;
  KP_RETURN_IF_ERROR(Files()->Open(PathFromUtf8(path), OpenMode::kRead, &file));
  uint64_t size = 0;
  KP_RETURN_IF_ERROR(file->Size(&size));
  // Checked before anything is allocated: a file that cannot be a Jet file
  // costs no memory.
  if (size == 0) return Status::Corruption(path + ": empty file");
  if (size % kPageSize != 0) {
    return Status::Corruption(path + ": file size " + std::to_string(size) + " is not a multiple of " +
                              std::to_string(kPageSize) + " (truncated?)");
  }
  if (size / kPageSize > 0xFFFFFF) return Status::NotSupported(path + ": file has more pages than a pointer can name");
  Bytes data(size);
  KP_RETURN_IF_ERROR(file->ReadAt(0, data.data(), data.size()));
  file.reset();
  Status s = FromBytes(std::move(data), out);
  if (!s.ok()) return s.WithContext(path);
  (*out)->path_ = path;
  return Status::OK();
}

Status PageFile::OpenMapped(const std::string& path, std::unique_ptr<PageFile>* out) {
  std::unique_ptr<MappedFile> file;
  KP_RETURN_IF_ERROR(MappedFile::Open(PathFromUtf8(path), &file));
  const uint64_t size = file->size();
  Status s;
  if (size == 0) s = Status::Corruption("empty file");
  else if (size % kPageSize != 0) s = Status::Corruption("file size " + std::to_string(size) + " is not a multiple of " + std::to_string(kPageSize) + " (truncated?)");
  else if (size / kPageSize > 0xFFFFFF) s = Status::NotSupported("file has more pages than a pointer can name");
  if (!s.ok()) return s.WithContext(path);
  KP_RETURN_IF_ERROR(file->Map());
  std::unique_ptr<PageFile> f(new PageFile());
  f->base_ = file->data();
  f->mapped_ = std::move(file);
  f->page_count_ = uint32_t(size / kPageSize);
  f->path_ = path;
  *out = std::move(f);
  return Status::OK();
}

PageFile::~PageFile() = default;

void PageFile::DropResident() const {
  if (mapped_) mapped_->DropResident();
}

Status PageFile::ReadPage(uint32_t n, Bytes* page) const {
  const uint8_t* p = Page(n);
  if (p == nullptr) {
    return Status::Corruption("page " + std::to_string(n) + " is past the end of the file (" +
                              std::to_string(page_count_) + " pages)");
  }
  if (!mapped_) {
    page->assign(p, p + kPageSize);
    return Status::OK();
  }
  page->resize(kPageSize);
  Status s = mapped_->ReadAt(uint64_t(n) * kPageSize, page->data(), kPageSize);
  if (!s.ok()) return Status::IOError("cannot read page " + std::to_string(n) + " of " + s.message());
  return Status::OK();
}

Status PageFile::CheckedPage(uint32_t n, uint8_t type, const std::string& what, const uint8_t** page) const {
  const uint8_t* p = Page(n);
  if (p == nullptr) {
    return Status::Corruption("page " + std::to_string(n) + " (" + what + ") is past the end of the file (" +
                              std::to_string(page_count_) + " pages)");
  }
  if (n == 0 && type != kPageTypeHeader) {
    return Status::Corruption("page 0 is the header, not a " + std::string(PageTypeName(type)) + " (" + what + ")");
  }
  if (p[0] != type || (type != kPageTypeHeader && p[1] != 0x01)) {
    return Status::Corruption("page " + std::to_string(n) + " is a " + PageTypeName(p[0]) + " (type " + Hex(p[0]) +
                              "), not a " + PageTypeName(type) + " (" + what + ")");
  }
  *page = p;
  return Status::OK();
}

}  // namespace kp::jet
