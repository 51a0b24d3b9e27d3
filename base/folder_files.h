// The sizes of files found inside one folder by a name as Windows stores it
// (UTF-16, `\` between folders), as a document's page images are found.
//
// On Linux the name becomes UTF-8 with `/` for `\`, the folder's bytes are
// used as they are (a folder may be named in any bytes, a `\` included), and
// where the exact path is missing each component of the name is matched
// without regard to ASCII letter case, as Windows would. On Windows the file
// system itself ignores case; the path is made long-path safe. Only sizes
// are read, never contents.
//
// One object serves one load: the folder is looked up once and held open
// until the object is destroyed (or another folder is asked for).
// folder_files_posix.cpp, folder_files_win32.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/path.h"

namespace kp {

class FolderFiles {
 public:
  FolderFiles();
  ~FolderFiles();
  FolderFiles(const FolderFiles&) = delete;
  FolderFiles& operator=(const FolderFiles&) = delete;

  enum class Found { kFile, kMissing, kNotAFile };
  // The file `folder` followed directly by `name` (no separator put
  // between). *shown is that path as UTF-8, for a message.
  Found SizeOf(const Path& folder, const std::u16string& name, int64_t* size, std::string* shown);

 private:
  struct Held;
  std::unique_ptr<Held> held_;
};

}  // namespace kp
