// PageFile: a Jet file opened read-only as a sequence of 4096-byte pages.
//
// The whole file is read into memory at Open (Jet files are small next to
// memory, and the reader and checker touch most pages), or mapped by
// OpenMapped for a reader that passes over a big file once (compaction):
// then DropResident() lets the pages read so far go, so that the memory in
// use does not grow with the file. Every access is
// bounds-checked: asking for a page past the end is a Corruption status that
// names the page, never an out-of-range read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/status.h"
#include "jet/bytes.h"
#include "jet/format.h"

namespace kp {
class MappedFile;
}  // namespace kp

namespace kp::jet {

class PageFile {
 public:
  // Reads `path`. Fails when it cannot be read, is empty, or its size is not a
  // whole number of pages.
  static Status Open(const std::string& path, std::unique_ptr<PageFile>* out);
  // The same over bytes already in memory (a file image built by the layer).
  static Status FromBytes(Bytes data, std::unique_ptr<PageFile>* out);
  // Maps `path` read-only instead of reading it. The file must not shrink
  // while it is open.
  static Status OpenMapped(const std::string& path, std::unique_ptr<PageFile>* out);
  ~PageFile();
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  uint32_t page_count() const { return page_count_; }
  const std::string& path() const { return path_; }
  // The whole file image.
  const uint8_t* bytes() const { return base_; }
  size_t size() const { return size_t(page_count_) * kPageSize; }
  // A mapped file: gives back the memory of the pages read so far (they are
  // read again from the file when used again). Nothing for a file in memory.
  void DropResident() const;

  // Copies page `n` into `*page` (kPageSize bytes). A mapped file's page is
  // read from the file, not through the mapping: one page away from the
  // others takes no resident memory (a fault maps the pages around it as
  // well, hundreds of kilobytes where the page cache holds large folios).
  Status ReadPage(uint32_t n, Bytes* page) const;
  // Page `n` in place, or nullptr when it is past the end.
  const uint8_t* Page(uint32_t n) const {
    return n < page_count_ ? base_ + size_t(n) * kPageSize : nullptr;
  }
  // Page `n` in place after checking that it exists and that its type byte
  // is `type`; `what` names the structure expected there, for the message
  // ("page 14 is not a data page (type 0x04) but MSysObjects points at it").
  Status CheckedPage(uint32_t n, uint8_t type, const std::string& what, const uint8_t** page) const;

 private:
  PageFile() = default;

  std::string path_;
  Bytes data_;                     // the image, when read into memory
  const uint8_t* base_ = nullptr;  // the image: data_ or the mapping
  std::unique_ptr<MappedFile> mapped_;  // the mapped file, for ReadPage
  uint32_t page_count_ = 0;
};

// "data page", "TDEF page", ... for messages.
const char* PageTypeName(uint8_t type);

}  // namespace kp::jet
