#include "jet/index_build.h"

#include <algorithm>
#include <cstring>

#include "jet/format.h"
#include "jet/index_leaf.h"

namespace kp::jet {

namespace {

constexpr size_t kRoom = kPageSize - kIndexEntriesOffset;  // 3616 bytes of entries

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
  return AddTo(0, last_.data(), last_.size());
}

uint32_t IndexTreeBuilder::Start(size_t level) {
  Level& l = levels_[level];
  l.prev = l.page;
  l.page = sink_->AllocatePage();
  ++l.pages_started;
  return l.page;
}

Status IndexTreeBuilder::AddTo(size_t level, const uint8_t* entry, size_t size) {
  if (size > kRoom) return Status::NotSupported("index entry of " + std::to_string(size) + " bytes");
  if (levels_.size() <= level) levels_.resize(level + 1);
  if (levels_[level].page == 0) Start(level);
  Level* l = &levels_[level];
  if (!l->entries.empty()) {
    const size_t prefix = CommonPrefix(l->entries.data(0), l->entries.size(0), entry, size);
    const size_t bytes = l->entries.bytes() + size - l->entries.size() * prefix;
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
  l->entries.Add(entry, size);
  return Status::OK();
}

Status IndexTreeBuilder::PushUp(size_t level, const EntryList& entries, uint32_t page, uint64_t* parent_pages) {
  const size_t last = entries.size() - 1;
  Bytes parent(entries.data(last), entries.data(last) + entries.size(last));
  if (level > 0) parent.resize(parent.size() - kIndexChildPointerBytes);
  AppendChild(page, &parent);
  KP_RETURN_IF_ERROR(AddTo(level + 1, parent.data(), parent.size()));
  if (parent_pages != nullptr) *parent_pages = levels_[level + 1].pages_started;
  return Status::OK();
}

Status IndexTreeBuilder::CloseLeaf(bool has_next, bool up) {
  EntryList entries;
  std::swap(entries, levels_[0].entries);
  const uint32_t page = levels_[0].page, prev = levels_[0].prev;
  const uint32_t next = has_next ? sink_->AllocatePage() : 0;
  Level& l = levels_[0];
  if (has_next) {
    l.prev = page;
    l.page = next;
    ++l.pages_started;
  }
  if (up) KP_RETURN_IF_ERROR(PushUp(0, entries, page, nullptr));
  KP_RETURN_IF_ERROR(WriteIndexPage(true, page, prev, next, entries));
  // The buffers serve the next leaf.
  entries.Clear();
  std::swap(entries, levels_[0].entries);
  return Status::OK();
}

Status IndexTreeBuilder::CloseNode(size_t level, bool up) {
  EntryList entries;
  std::swap(entries, levels_[level].entries);
  const uint32_t page = levels_[level].page;
  uint64_t parent_pages = 0;
  if (up) KP_RETURN_IF_ERROR(PushUp(level, entries, page, &parent_pages));
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
  std::swap(l.pending_entries, entries);
  l.pending_page = page;
  l.pending_prev = prev;
  l.pending_parent = parent_pages;
  // The buffers of the page written before serve the next page.
  entries.Clear();
  std::swap(entries, l.entries);
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
                                        const EntryList& entries) {
  size_t count = entries.size();
  uint32_t tail = 0;
  if (!leaf && count > 1) {
    tail = GetU32(entries.data(count - 1) + entries.size(count - 1) - kIndexChildPointerBytes);
    tail = (tail >> 24) | ((tail >> 8) & 0xFF00) | ((tail << 8) & 0xFF0000) | (tail << 24);  // big-endian
    --count;
  }
  size_t prefix =
      count > 1 ? CommonPrefix(entries.data(0), entries.size(0), entries.data(count - 1), entries.size(count - 1)) : 0;
  // A node's prefix that runs on into the first child pointer holds only as
  // far as every entry shares it: child pointers are in no order.
  for (size_t i = 1; !leaf && i + 1 < count && prefix + kIndexChildPointerBytes > entries.size(0); ++i) {
    prefix = std::min(prefix, CommonPrefix(entries.data(0), entries.size(0), entries.data(i), entries.size(i)));
  }
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
    const size_t n = entries.size(i) - skip;
    if (end + n > kRoom) return Status::InvalidArgument("internal error: index page overfilled");
    std::memcpy(p + kIndexEntriesOffset + end, entries.data(i) + skip, n);  // entry
    end += n;
    p[kIndexMaskOffset + end / 8] |= uint8_t(1u << (end % 8));             // entry-end mask bit
  }
  PutU16(p + kIndexFreeSpaceOffset, uint16_t(kRoom - end));  // free space
  pages_.insert(page);
  return sink_->WritePage(page, p);
}

}  // namespace kp::jet
