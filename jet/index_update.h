// Keeps one index B-tree of a table up to date while rows are appended,
// through the pager: each new entry goes into its leaf, pages split as they
// fill, and node pages grow above them, laid out as index_leaf.h and
// index_build.h describe.
//
// Tree rules kept:
//   - a node entry is the last leaf entry under its child, followed by the
//     child page; a node with more than one child keeps its last child as
//     the tail (offset 20) instead of an entry;
//   - leaves are linked first to last; node pages only to the neighbours
//     under the same parent;
//   - the root page never moves: when it splits, its entries go to a new
//     page below it.
// An entry above every entry of the tree (the common case: keys in order)
// goes to the end of the rightmost leaf, compared with one entry a level;
// when that leaf is full a new rightmost leaf begins, so leaves filled in
// order stay full. Any other entry is searched for and inserted in place; a
// full page then gives its first half to a new page before it.
//
// Pages are decoded once and kept while they are used; a page the right
// edge leaves behind goes into the pager at once, Sync() puts the other
// changed ones there, and a bounded number stays cached.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/status.h"
#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/index_leaf.h"
#include "jet/map_editor.h"
#include "jet/pager.h"

namespace kp::jet {

class IndexUpdater {
 public:

  // The tree whose root is `root_page`, of the table at `tdef_page`, whose
  // pages the usage-map row at `usage_map` lists. `what` names the index in
  // messages.
  static Status Open(Pager* pager, uint32_t tdef_page, uint32_t root_page, uint32_t usage_map, std::string what,
                     std::unique_ptr<IndexUpdater>* result);

  // Whether the tree holds an entry whose key (the entry without its row
  // pointer) is `key`.
  Status ContainsKey(const Bytes& key, bool* found);
  // Inserts `entry` (keys + row pointer, not in the tree yet). `*new_key`:
  // no other entry has its key.
  Status Insert(const Bytes& entry, bool* new_key);
  // Puts every changed page into the pager and lets go of most cached ones.
  Status Sync();

 private:
  // An entry, or its keys, in place in an entry list or a buffer.
  struct View {
    const uint8_t* data = nullptr;
    size_t size = 0;
  };
  // The entries of one page, back to back in one buffer: an entry added
  // costs no allocation once the buffer has held a page.
  class Entries {
   public:
    size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }
    size_t bytes() const { return used_; }
    View operator[](size_t i) const { return {bytes_.data() + start(i), ends_[i] - start(i)}; }
    View front() const { return (*this)[0]; }
    View back() const { return (*this)[size() - 1]; }
    void PushBack(View e) {
      Grow(e.size);
      std::memcpy(bytes_.data() + used_, e.data, e.size);
      used_ += e.size;
      ends_.push_back(uint32_t(used_));
    }
    void Insert(size_t i, View e);
    void Replace(size_t i, View e);
    void PopBack() {
      ends_.pop_back();
      used_ = ends_.empty() ? 0 : ends_.back();
    }
    // Moves the first `n` entries to the end of `to`.
    void MoveFront(size_t n, Entries* to);
    void Clear() {
      used_ = 0;
      ends_.clear();
    }
    void swap(Entries& o) {
      bytes_.swap(o.bytes_);
      ends_.swap(o.ends_);
      std::swap(used_, o.used_);
    }

   private:
    size_t start(size_t i) const { return i == 0 ? 0 : ends_[i - 1]; }
    // Room for `n` more bytes after the used ones.
    void Grow(size_t n) {
      if (used_ + n > bytes_.size()) bytes_.resize(std::max(used_ + n, 2 * bytes_.size()));
    }
    Bytes bytes_;  // the first `used_` bytes hold the entries
    size_t used_ = 0;
    std::vector<uint32_t> ends_;
  };

  struct Node {
    uint32_t page = 0;
    bool leaf = true;
    uint32_t prev = 0, next = 0;
    // Leaf: the entries. Node: per child, the last leaf entry under it
    // (without a child pointer), the tail's too.
    Entries keys;
    std::vector<uint32_t> children;  // nodes only
    bool dirty = false;
    // Sum of key sizes (+4 per child on nodes).
    size_t total() const { return keys.bytes() + children.size() * kIndexChildPointerBytes; }
  };
  struct Step {
    Node* node;
    size_t at;  // child taken (nodes) or entry position (leaf)
  };

  IndexUpdater(Pager* pager, uint32_t tdef_page, uint32_t root, std::string what)
      : pager_(pager), tdef_page_(tdef_page), root_(root), what_(std::move(what)) {}

  // The decoded page `n`; `last` is the last leaf entry under it (nodes
  // need it for their tail).
  Status Load(uint32_t n, const View* last, Node** node);
  // The path from the root to the leaf where `entry` belongs.
  Status Descend(View entry, std::vector<Step>* path);
  // The entry before / after the position `path` ends at, across leaves.
  // `entry->data` is null when there is none.
  Status Neighbour(const std::vector<Step>& path, bool after, View* entry);
  Status NewNode(bool leaf, Node** node);
  // Sets the next (or previous) link of index page `page`.
  Status SetLink(uint32_t page, bool next, uint32_t value);
  // Unlinks node pages `a` and `b` (a before b) if they are linked.
  Status Separate(uint32_t a, uint32_t b);
  Status Split(std::vector<Step>* path, size_t level, bool appending);
  // Insert() past the fast path: the rightmost leaf filled by the entry
  // appended, or an entry searched for.
  Status SplitRightmost();
  Status InsertSearched(View entry, bool in_order, bool* new_key);
  Status BadEntry(size_t size) const;
  // Writes and lets go of the pages the right edge has left behind.
  Status LetGo();
  // Whether the node's stored entries fit one page.
  bool Fits(const Node& n);
  size_t StoredBytes(const Node& n, size_t* count, size_t* prefix);
  Status Write(Node* n);
  // Keeps the buffers of a page let go for the next page.
  void Recycle(std::unique_ptr<Node> node);
  Status Error(const std::string& message) const;

  Pager* pager_;
  uint32_t tdef_page_;
  uint32_t root_;
  std::string what_;
  UsageMapEditor map_;
  std::unordered_map<uint32_t, std::unique_ptr<Node>> cache_;
  std::vector<uint32_t> retired_;
  std::unique_ptr<Node> spare_node_;
  std::vector<Step> path_;  // of the entry being inserted
  // `path_` still leads to the end of the rightmost leaf: the last insert
  // appended there without splitting or letting pages go.
  bool rightmost_ = false;
  // Appends in order leave the nodes above the rightmost leaf (on `path_`)
  // ending in an earlier entry than `last_`; Refresh() catches them up
  // before anything else looks at them.
  bool stale_ = false;
  void Refresh();
  // The last entry of the tree (an entry takes at most half a page).
  uint8_t last_[(kPageSize - kIndexEntriesOffset) / 2];
  size_t last_size_ = 0;
  bool has_last_ = false;  // full pages the right edge has left
  Bytes image_;
  Bytes probe_;
  Bytes scratch_[2];
  std::vector<size_t> acc_;  // of a page being split
  IndexPage decoded_;
};

}  // namespace kp::jet
