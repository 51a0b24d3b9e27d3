#include "base/file_io.h"

#include <cstring>

namespace kp {

namespace {

FileSystem* current = nullptr;

}  // namespace

Status File::WritePiecesAt(uint64_t offset, const Piece* pieces, size_t count) {
  for (size_t k = 0; k < count; offset += pieces[k].size, ++k) {
    KP_RETURN_IF_ERROR(WriteAt(offset, pieces[k].data, pieces[k].size));
  }
  return Status::OK();
}

Status ErrnoStatus(const std::string& what, int error) {
  return Status::IOError(what + ": " + std::strerror(error));
}

FileSystem* Files() { return current != nullptr ? current : SystemFiles(); }

ScopedFileSystem::ScopedFileSystem(FileSystem* fs) : previous_(current) { current = fs; }
ScopedFileSystem::~ScopedFileSystem() { current = previous_; }

}  // namespace kp
