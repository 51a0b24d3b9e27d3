// Compaction's output: the new file, written page by page.
#include <algorithm>
#include <cstring>

#include "base/durable_file.h"
#include "base/path.h"
#include "jet/compact_internal.h"

namespace kp::jet::compaction {

Status OutputFile::Create(const std::string& path) {
  if (Files()->Exists(PathFromUtf8(path)))
    return Status::InvalidArgument("cannot compact into " + path + ": it already exists");
  KP_RETURN_IF_ERROR(Files()->Open(PathFromUtf8(path), OpenMode::kCreateNew, &file_));
  path_ = path;
  return Status::OK();
}

Status OutputFile::WritePage(uint32_t n, const uint8_t* page) {
  if (n >= written_.size())
    return Status::InvalidArgument("internal error: page " + std::to_string(n) +
                                   " written before allocated");
  if (buffer_.empty()) buffer_.resize(kPendingPages * kPageSize);
  std::memcpy(buffer_.data() + pending_.size() * kPageSize, page, kPageSize);
  pending_.push_back({n, uint32_t(pending_.size())});
  written_[n] = true;
  return pending_.size() == kPendingPages ? WritePending() : Status::OK();
}

Status OutputFile::WritePending() {
  std::sort(pending_.begin(), pending_.end());
  for (size_t i = 0; i < pending_.size();) {
    size_t j = i + 1;
    while (j < pending_.size() && pending_[j].first == pending_[j - 1].first + 1) ++j;
    // One write per run of consecutive pages, gathered in page order
    // straight from the buffer.
    run_.clear();
    for (size_t k = i; k < j; ++k)
      run_.push_back({buffer_.data() + size_t(pending_[k].second) * kPageSize, kPageSize});
    KP_RETURN_IF_ERROR(
        file_->WritePiecesAt(uint64_t(pending_[i].first) * kPageSize, run_.data(), run_.size()));
    i = j;
  }
  // On to the disk while the next pages are made: the sync at the end
  // waits for little.
  if (!pending_.empty()) {
    file_->StartWriteback(uint64_t(pending_.front().first) * kPageSize,
                          uint64_t(pending_.back().first + 1 - pending_.front().first) * kPageSize);
  }
  pending_.clear();
  return Status::OK();
}

Status OutputFile::Finish() {
  KP_RETURN_IF_ERROR(WritePending());
  for (size_t n = 0; n < written_.size(); ++n) {
    if (!written_[n])
      return Status::InvalidArgument("internal error: page " + std::to_string(n) +
                                     " of the new file was never written");
  }
  Status s = file_->Sync();
  Status closed = file_->Close();
  if (s.ok()) s = closed;
  if (!s.ok()) return s;
  file_.reset();
  return Status::OK();
}

void OutputFile::Abort() {
  if (!file_) return;
  file_.reset();
  RemoveQuietly(PathFromUtf8(path_));
}

}  // namespace kp::jet::compaction
