// Builds a whole index B-tree, bottom up, from its entries in ascending
// order: leaf pages filled one after the other, node pages above them as the
// leaves grow, the root last. Entries pass through once; only one page per
// level is held.
//
// Leaf pages (04) and node pages (03) are laid out as index_leaf.h says:
//   - every page stores its entries with a shared prefix: the bytes the
//     first and last stored entries have in common (offset 24), written once
//     in the first entry;
//   - leaves are linked from first to last through previous/next (12/16);
//     node pages only to the neighbours under the same parent;
//   - a node page holds, per child, the child's last entry with the child's
//     page number (big-endian u32) after it; when it has more than one child
//     the last child is not an entry but the page's tail (offset 20);
//   - a page is full when the next entry would take the stored entries past
//     3616 bytes.
// An index without entries is one empty leaf.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "base/status.h"
#include "jet/bytes.h"

namespace kp::jet {

// Where the pages of a file being written go.
class PageSink {
 public:
  virtual ~PageSink() = default;
  // The number of a new page at the end of the file.
  virtual uint32_t AllocatePage() = 0;
  // Writes the 4096-byte image of page `n`.
  virtual Status WritePage(uint32_t n, const uint8_t* page) = 0;
};

class IndexTreeBuilder {
 public:
  // Pages name `tdef_page` as their table.
  IndexTreeBuilder(uint32_t tdef_page, PageSink* sink);

  // Adds the next leaf entry (keys and row pointer), strictly greater than
  // the one before.
  Status Add(const uint8_t* entry, size_t size);
  Status Add(const Bytes& entry) { return Add(entry.data(), entry.size()); }
  // Writes the pages still held; `*root` is the root page.
  Status Finish(uint32_t* root);

  // Every page of the tree (the index's usage map).
  const std::set<uint32_t>& pages() const { return pages_; }
  uint64_t entry_count() const { return entries_; }

 private:
  // The entries of one page, back to back in one buffer.
  class EntryList {
   public:
    size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }
    size_t bytes() const { return bytes_.size(); }
    const uint8_t* data(size_t i) const { return bytes_.data() + start(i); }
    size_t size(size_t i) const { return ends_[i] - start(i); }
    void Add(const uint8_t* entry, size_t n) {
      bytes_.insert(bytes_.end(), entry, entry + n);
      ends_.push_back(uint32_t(bytes_.size()));
    }
    // Empties the list, keeping its buffers.
    void Clear() {
      bytes_.clear();
      ends_.clear();
    }

   private:
    size_t start(size_t i) const { return i == 0 ? 0 : ends_[i - 1]; }
    Bytes bytes_;
    std::vector<uint32_t> ends_;
  };

  struct Level {
    EntryList entries;           // of the page being filled
    uint32_t page = 0;           // its number (0: no page started)
    uint32_t prev = 0;           // its previous neighbour
    uint64_t pages_started = 0;  // pages begun at this level
    // Node levels: the page finished before, written once it is known
    // whether the next page shares its parent.
    bool pending = false;
    EntryList pending_entries;
    uint32_t pending_page = 0, pending_prev = 0;
    uint64_t pending_parent = 0;  // parent's pages_started when it was added
  };

  Status AddTo(size_t level, const uint8_t* entry, size_t size);
  // Hands the entry of the page `page` (whose last entry is the last of
  // `entries`) at `level` to the level above; `*parent_pages`: that level's
  // page count.
  Status PushUp(size_t level, const EntryList& entries, uint32_t page, uint64_t* parent_pages);
  // Closes the leaf being filled (a next leaf begins when `has_next`), its
  // entry going up when `up`.
  Status CloseLeaf(bool has_next, bool up);
  // Closes the node page being filled at `level`.
  Status CloseNode(size_t level, bool up);
  Status WriteIndexPage(bool leaf, uint32_t page, uint32_t prev, uint32_t next, const EntryList& entries);
  uint32_t Start(size_t level);

  uint32_t tdef_page_;
  PageSink* sink_;
  std::vector<Level> levels_;
  std::set<uint32_t> pages_;
  Bytes last_;
  uint64_t entries_ = 0;
  Bytes image_;
};

}  // namespace kp::jet
