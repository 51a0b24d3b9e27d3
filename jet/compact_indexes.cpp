// Compaction's indexes: a source tree's entries, pointing at the moved rows.
#include <algorithm>

#include "jet/compact_internal.h"

namespace kp::jet::compaction {

void RowMoves::Index() {
  moved_on_page_.clear();
  if (moved_.empty()) return;
  moved_base_ = PointerPage(moved_.front().first);
  const uint32_t span = PointerPage(moved_.back().first) - moved_base_ + 1;
  moved_on_page_.resize(size_t(span) + 1);
  size_t k = 0;
  for (uint32_t p = 0; p <= span; ++p) {
    while (k < moved_.size() && PointerPage(moved_[k].first) < moved_base_ + p) ++k;
    moved_on_page_[p] = uint32_t(k);
  }
}

bool RowMoves::NewPointer(uint32_t old, uint32_t* moved) const {
  const uint32_t page = PointerPage(old);
  if (page < moved_base_ || size_t(page - moved_base_) + 1 >= moved_on_page_.size()) return false;
  const auto first = moved_.begin() + moved_on_page_[page - moved_base_];
  const auto last = moved_.begin() + moved_on_page_[page - moved_base_ + 1];
  const auto it = std::lower_bound(first, last, std::make_pair(old, uint32_t(0)));
  if (it == last || it->first != old) return false;
  *moved = it->second;
  return true;
}

Status IndexCopier::CopyEntries(uint32_t n, uint32_t tdef_page, int depth,
                                std::set<uint32_t>* visited, const AddEntry& add) {
  if (depth > 32 || !visited->insert(n).second)
    return Status::Corruption("the index tree loops at page " + std::to_string(n));
  if (n == 0 || n >= file_.page_count())
    return Status::Corruption("index page " + std::to_string(n) + " past the end");
  // Read apart from the mapping: the pages of a tree lie apart.
  KP_RETURN_IF_ERROR(file_.ReadPage(n, &index_page_));
  IndexPage& ip = index_pages_[size_t(depth)];
  KP_RETURN_IF_ERROR(DecodeIndexPage(index_page_.data(), n, &ip));
  if (ip.tdef_page != tdef_page)
    return Status::Corruption("index page " + std::to_string(n) + " names another table");
  if (!ip.is_leaf()) {
    for (const Bytes& e : ip.entries) {
      uint32_t child;
      if (!IndexEntryChild(e, &child))
        return Status::Corruption("short node entry on page " + std::to_string(n));
      KP_RETURN_IF_ERROR(CopyEntries(child, tdef_page, depth + 1, visited, add));
    }
    if (ip.tail_page != 0)
      KP_RETURN_IF_ERROR(CopyEntries(ip.tail_page, tdef_page, depth + 1, visited, add));
    return Status::OK();
  }
  for (Bytes& e : ip.entries) {
    uint32_t old_page;
    uint8_t old_row;
    if (!IndexEntryRow(e, false, &old_page, &old_row))
      return Status::Corruption("short leaf entry on page " + std::to_string(n));
    uint32_t moved;
    if (!moves_.NewPointer(MakePointer(old_page, old_row), &moved)) continue;
    uint8_t* p = e.data() + e.size() - kIndexRowPointerBytes;
    p[0] = uint8_t(moved >> 24);  // data page, big-endian
    p[1] = uint8_t(moved >> 16);
    p[2] = uint8_t(moved >> 8);
    p[3] = uint8_t(moved);  // row
    KP_RETURN_IF_ERROR(add(e.data(), e.size()));
  }
  return Status::OK();
}

}  // namespace kp::jet::compaction
