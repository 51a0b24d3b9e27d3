// A fresh folder for a test, removed with it, and whole-file reads and
// writes through the standard library (these tests also run on Windows, so
// they need nothing of the POSIX test support).
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "base/path.h"

namespace kp::testing {

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix) {
    std::random_device random;
    for (;;) {
      path_ = std::filesystem::temp_directory_path() / (prefix + "-" + std::to_string(random()));
      if (std::filesystem::create_directory(path_)) break;
    }
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(LongPathSafe(path_), ec);
  }
  const Path& path() const { return path_; }
  // A path inside, its name given in UTF-8.
  Path operator/(const std::string& name) const { return path_ / PathFromUtf8(name); }

 private:
  Path path_;
};

inline void Put(const Path& path, const std::string& bytes) {
  std::ofstream(LongPathSafe(path), std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string Get(const Path& path) {
  std::ifstream in(LongPathSafe(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kp::testing
