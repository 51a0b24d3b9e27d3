#include "base/durable_file.h"

#include <memory>
#include <vector>

#include "base/file_io.h"

namespace kp {

namespace {

constexpr size_t kCopyChunk = 1 << 16;

// Ends writing `file` at `path`: sync as asked, close; on a failure `s` (or
// the failed sync or close) is returned and the file is removed.
Status Finish(std::unique_ptr<File> file, const std::string& path, SyncMode sync, Status s) {
  if (s.ok() && sync == SyncMode::kSync) s = file->Sync();
  Status closed = file->Close();
  if (s.ok()) s = closed;
  file.reset();
  if (!s.ok()) RemoveQuietly(path);
  return s;
}

}  // namespace

Status WriteNewFile(const std::string& path, const void* data, size_t size, SyncMode sync) {
  std::unique_ptr<File> file;
  KP_RETURN_IF_ERROR(Files()->Open(path, OpenMode::kCreateNew, &file));
  Status s = file->WriteAt(0, data, size);
  return Finish(std::move(file), path, sync, s);
}

Status CopyToNewFile(const std::string& from, const std::string& to, SyncMode sync) {
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

Status ReplaceFile(const std::string& from, const std::string& to) {
  KP_RETURN_IF_ERROR(Files()->Rename(from, to));
  const std::string folder = FolderOf(to);
  KP_RETURN_IF_ERROR(Files()->SyncFolder(folder));
  if (FolderOf(from) != folder) KP_RETURN_IF_ERROR(Files()->SyncFolder(FolderOf(from)));
  return Status::OK();
}

Status TempPathBeside(const std::string& path, std::string* temp) {
  for (int n = 0; n < 100; ++n) {
    *temp = path + ".~kp" + std::to_string(n);
    if (!Files()->Exists(*temp)) return Status::OK();
  }
  temp->clear();
  return Status::IOError("no free temporary name beside " + path);
}

void RemoveQuietly(const std::string& path) {
  if (Files()->Exists(path)) (void)Files()->Remove(path);
}

}  // namespace kp
