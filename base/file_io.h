// File access of the reader, the Jet layer and the export: one small
// interface, so that a test can make any single operation fail.
//
// Every open, read, write, sync, rename and remove of those parts goes
// through the FileSystem returned by Files(): by default the system's own
// (file_io_posix.cpp, file_io_win32.cpp); a test swaps in another with
// ScopedFileSystem. Paths are kp::Path, in the system's own form: on Linux
// the bytes given to the system calls, unchanged (no encoding is assumed),
// on Windows UTF-16, made long-path safe (\\?\) by the Windows file system.
//
// Failures are IOError statuses "<operation> <path>: <system message>".
// Reads and writes are whole: ReadAt and WriteAt either transfer every byte
// or fail (a short read is "unexpected end of file"); a write that stops
// part way has written a prefix.
//
// Not thread-safe: one thread swaps the file system, while nothing else runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/path.h"
#include "base/status.h"

namespace kp {

class File {
 public:
  virtual ~File() = default;  // closes without reporting
  // Up to `n` bytes from the current position; *got = 0 at the end.
  virtual Status Read(void* buffer, size_t n, size_t* got) = 0;
  virtual Status ReadAt(uint64_t offset, void* buffer, size_t n) = 0;
  virtual Status WriteAt(uint64_t offset, const void* data, size_t n) = 0;
  // Writes the `count` pieces one after the other from `offset`, as one
  // WriteAt of their bytes put together would (without putting them
  // together where the system can gather them itself).
  struct Piece {
    const void* data;
    size_t size;
  };
  virtual Status WritePiecesAt(uint64_t offset, const Piece* pieces, size_t count);
  virtual Status Size(uint64_t* size) = 0;
  virtual Status Truncate(uint64_t size) = 0;
  // Flushes the file's data to the disk (fsync; FlushFileBuffers on Windows).
  virtual Status Sync() = 0;
  // Asks the system to begin writing `length` bytes from `offset` to the
  // disk now, without waiting, so that a later Sync() has less left to do.
  // Only a hint: it changes nothing of what Sync() promises, and does
  // nothing where the system has no such means.
  virtual void StartWriteback(uint64_t offset, uint64_t length) {
    (void)offset;
    (void)length;
  }
  virtual Status Close() = 0;
};

enum class OpenMode {
  kRead,       // an existing file, read only
  kReadWrite,  // an existing file, read and written in place
  kCreateNew,  // a new file, written; fails when `path` exists
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual Status Open(const Path& path, OpenMode mode, std::unique_ptr<File>* file) = 0;
  // Replaces `to` atomically, within one file system. A `to` that another
  // program holds open against deletion (on Windows) makes it fail, `to`
  // unchanged.
  virtual Status Rename(const Path& from, const Path& to) = 0;
  virtual Status Remove(const Path& path) = 0;
  // Makes the renames and creations in `folder` durable (fsync of the
  // folder; nothing on Windows, whose rename is written through).
  virtual Status SyncFolder(const Path& folder) = 0;
  // Whether anything (file, folder, dangling link) is at `path`.
  virtual bool Exists(const Path& path) = 0;
};

// The file system in use.
FileSystem* Files();
// The real one.
FileSystem* SystemFiles();

// Makes `fs` the one in use until it goes out of scope.
class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(FileSystem* fs);
  ~ScopedFileSystem();
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  FileSystem* previous_;
};

// "No space left on device" and the like, as the C library words it.
Status ErrnoStatus(const std::string& what, int error);

}  // namespace kp
