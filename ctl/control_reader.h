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

#include "base/folder_files.h"
#include "base/path.h"
#include "ctl/function.h"
#include "model/control_document.h"

namespace kp {

// Gives the size of a page's image file. The default looks at the file system.
class ImageSizer {
 public:
  virtual ~ImageSizer() = default;
  // The image is `folder` (the control file's folder, as the system names
  // it, no trailing separator) followed directly by `file_name` (the page's
  // stored FileName). Returns false with a cause when the file cannot be
  // found or measured.
  virtual bool Measure(const Path& folder, const std::u16string& file_name, int64_t* size,
                       std::string* cause) = 0;
};

// Measures files on disk, as FolderFiles finds them (base/folder_files.h):
// the stored FileName comes from Windows, with `\` separators; where the
// exact path is missing, each of its components is matched without regard to
// ASCII letter case. A sizer serves one load: the folder is held open from
// the first Measure until the sizer is destroyed.
class FileSystemImageSizer : public ImageSizer {
 public:
  FileSystemImageSizer();
  ~FileSystemImageSizer() override;
  FileSystemImageSizer(const FileSystemImageSizer&) = delete;
  FileSystemImageSizer& operator=(const FileSystemImageSizer&) = delete;

  bool Measure(const Path& folder, const std::u16string& file_name, int64_t* size,
               std::string* cause) override;

 private:
  FolderFiles files_;
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
// other cut; `source_folder` prefixes every image path and is stored,
// as text for display, as SourceFolder. On failure `*doc` holds a partial read and must be discarded.
// Counts never make it allocate more than the remaining bytes could hold.
ControlReadResult ParseControlFile(const uint8_t* data, size_t size, const Path& source_folder,
                                   ImageSizer* sizer, ControlDocument* doc);

// Reads the file at `path` and parses it as above, `window_bytes` at a time:
// the file is never held in memory whole.
ControlReadResult ReadControlFile(const Path& path, const Path& source_folder,
                                  ImageSizer* sizer, ControlDocument* doc,
                                  size_t window_bytes = kControlWindowBytes);

}  // namespace kp
