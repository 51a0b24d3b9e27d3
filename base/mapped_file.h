// A file mapped read-only into memory, for a reader that passes over a big
// file once: the pages it has read can be given back (DropResident), and a
// single page can be read from the file itself without touching the mapping.
// mapped_file_posix.cpp (mmap), mapped_file_win32.cpp (a file mapping).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/path.h"
#include "base/status.h"

namespace kp {

class MappedFile {
 public:
  // Opens `path` for reading; nothing is mapped yet. Fails with the cause
  // ("cannot open PATH: ...").
  static Status Open(const Path& path, std::unique_ptr<MappedFile>* out);
  virtual ~MappedFile() = default;

  // The file's size when it was opened.
  virtual uint64_t size() const = 0;
  // Maps the whole file (not empty) read-only; data() is then its bytes. The
  // file must not shrink while it is mapped.
  virtual Status Map() = 0;
  const uint8_t* data() const { return data_; }
  // Gives back the memory of the mapped pages read so far; they are read
  // again from the file when used again.
  virtual void DropResident() = 0;
  // Reads `n` bytes at `offset` from the file (not through the mapping); a
  // file now shorter fails.
  virtual Status ReadAt(uint64_t offset, void* buffer, size_t n) const = 0;

 protected:
  const uint8_t* data_ = nullptr;
};

}  // namespace kp
