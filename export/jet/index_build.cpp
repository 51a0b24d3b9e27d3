#include "export/jet/index_build.h"

#include <algorithm>
#include <cstring>

#include "export/jet/format.h"

namespace kp::jet {

namespace {

constexpr size_t kRoom = kPageSize - kIndexEntriesOffset;  // 3616 bytes of entries

size_t CommonPrefix(const Bytes& a, const Bytes& b) {
  const size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

void AppendChild(uint32_t page, Bytes* entry) {
  entry->push_back(uint8_t(page >> 24));
  entry->push_back(uint8_t(page >> 16));
  entry->push_back(uint8_t(page >> 8));
  entry->push_back(uint8_t(page));
}

}  // namespace

IndexTreeBuilder::IndexTreeBuilder(uint32_t tdef_page, PageSink* sink) : tdef_page_(tdef_page), sink_(sink) {}

Status IndexTreeBuilder::Add(const uint8_t* entry, size_t size) {
  if (size <= kIndexRowPointerBytes) return Status::InvalidArgument("index entry without a key");
  if (entries_ > 0 && !std::lexicographical_compare(last_.begin(), last_.end(), entry, entry + size)) {
    return Status::InvalidArgument("index entry " + std::to_string(entries_) + " is not above the one before");
  }
  last_.assign(entry, entry + size);
  ++entries_;
  return AddTo(0, last_);
}

uint32_t IndexTreeBuilder::Start(size_t level) {
  Level& l = levels_[level];
  l.prev = l.page;
  l.page = sink_->AllocatePage();
  ++l.pages_started;
  return l.page;
}

Status IndexTreeBuilder::AddTo(size_t level, Bytes entry) {
  if (entry.size() > kRoom) return Status::NotSupported("index entry of " + std::to_string(entry.size()) + " bytes");
  if (levels_.size() <= level) levels_.resize(level + 1);
  if (levels_[level].page == 0) Start(level);
  Level* l = &levels_[level];
  if (!l->entries.empty()) {
    const size_t prefix = CommonPrefix(l->entries.front(), entry);
    const size_t bytes = l->raw_bytes + entry.size() - l->entries.size() * prefix;
    if (bytes > kRoom) {
      // The page is full: it is closed (the levels above may grow meanwhile)
      // and the entry starts the next one.
      if (level == 0) {
        KP_RETURN_IF_ERROR(CloseLeaf(true, true));
      } else {
        KP_RETURN_IF_ERROR(CloseNode(level, true));
        Start(level);
      }
      l = &levels_[level];
    }
  }
  l->raw_bytes += entry.size();
  l->entries.push_back(std::move(entry));
  return Status::OK();
}

Status IndexTreeBuilder::PushUp(size_t level, const Bytes& last, uint32_t page, uint64_t* parent_pages) {
  Bytes parent = last;
  if (level > 0) parent.resize(parent.size() - kIndexChildPointerBytes);
  AppendChild(page, &parent);
  KP_RETURN_IF_ERROR(AddTo(level + 1, std::move(parent)));
  if (parent_pages != nullptr) *parent_pages = levels_[level + 1].pages_started;
  return Status::OK();
}

Status IndexTreeBuilder::CloseLeaf(bool has_next, bool up) {
  std::vector<Bytes> entries = std::move(levels_[0].entries);
  const uint32_t page = levels_[0].page, prev = levels_[0].prev;
  const uint32_t next = has_next ? sink_->AllocatePage() : 0;
  Level& l = levels_[0];
  l.entries.clear();
  l.raw_bytes = 0;
  if (has_next) {
    l.prev = page;
    l.page = next;
    ++l.pages_started;
  }
  if (up) KP_RETURN_IF_ERROR(PushUp(0, entries.back(), page, nullptr));
  return WriteIndexPage(true, page, prev, next, entries);
}

Status IndexTreeBuilder::CloseNode(size_t level, bool up) {
  std::vector<Bytes> entries = std::move(levels_[level].entries);
  const uint32_t page = levels_[level].page;
  levels_[level].entries.clear();
  levels_[level].raw_bytes = 0;
  uint64_t parent_pages = 0;
  if (up) KP_RETURN_IF_ERROR(PushUp(level, entries.back(), page, &parent_pages));
  Level& l = levels_[level];
  // Node pages link only to neighbours under the same parent.
  uint32_t prev = 0;
  if (l.pending) {
    const bool same_parent = up && l.pending_parent == parent_pages;
    KP_RETURN_IF_ERROR(
        WriteIndexPage(false, l.pending_page, l.pending_prev, same_parent ? page : 0, l.pending_entries));
    if (same_parent) prev = l.pending_page;
    l.pending = false;
  }
  if (!up) return WriteIndexPage(false, page, prev, 0, entries);
  l.pending = true;
  l.pending_entries = std::move(entries);
  l.pending_page = page;
  l.pending_prev = prev;
  l.pending_parent = parent_pages;
  return Status::OK();
}

Status IndexTreeBuilder::Finish(uint32_t* root) {
  if (levels_.empty()) {
    levels_.resize(1);
    Start(0);
  }
  for (size_t k = 0;; ++k) {
    const bool top = levels_[k].pages_started == 1 && k + 1 == levels_.size();
    if (top) *root = levels_[k].page;
    if (k == 0) {
      KP_RETURN_IF_ERROR(CloseLeaf(false, !top));
    } else {
      KP_RETURN_IF_ERROR(CloseNode(k, !top));
      Level& l = levels_[k];
      if (l.pending) {
        KP_RETURN_IF_ERROR(WriteIndexPage(false, l.pending_page, l.pending_prev, 0, l.pending_entries));
        l.pending = false;
      }
    }
    if (top) return Status::OK();
  }
}

Status IndexTreeBuilder::WriteIndexPage(bool leaf, uint32_t page, uint32_t prev, uint32_t next,
                                        const std::vector<Bytes>& entries) {
  size_t count = entries.size();
  uint32_t tail = 0;
  if (!leaf && count > 1) {
    const Bytes& last = entries.back();
    tail = GetU32(last.data() + last.size() - kIndexChildPointerBytes);
    tail = (tail >> 24) | ((tail >> 8) & 0xFF00) | ((tail << 8) & 0xFF0000) | (tail << 24);  // big-endian
    --count;
  }
  const size_t prefix = count > 1 ? CommonPrefix(entries.front(), entries[count - 1]) : 0;
  image_.assign(kPageSize, 0);
  uint8_t* p = image_.data();
  p[0] = leaf ? kPageTypeIndexLeaf : kPageTypeIndexNode;  // page type
  p[1] = 0x01;
  PutU32(p + kIndexTdefOffset, tdef_page_);               // owning table
  PutU32(p + kIndexPrevPageOffset, prev);
  PutU32(p + kIndexNextPageOffset, next);
  PutU32(p + kIndexTailPageOffset, tail);                 // last child of a node
  PutU16(p + kIndexPrefixLengthOffset, uint16_t(prefix)); // shared prefix
  size_t end = 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t skip = i == 0 ? 0 : prefix;
    const size_t n = entries[i].size() - skip;
    if (end + n > kRoom) return Status::InvalidArgument("internal error: index page overfilled");
    std::memcpy(p + kIndexEntriesOffset + end, entries[i].data() + skip, n);  // entry
    end += n;
    p[kIndexMaskOffset + end / 8] |= uint8_t(1u << (end % 8));              // entry-end mask bit
  }
  PutU16(p + kIndexFreeSpaceOffset, uint16_t(kRoom - end));  // free space
  pages_.insert(page);
  return sink_->WritePage(page, p);
}

}  // namespace kp::jet
