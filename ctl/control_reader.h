// The control file DEFAULT.CTL, read front to back into a ControlDocument.
//
//   OFFSET  SIZE  DESCRIPTION
//     0      7    magic 90 01 40 4B 50 4C 01
//     7      1    HeaderByte
//     8      4    (skipped)
//    12      4    HeaderLong (int32)
//    16      4    EmbeddedFileCount (int32, negative = failure)
//    20      ..   register entries: EntryValue int32, skip 4, KPE_FileName
//                 string, InData string, skip 5
//    ..      ..   page records until the string "ENDOFCONTROL" (exact, any
//                 length form); anything after it is not read
//
// Page record: FileName string, skip 2, Level byte, skip 4, IsTag byte, Name
// string, skip 1, AuxText string, Angle byte, skip 1, then five lists, each an
// int16 count (negative = failure) followed by its entries:
//   comment    Color Left Top (int16 each), Text string
//   keyword    Left Top Width Height (int16 each), KeyWord string, Field string
//   range mark Color Left Top Width Height (int16 each)
//   hyperlink  Left Top Width Height (int16 each), LinkInfo1, LinkInfo2 strings
//   embed use  RegisterIndex int32
// Strings are in the encoding of function.h. Numbers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ctl/function.h"
#include "model/control_document.h"

struct stat;

namespace kp {

// Gives the size of a page's image file. The default looks at the file system.
class ImageSizer {
 public:
  virtual ~ImageSizer() = default;
  // The image is `folder` (the control file's folder, as the system names
  // it: bytes, no trailing separator) followed directly by `file_name` (the
  // page's stored FileName). Returns false with a cause when the file cannot
  // be found or measured.
  virtual bool Measure(const std::string& folder, const std::u16string& file_name, int64_t* size,
                       std::string* cause) = 0;
};

// Measures files on disk. The folder's bytes are used as they are (a folder
// may be named in any bytes, a `\` included); the stored FileName comes from
// Windows, so its `\` separators become `/`, it is encoded in UTF-8, and where
// the exact path is missing each of its components is matched without regard
// to ASCII letter case. Only sizes are read, never contents.
//
// A sizer serves one load: the folder is looked up once, on the first
// Measure, and held open until the sizer is destroyed (or another folder is
// asked for), so that each image is found from it by its own name alone.
class FileSystemImageSizer : public ImageSizer {
 public:
  FileSystemImageSizer() = default;
  ~FileSystemImageSizer() override;
  FileSystemImageSizer(const FileSystemImageSizer&) = delete;
  FileSystemImageSizer& operator=(const FileSystemImageSizer&) = delete;

  bool Measure(const std::string& folder, const std::u16string& file_name, int64_t* size,
               std::string* cause) override;

 private:
  // stat() of folder + name when name is "/" and a path inside the folder;
  // false when that fails or does not apply.
  bool StatInFolder(const std::string& folder, const std::string& name, struct stat* st);

  std::string name_;    // the image's name being measured
  std::string folder_;  // the folder held open, as asked for
  int folder_fd_ = -1;  // -1: not open (or it could not be opened)
  bool folder_opened_ = false;
};

struct ControlReadResult {
  enum class Kind { kOk, kWrongMagic, kReadFailure };
  Kind kind = Kind::kOk;
  std::string cause;  // for logs and the command line; empty on success
  bool ok() const { return kind == Kind::kOk; }
};

// Parses the whole file in `data` into `*doc`, which should be a fresh
// document. Bytes that differ from the magic give kWrongMagic; a file cut
// inside the magic (its bytes a prefix of it) is a read failure like any
// other cut; `source_folder` (bytes) prefixes every image path and is stored,
// as text for display, as SourceFolder. On failure `*doc` holds a partial read and must be discarded.
// Counts never make it allocate more than the remaining bytes could hold.
ControlReadResult ParseControlFile(const uint8_t* data, size_t size, const std::string& source_folder,
                                   ImageSizer* sizer, ControlDocument* doc);

// Reads the file at `path` (bytes, as the system names it) and parses it as
// above, `window_bytes` at a time: the file is never held in memory whole.
ControlReadResult ReadControlFile(const std::string& path, const std::string& source_folder,
                                  ImageSizer* sizer, ControlDocument* doc,
                                  size_t window_bytes = kControlWindowBytes);

}  // namespace kp
