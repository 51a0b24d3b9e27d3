// On Windows the file system finds names without regard to case itself; the
// stored name's `\` separators are already the system's own.
#include "base/folder_files.h"
#include "base/text_util.h"
#include "base/win32.h"

namespace kp {

struct FolderFiles::Held {};

FolderFiles::FolderFiles() : held_(std::make_unique<Held>()) {}
FolderFiles::~FolderFiles() = default;

FolderFiles::Found FolderFiles::SizeOf(const Path& folder, const std::u16string& name, int64_t* size,
                                       std::string* shown) {
  const Path path(folder.native() + std::wstring(name.begin(), name.end()));
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(win32::LongPath(path).c_str(), GetFileExInfoStandard, &data)) {
    *shown = PathToUtf8(path);
    return Found::kMissing;
  }
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
    *shown = PathToUtf8(path);
    return Found::kNotAFile;
  }
  *size = int64_t((uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  return Found::kFile;
}

}  // namespace kp
