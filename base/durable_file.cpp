#include "base/durable_file.h"

#include <memory>
#include <vector>

#include "base/file_io.h"

namespace kp {

namespace {

constexpr size_t kCopyChunk = 1 << 16;

// Ends writing `file` at `path`: sync as asked, close; on a failure `s` (or
// the failed sync or close) is returned and the file is removed.
Status Finish(std::unique_ptr<File> file, const Path& path, SyncMode sync, Status s) {
  if (s.ok() && sync == SyncMode::kSync) s = file->Sync();
  Status closed = file->Close();
  if (s.ok()) s = closed;
  file.reset();
  if (!s.ok()) RemoveQuietly(path);
  return s;
}

}  // namespace

Status WriteNewFile(const Path& path, const void* data, size_t size, SyncMode sync) {
  std::unique_ptr<File> file;
  KP_RETURN_IF_ERROR(Files()->Open(path, OpenMode::kCreateNew, &file));
  Status s = file->WriteAt(0, data, size);
  return Finish(std::move(file), path, sync, s);
}

Status CopyToNewFile(const Path& from, const Path& to, SyncMode sync) {
  std::unique_ptr<File> in;
  KP_RETURN_IF_ERROR(Files()->Open(from, OpenMode::kRead, &in));
  std::unique_ptr<File> out;
  KP_RETURN_IF_ERROR(Files()->Open(to, OpenMode::kCreateNew, &out));
  std::vector<char> buffer(kCopyChunk);
  Status s;
  for (uint64_t at = 0;;) {
    size_t got = 0;
    s = in->Read(buffer.data(), buffer.size(), &got);
    if (!s.ok() || got == 0) break;
    s = out->WriteAt(at, buffer.data(), got);
    if (!s.ok()) break;
    at += got;
  }
  return Finish(std::move(out), to, sync, s);
}

Status ReplaceDurably(const Path& from, const Path& to) {
  KP_RETURN_IF_ERROR(Files()->Rename(from, to));
  const Path folder = FolderOf(to);
  KP_RETURN_IF_ERROR(Files()->SyncFolder(folder));
  if (FolderOf(from) != folder) KP_RETURN_IF_ERROR(Files()->SyncFolder(FolderOf(from)));
  return Status::OK();
}

Status TempPathBeside(const Path& path, Path* temp) {
  for (int n = 0; n < 100; ++n) {
    *temp = path;
    *temp += ".~kp" + std::to_string(n);
    if (!Files()->Exists(*temp)) return Status::OK();
  }
  temp->clear();
  return Status::IOError("no free temporary name beside " + PathToUtf8(path));
}

void RemoveQuietly(const Path& path) {
  if (Files()->Exists(path)) (void)Files()->Remove(path);
}

}  // namespace kp
