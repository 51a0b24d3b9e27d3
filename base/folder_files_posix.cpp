#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <unordered_map>

#include "base/folder_files.h"
#include "base/text_util.h"

namespace kp {

namespace {

std::string AsciiUpper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  }
  return s;
}

}  // namespace

struct FolderFiles::Held {
  std::string name;       // the name being looked up, kept from call to call
  std::string folder;     // the folder held open, as asked for
  int fd = -1;            // -1: not open (or it could not be opened)
  bool opened = false;

  // Per folder read: each name in ASCII upper case -> the first entry of
  // that name. A folder is read once per load, however many names miss.
  std::unordered_map<std::string, std::unordered_map<std::string, std::string>> listings;

  ~Held() {
    if (fd >= 0) ::close(fd);
  }

  // The entry of folder `in` whose name matches `part` without regard to
  // ASCII case (the first one the folder lists), or false.
  bool FindIgnoringCase(const std::string& in, const std::string& part, std::string* entry) {
    auto [it, fresh] = listings.try_emplace(in);
    if (fresh) {
      std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(in.empty() ? "/" : in.c_str()), closedir);
      if (!dir) {
        listings.erase(it);
        return false;
      }
      while (dirent* e = readdir(dir.get())) it->second.try_emplace(AsciiUpper(e->d_name), e->d_name);
    }
    auto found = it->second.find(AsciiUpper(part));
    if (found == it->second.end()) return false;
    *entry = found->second;
    return true;
  }

  // Finds `folder` + `path` component by component of `path`, taking the
  // entry whose name matches without regard to ASCII case where the exact
  // name is missing. The folder itself is taken as it is.
  bool ResolveIgnoringCase(const std::string& folder, const std::string& path, std::string* resolved) {
    size_t i = 0;
    std::string built = folder.empty() && (path.empty() || path[0] != '/') ? "." : folder;
    while (i < path.size()) {
      size_t j = path.find('/', i);
      if (j == std::string::npos) j = path.size();
      std::string part = path.substr(i, j - i);
      i = j + 1;
      if (part.empty()) continue;
      std::string candidate = built + "/" + part;
      struct stat st;
      if (stat(candidate.c_str(), &st) != 0) {
        std::string entry;
        if (!FindIgnoringCase(built, part, &entry)) return false;
        candidate = built + "/" + entry;
      }
      built = candidate;
    }
    *resolved = built;
    return true;
  }

  // stat() of folder + name when name starts with "/" and is a path inside
  // the folder; false when that fails or does not apply. A path too long
  // for stat() is left to fail there.
  bool StatInFolder(const std::string& in, const std::string& n, struct stat* st) {
    if (in.empty() || n.empty() || n[0] != '/' || in.size() + n.size() >= PATH_MAX) return false;
    const size_t first = n.find_first_not_of('/');
    if (first == std::string::npos) return false;
    if (!opened || in != folder) {
      if (fd >= 0) ::close(fd);
#ifdef O_PATH
      fd = ::open(in.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
      fd = ::open(in.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
      folder = in;
      opened = true;
    }
    return fd >= 0 && ::fstatat(fd, n.c_str() + first, st, 0) == 0;
  }
};

FolderFiles::FolderFiles() : held_(std::make_unique<Held>()) {}
FolderFiles::~FolderFiles() = default;

FolderFiles::Found FolderFiles::SizeOf(const Path& folder_path, const std::u16string& file_name, int64_t* size,
                                       std::string* shown) {
  const std::string& folder = folder_path.native();
  // The name in UTF-8 with `/` for `\\`, in a buffer kept from call to call:
  // ASCII (nearly every name) byte by byte, anything else converted whole.
  std::string& name = held_->name;
  name.resize(file_name.size());
  size_t ascii = 0;
  for (; ascii < file_name.size() && file_name[ascii] < 0x80; ++ascii) {
    name[ascii] = file_name[ascii] == u'\\' ? '/' : char(file_name[ascii]);
  }
  if (ascii < file_name.size()) {
    name = Utf16ToUtf8(file_name);
    std::replace(name.begin(), name.end(), '\\', '/');
  }
  struct stat st;
  if (!held_->StatInFolder(folder, name, &st)) {
    const std::string p = folder + name;
    if (stat(p.c_str(), &st) != 0) {
      std::string resolved;
      if (!held_->ResolveIgnoringCase(folder, name, &resolved) || stat(resolved.c_str(), &st) != 0) {
        *shown = p;
        return Found::kMissing;
      }
    }
  }
  if (!S_ISREG(st.st_mode)) {
    *shown = folder + name;
    return Found::kNotAFile;
  }
  *size = int64_t(st.st_size);
  return Found::kFile;
}

}  // namespace kp
