// PageFile: a Jet file opened read-only as a sequence of 4096-byte pages.
//
// The whole file is read into memory at Open (Jet files are small next to
// memory, and the reader and checker touch most pages). Every access is
// bounds-checked: asking for a page past the end is a Corruption status that
// names the page, never an out-of-range read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/status.h"
#include "export/jet/bytes.h"
#include "export/jet/format.h"

namespace kp::jet {

class PageFile {
 public:
  // Reads `path`. Fails when it cannot be read, is empty, or its size is not a
  // whole number of pages.
  static Status Open(const std::string& path, std::unique_ptr<PageFile>* out);
  // The same over bytes already in memory (a file image built by the layer).
  static Status FromBytes(Bytes data, std::unique_ptr<PageFile>* out);

  uint32_t page_count() const { return page_count_; }
  const std::string& path() const { return path_; }
  const Bytes& data() const { return data_; }

  // Copies page `n` into `*page` (kPageSize bytes).
  Status ReadPage(uint32_t n, Bytes* page) const;
  // Page `n` in place, or nullptr when it is past the end.
  const uint8_t* Page(uint32_t n) const {
    return n < page_count_ ? data_.data() + size_t(n) * kPageSize : nullptr;
  }
  // Page `n` in place after checking that it exists and that its type byte
  // is `type`; `what` names the structure expected there, for the message
  // ("page 14 is not a data page (type 0x04) but MSysObjects points at it").
  Status CheckedPage(uint32_t n, uint8_t type, const std::string& what, const uint8_t** page) const;

 private:
  PageFile() = default;

  std::string path_;
  Bytes data_;
  uint32_t page_count_ = 0;
};

// "data page", "TDEF page", ... for messages.
const char* PageTypeName(uint8_t type);

}  // namespace kp::jet
