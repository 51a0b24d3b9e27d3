#include "jet/index_update.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "jet/format.h"
#include "jet/index_leaf.h"

namespace kp::jet {

namespace {

constexpr size_t kRoom = kPageSize - kIndexEntriesOffset;  // 3616 bytes of entries
constexpr size_t kMaxDepth = 32;
// Decoded pages kept after Sync(), and the most held between two.
constexpr size_t kKeptPages = 16;
constexpr size_t kHeldPages = 64;

void PutChild(uint32_t page, uint8_t* to) {
  to[0] = uint8_t(page >> 24);  // child page, big-endian
  to[1] = uint8_t(page >> 16);
  to[2] = uint8_t(page >> 8);
  to[3] = uint8_t(page);
}

// The first place where `a` and `b` differ (the shorter one's size when
// one begins the other). Entries are short: eight bytes at a time, inline.
size_t Mismatch(const uint8_t* a, const uint8_t* b, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) break;
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

int Compare(const uint8_t* a, size_t a_size, const uint8_t* b, size_t b_size) {
  const size_t n = std::min(a_size, b_size);
  const size_t i = Mismatch(a, b, n);
  if (i < n) return a[i] < b[i] ? -1 : 1;
  return a_size < b_size ? -1 : a_size > b_size ? 1 : 0;
}

bool BelowKey(const uint8_t* entry, size_t size, const Bytes& key) {
  const size_t n = std::min(size, key.size());
  const size_t i = Mismatch(entry, key.data(), n);
  if (i < n) return entry[i] < key[i];
  if (size <= key.size()) return true;  // a prefix of the probe, so shorter
  const size_t rest = std::min(size - key.size(), kIndexRowPointerBytes);
  for (size_t k = 0; k < rest; ++k) {
    if (entry[key.size() + k] != 0) return false;
  }
  return rest < kIndexRowPointerBytes;
}

// Whether two entries have the same keys (they differ in the row pointer).
bool SameKey(const uint8_t* a, size_t a_size, const uint8_t* b, size_t b_size) {
  return a_size == b_size && a_size >= kIndexRowPointerBytes &&
         Mismatch(a, b, a_size - kIndexRowPointerBytes) == a_size - kIndexRowPointerBytes;
}

}  // namespace

void IndexUpdater::Entries::Insert(size_t i, View e) {
  if (i == size()) return PushBack(e);
  const size_t at = start(i);
  Grow(e.size);
  std::memmove(bytes_.data() + at + e.size, bytes_.data() + at, used_ - at);
  std::memcpy(bytes_.data() + at, e.data, e.size);
  used_ += e.size;
  ends_.insert(ends_.begin() + ptrdiff_t(i), uint32_t(at));
  for (size_t k = i; k < ends_.size(); ++k) ends_[k] += uint32_t(e.size);
}

// `e` does not point into this list.
void IndexUpdater::Entries::Replace(size_t i, View e) {
  const size_t at = start(i), old = ends_[i] - at;
  if (e.size > old) Grow(e.size - old);
  uint8_t* b = bytes_.data();
  std::memmove(b + at + e.size, b + at + old, used_ - at - old);
  std::memcpy(b + at, e.data, e.size);
  used_ = used_ - old + e.size;
  for (size_t k = i; k < ends_.size(); ++k) ends_[k] = uint32_t(ends_[k] - old + e.size);
}

void IndexUpdater::Entries::MoveFront(size_t n, Entries* to) {
  if (n == 0) return;
  const size_t cut = ends_[n - 1];
  const uint32_t base = uint32_t(to->used_);
  to->Grow(cut);
  std::memcpy(to->bytes_.data() + to->used_, bytes_.data(), cut);
  to->used_ += cut;
  for (size_t k = 0; k < n; ++k) to->ends_.push_back(base + ends_[k]);
  std::memmove(bytes_.data(), bytes_.data() + cut, used_ - cut);
  used_ -= cut;
  ends_.erase(ends_.begin(), ends_.begin() + ptrdiff_t(n));
  for (uint32_t& e : ends_) e -= uint32_t(cut);
}

Status IndexUpdater::Open(Pager* pager, uint32_t tdef_page, uint32_t root_page, uint32_t usage_map, std::string what,
                          std::unique_ptr<IndexUpdater>* result) {
  std::unique_ptr<IndexUpdater> u(new IndexUpdater(pager, tdef_page, root_page, std::move(what)));
  KP_RETURN_IF_ERROR(u->map_.Open(pager, usage_map, u->what_ + " pages"));
  // The last entry of the tree, down its right edge: the root's tail needs it.
  Bytes last;
  bool have_last = false;
  uint32_t n = root_page;
  for (size_t depth = 0;; ++depth) {
    if (depth > kMaxDepth || n == 0 || n >= pager->page_count()) {
      return u->Error("its right edge leads to page " + std::to_string(n));
    }
    uint8_t* p = nullptr;
    KP_RETURN_IF_ERROR(pager->Get(n, &p).WithContext(u->what_));
    IndexPage& ip = u->decoded_;
    KP_RETURN_IF_ERROR(DecodeIndexPage(p, n, &ip).WithContext(u->what_));
    if (ip.is_leaf()) {
      if (!ip.entries.empty()) {
        last = ip.entries.back();
        have_last = true;
      }
      break;
    }
    if (ip.tail_page != 0) {
      n = ip.tail_page;
    } else if (ip.entries.empty() || !IndexEntryChild(ip.entries.back(), &n)) {
      return u->Error("node page " + std::to_string(n) + " has no children");
    }
  }
  Node* root = nullptr;
  if (last.size() > sizeof u->last_) {
    return u->Error("its last entry is of " + std::to_string(last.size()) + " bytes, longer than half a page");
  }
  const View last_view{last.data(), last.size()};
  KP_RETURN_IF_ERROR(u->Load(root_page, have_last ? &last_view : nullptr, &root));
  if (!last.empty()) std::memcpy(u->last_, last.data(), last.size());
  u->last_size_ = last.size();
  u->has_last_ = have_last;
  if (!root->leaf && root->keys.empty()) return u->Error("its root node has no children");
  *result = std::move(u);
  return Status::OK();
}

Status IndexUpdater::Error(const std::string& message) const {
  return Status::Corruption(what_ + ": " + message);
}

Status IndexUpdater::Load(uint32_t n, const View* last, Node** node) {
  auto it = cache_.find(n);
  if (it != cache_.end()) {
    *node = it->second.get();
    return Status::OK();
  }
  if (n == 0 || n >= pager_->page_count()) return Error("index page " + std::to_string(n) + " is past the end");
  uint8_t* p = nullptr;
  KP_RETURN_IF_ERROR(pager_->Get(n, &p).WithContext(what_));
  IndexPage& ip = decoded_;
  KP_RETURN_IF_ERROR(DecodeIndexPage(p, n, &ip).WithContext(what_));
  if (ip.tdef_page != tdef_page_) {
    return Error("page " + std::to_string(n) + " belongs to the table at page " + std::to_string(ip.tdef_page));
  }
  std::unique_ptr<Node> nn = std::move(spare_node_);
  if (!nn) nn = std::make_unique<Node>();
  nn->page = n;
  nn->leaf = ip.is_leaf();
  nn->prev = ip.prev_page;
  nn->next = ip.next_page;
  nn->dirty = false;
  if (nn->leaf) {
    for (const Bytes& e : ip.entries) nn->keys.PushBack({e.data(), e.size()});
  } else {
    for (const Bytes& e : ip.entries) {
      uint32_t child = 0;
      if (!IndexEntryChild(e, &child) || e.size() <= kIndexChildPointerBytes + kIndexRowPointerBytes) {
        Recycle(std::move(nn));
        return Error("node page " + std::to_string(n) + " has an entry without keys");
      }
      nn->keys.PushBack({e.data(), e.size() - kIndexChildPointerBytes});
      nn->children.push_back(child);
    }
    if (ip.tail_page != 0) {
      if (last == nullptr) {
        Recycle(std::move(nn));
        return Error("node page " + std::to_string(n) + " has a tail where none was expected");
      }
      nn->keys.PushBack(*last);
      nn->children.push_back(ip.tail_page);
    }
  }
  // Searches and the shared prefix of a page written back rely on the order.
  for (size_t i = 1; i < nn->keys.size(); ++i) {
    const View a = nn->keys[i - 1], b = nn->keys[i];
    if (Compare(a.data, a.size, b.data, b.size) >= 0) {
      Recycle(std::move(nn));
      return Error("page " + std::to_string(n) + ": entries " + std::to_string(i - 1) + " and " +
                   std::to_string(i) + " are not in strictly ascending order");
    }
  }
  *node = nn.get();
  cache_[n] = std::move(nn);
  return Status::OK();
}

Status IndexUpdater::Descend(View entry, std::vector<Step>* path) {
  path->clear();
  Node* n = nullptr;
  KP_RETURN_IF_ERROR(Load(root_, nullptr, &n));
  while (true) {
    const Entries& k = n->keys;
    auto less = [&](size_t i) {
      const View v = k[i];
      return Compare(v.data, v.size, entry.data, entry.size) < 0;
    };
    // An entry past the last one (keys in order) needs no search.
    size_t at = 0;
    if (k.empty() || less(k.size() - 1)) {
      at = k.size();
    } else {  // the first entry not below `entry`
      size_t lo = 0, hi = k.size() - 1;
      while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (less(mid)) {
          lo = mid + 1;
        } else {
          hi = mid;
        }
      }
      at = lo;
    }
    if (n->leaf) {
      path->push_back({n, at});
      return Status::OK();
    }
    if (k.empty()) return Error("node page " + std::to_string(n->page) + " has no children");
    if (at == k.size()) --at;  // the last child's range grows
    path->push_back({n, at});
    if (path->size() > kMaxDepth) return Error("the tree is more than " + std::to_string(kMaxDepth) + " levels deep");
    const uint32_t child = n->children[at];
    const View last = k[at];
    KP_RETURN_IF_ERROR(Load(child, &last, &n));
  }
}

Status IndexUpdater::Neighbour(const std::vector<Step>& path, bool after, View* entry) {
  *entry = View();
  const Node* leaf = path.back().node;
  const size_t at = path.back().at;
  if (!after && at > 0) {
    *entry = leaf->keys[at - 1];
  } else if (after && at < leaf->keys.size()) {
    *entry = leaf->keys[at];
  } else {
    const uint32_t other = after ? leaf->next : leaf->prev;
    if (other == 0) return Status::OK();
    Node* o = nullptr;
    KP_RETURN_IF_ERROR(Load(other, nullptr, &o));
    if (!o->leaf || o->keys.empty()) return Error("leaf " + std::to_string(leaf->page) + " links to page " +
                                                  std::to_string(other) + ", not a leaf with entries");
    *entry = after ? o->keys.front() : o->keys.back();
  }
  return Status::OK();
}

Status IndexUpdater::ContainsKey(const Bytes& key, bool* found) {
  *found = false;
  if (!has_last_ || BelowKey(last_, last_size_, key)) return Status::OK();  // past every entry
  probe_ = key;
  probe_.insert(probe_.end(), kIndexRowPointerBytes, 0);  // below every row with this key
  Refresh();
  rightmost_ = false;  // the path is used for the search
  std::vector<Step>& path = path_;
  KP_RETURN_IF_ERROR(Descend({probe_.data(), probe_.size()}, &path));
  View next;
  KP_RETURN_IF_ERROR(Neighbour(path, true, &next));
  *found = next.data != nullptr && SameKey(next.data, next.size, probe_.data(), probe_.size());
  return Status::OK();
}

Status IndexUpdater::Insert(const Bytes& entry_bytes, bool* new_key) {
  const View entry{entry_bytes.data(), entry_bytes.size()};
  if (entry.size <= kIndexRowPointerBytes || entry.size + kIndexChildPointerBytes > kRoom / 2) {
    return BadEntry(entry.size);
  }
  std::vector<Step>& path = path_;
  // Keys in order (the common case) go on at the end of the rightmost leaf,
  // where the last insert left the path.
  // One pass over the last entry tells both whether the keys are in order
  // and whether the entry repeats the last one's keys.
  const size_t shorter = std::min(last_size_, entry.size);
  const size_t common = has_last_ ? Mismatch(last_, entry.data, shorter) : 0;
  const bool in_order =
      has_last_ && (common < shorter ? last_[common] < entry.data[common] : last_size_ < entry.size);
  if (in_order && rightmost_) {
    // The entry before is the last of the tree, the last of this leaf.
    Node* leaf = path.back().node;
    *new_key = !(last_size_ == entry.size && common >= entry.size - kIndexRowPointerBytes);
    std::memcpy(last_, entry.data, entry.size);
    last_size_ = entry.size;
    leaf->keys.PushBack(entry);
    leaf->dirty = true;
    path.back().at = leaf->keys.size() - 1;
    // Every node above ends in this leaf: their last entry changes too,
    // once something looks at them.
    stale_ = path.size() > 1;
    if (Fits(*leaf)) {
      path.back().at = leaf->keys.size();
      return Status::OK();
    }
    return SplitRightmost();
  }
  return InsertSearched(entry, in_order, new_key);
}

Status IndexUpdater::BadEntry(size_t size) const {
  if (size <= kIndexRowPointerBytes) return Status::InvalidArgument(what_ + ": entry without keys");
  return Status::NotSupported(what_ + ": a key of " + std::to_string(size) + " bytes is too long");
}

Status IndexUpdater::SplitRightmost() {
  rightmost_ = false;
  Refresh();
  KP_RETURN_IF_ERROR(Split(&path_, path_.size() - 1, true));
  KP_RETURN_IF_ERROR(LetGo());
  return cache_.size() > kHeldPages ? Sync() : Status::OK();
}

Status IndexUpdater::InsertSearched(View entry, bool in_order, bool* new_key) {
  std::vector<Step>& path = path_;
  Refresh();
  KP_RETURN_IF_ERROR(Descend(entry, &path));
  rightmost_ = false;
  Node* leaf = path.back().node;
  const size_t at = path.back().at;
  if (at < leaf->keys.size()) {
    const View there = leaf->keys[at];
    if (Compare(there.data, there.size, entry.data, entry.size) == 0) {
      return Error("the entry of this row is there already");
    }
  }
  View before, after;
  KP_RETURN_IF_ERROR(Neighbour(path, false, &before));
  KP_RETURN_IF_ERROR(Neighbour(path, true, &after));
  *new_key = !(before.data != nullptr && SameKey(before.data, before.size, entry.data, entry.size)) &&
             !(after.data != nullptr && SameKey(after.data, after.size, entry.data, entry.size));
  const bool appending = at == leaf->keys.size();
  if (!has_last_ || in_order) {
    std::memcpy(last_, entry.data, entry.size);
    last_size_ = entry.size;
    has_last_ = true;
  }

  leaf->keys.Insert(at, entry);
  leaf->dirty = true;
  if (at + 1 == leaf->keys.size()) {
    // The leaf's last entry changed: so does its entry in the nodes above,
    // as far as it is their last one.
    for (size_t level = path.size() - 1; level-- > 0;) {
      Node* p = path[level].node;
      const size_t i = path[level].at;
      p->keys.Replace(i, entry);
      const bool last = i + 1 == p->keys.size();
      if (!(last && p->keys.size() > 1)) p->dirty = true;  // a tail's entry is not stored
      if (!last) break;
    }
  }
  const bool split = !Fits(*leaf);
  if (split) KP_RETURN_IF_ERROR(Split(&path, path.size() - 1, appending));
  const bool let_go = !retired_.empty();
  KP_RETURN_IF_ERROR(LetGo());
  if (cache_.size() > kHeldPages) return Sync();
  rightmost_ = in_order && appending && !split && !let_go;
  return Status::OK();
}

// Pages left behind by the right edge are done with: written and let go.
Status IndexUpdater::LetGo() {
  for (uint32_t page : retired_) {
    auto it = cache_.find(page);
    if (it == cache_.end()) continue;
    if (it->second->dirty) KP_RETURN_IF_ERROR(Write(it->second.get()));
    Recycle(std::move(it->second));
    cache_.erase(it);
  }
  retired_.clear();
  return Status::OK();
}

Status IndexUpdater::NewNode(bool leaf, Node** node) {
  uint32_t n = 0;
  KP_RETURN_IF_ERROR(pager_->Allocate(WriteClass::kRows, &n));
  KP_RETURN_IF_ERROR(map_.Add(n));
  std::unique_ptr<Node> nn = std::move(spare_node_);
  if (!nn) nn = std::make_unique<Node>();
  nn->page = n;
  nn->leaf = leaf;
  nn->dirty = true;
  *node = nn.get();
  cache_[n] = std::move(nn);
  return Status::OK();
}

Status IndexUpdater::SetLink(uint32_t page, bool next, uint32_t value) {
  auto it = cache_.find(page);
  if (it != cache_.end()) {
    (next ? it->second->next : it->second->prev) = value;
    it->second->dirty = true;
    return Status::OK();
  }
  uint8_t* p = nullptr;
  KP_RETURN_IF_ERROR(pager_->Get(page, &p).WithContext(what_));
  if (p[0] != kPageTypeIndexLeaf && p[0] != kPageTypeIndexNode) {
    return Error("page " + std::to_string(page) + " linked from the tree is not an index page");
  }
  PutU32(p + (next ? kIndexNextPageOffset : kIndexPrevPageOffset), value);
  pager_->MarkDirty(page, WriteClass::kRows);
  return Status::OK();
}

// Node pages are linked only to neighbours under the same parent: when `a`
// and `b` (children of `x`, a node page) end up under different parents,
// their link goes.
Status IndexUpdater::Separate(uint32_t a, uint32_t b) {
  auto it = cache_.find(a);
  uint32_t a_next = 0;
  bool node_pages = false;
  if (it != cache_.end()) {
    a_next = it->second->next;
    node_pages = !it->second->leaf;
  } else {
    uint8_t* p = nullptr;
    KP_RETURN_IF_ERROR(pager_->Get(a, &p).WithContext(what_));
    a_next = GetU32(p + kIndexNextPageOffset);
    node_pages = p[0] == kPageTypeIndexNode;
  }
  if (!node_pages || a_next != b) return Status::OK();
  KP_RETURN_IF_ERROR(SetLink(a, true, 0));
  return SetLink(b, false, 0);
}

Status IndexUpdater::Split(std::vector<Step>* path, size_t level, bool appending) {
  Node* x = (*path)[level].node;
  if (level == 0) {
    // The root keeps its page: its entries go to a new page below it, which
    // is then split.
    Node* c = nullptr;
    KP_RETURN_IF_ERROR(NewNode(x->leaf, &c));
    c->keys.swap(x->keys);
    c->children.swap(x->children);
    x->keys.Clear();
    x->children.clear();
    x->leaf = false;
    x->keys.PushBack(c->keys.back());
    x->children.push_back(c->page);
    x->prev = x->next = 0;
    x->dirty = true;
    path->insert(path->begin() + 1, Step{c, (*path)[0].at});
    (*path)[0].at = 0;
    level = 1;
    x = c;
  }
  Step& up = (*path)[level - 1];
  Node* parent = up.node;
  const size_t pi = up.at;
  const size_t extra = x->leaf ? 0 : kIndexChildPointerBytes;
  Node* y = nullptr;
  KP_RETURN_IF_ERROR(NewNode(x->leaf, &y));
  if (appending) {
    // A new last page takes the new entry; the pages before stay full.
    y->keys.PushBack(x->keys.back());
    x->keys.PopBack();
    if (!x->leaf) {
      y->children.push_back(x->children.back());
      x->children.pop_back();
    }
    y->prev = x->page;
    y->next = x->next;
    x->next = y->page;
    x->dirty = true;
    parent->keys.Replace(pi, x->keys.back());
    parent->keys.Insert(pi + 1, y->keys.back());
    parent->children.insert(parent->children.begin() + ptrdiff_t(pi) + 1, y->page);
    parent->dirty = true;
    (*path)[level] = {y, 0};
    up.at = pi + 1;
    retired_.push_back(x->page);
    if (!x->leaf) KP_RETURN_IF_ERROR(Separate(x->children.back(), y->children.front()));
  } else {
    // A new page before this one takes the first part: as many bytes as
    // the rest, as far as both fit.
    const size_t n = x->keys.size();
    std::vector<size_t>& acc = acc_;  // stored bytes before entry i, uncompressed
    acc.assign(n + 1, 0);
    for (size_t i = 0; i < n; ++i) acc[i + 1] = acc[i] + x->keys[i].size + extra;
    auto part = [&](size_t a, size_t b) {  // the bytes of entries [a, b) on a page of their own
      const size_t stored = !x->leaf && b - a > 1 ? b - a - 1 : b - a;
      if (stored < 2) return acc[a + stored] - acc[a];
      const View first = x->keys[a], last = x->keys[a + stored - 1];
      size_t prefix = CommonPrefix(first.data, first.size, last.data, last.size);
      if (!x->leaf && prefix == std::min(first.size, last.size)) prefix = 0;
      return acc[a + stored] - acc[a] - (stored - 1) * prefix;
    };
    size_t h = 0, best = SIZE_MAX;
    for (size_t k = 1; k < n; ++k) {
      const size_t worst = std::max(part(0, k), part(k, n));
      if (worst < best) {
        best = worst;
        h = k;
      }
    }
    if (best > kRoom) return Error("page " + std::to_string(x->page) + " cannot be split into pages that fit");
    x->keys.MoveFront(h, &y->keys);
    if (!x->leaf) {
      y->children.assign(x->children.begin(), x->children.begin() + ptrdiff_t(h));
      x->children.erase(x->children.begin(), x->children.begin() + ptrdiff_t(h));
    }
    y->prev = x->prev;
    y->next = x->page;
    if (x->prev != 0) KP_RETURN_IF_ERROR(SetLink(x->prev, true, y->page));
    x->prev = y->page;
    x->dirty = true;
    parent->keys.Insert(pi, y->keys.back());
    parent->children.insert(parent->children.begin() + ptrdiff_t(pi), y->page);
    parent->dirty = true;
    Step& here = (*path)[level];
    if (here.at < h) {
      here.node = y;
      up.at = pi;
    } else {
      here.at -= h;
      up.at = pi + 1;
    }
    if (!x->leaf) KP_RETURN_IF_ERROR(Separate(y->children.back(), x->children.front()));
  }
  if (!Fits(*parent)) return Split(path, level - 1, appending);
  return Status::OK();
}

size_t IndexUpdater::StoredBytes(const Node& n, size_t* count, size_t* prefix) {
  const size_t keys = n.keys.size();
  const bool tail = !n.leaf && keys > 1;
  *count = tail ? keys - 1 : keys;
  size_t raw = n.total();
  if (tail) raw -= n.keys.back().size + kIndexChildPointerBytes;
  *prefix = 0;
  if (*count > 1) {
    const View a = n.keys.front();
    const View b = n.keys[*count - 1];
    size_t p = CommonPrefix(a.data, a.size, b.data, b.size);
    if (!n.leaf && p == std::min(a.size, b.size)) {
      // The prefix runs on into the child pointers.
      Bytes& fa = scratch_[0];
      Bytes& fb = scratch_[1];
      fa.assign(a.data, a.data + a.size);
      fb.assign(b.data, b.data + b.size);
      fa.resize(a.size + kIndexChildPointerBytes);
      fb.resize(b.size + kIndexChildPointerBytes);
      PutChild(n.children.front(), fa.data() + a.size);
      PutChild(n.children[*count - 1], fb.data() + b.size);
      p = CommonPrefix(fa.data(), fa.size(), fb.data(), fb.size());
      // Child pointers are in no order: the entries between share only what
      // they share with the first.
      for (size_t i = 1; i + 1 < *count && p > a.size; ++i) {
        const View m = n.keys[i];
        fb.assign(m.data, m.data + m.size);
        fb.resize(m.size + kIndexChildPointerBytes);
        PutChild(n.children[i], fb.data() + m.size);
        p = std::min(p, CommonPrefix(fa.data(), fa.size(), fb.data(), fb.size()));
      }
    }
    *prefix = p;
  }
  return raw - (*count > 1 ? (*count - 1) * *prefix : 0);
}

bool IndexUpdater::Fits(const Node& n) {
  if (n.total() <= kRoom) return true;  // even without a shared prefix
  size_t count = 0, prefix = 0;
  return StoredBytes(n, &count, &prefix) <= kRoom;
}

Status IndexUpdater::Write(Node* n) {
  size_t count = 0, prefix = 0;
  const size_t bytes = StoredBytes(*n, &count, &prefix);
  if (bytes > kRoom) return Error("internal error: page " + std::to_string(n->page) + " overfilled");
  image_.assign(kPageSize, 0);
  uint8_t* p = image_.data();
  p[0] = n->leaf ? kPageTypeIndexLeaf : kPageTypeIndexNode;  // page type
  p[1] = 0x01;
  PutU16(p + kIndexFreeSpaceOffset, uint16_t(kRoom - bytes));  // free space
  PutU32(p + kIndexTdefOffset, tdef_page_);                    // owning table
  PutU32(p + kIndexPrevPageOffset, n->prev);
  PutU32(p + kIndexNextPageOffset, n->next);
  PutU32(p + kIndexTailPageOffset, !n->leaf && n->keys.size() > 1 ? n->children.back() : 0);  // last child
  PutU16(p + kIndexPrefixLengthOffset, uint16_t(prefix));                                    // shared prefix
  size_t end = 0;
  Bytes& entry = scratch_[0];
  for (size_t i = 0; i < count; ++i) {
    View e = n->keys[i];
    if (!n->leaf) {
      entry.assign(e.data, e.data + e.size);
      entry.resize(e.size + kIndexChildPointerBytes);
      PutChild(n->children[i], entry.data() + e.size);
      e = {entry.data(), entry.size()};
    }
    const size_t skip = i == 0 ? 0 : prefix;
    std::memcpy(p + kIndexEntriesOffset + end, e.data + skip, e.size - skip);  // entry
    end += e.size - skip;
    p[kIndexMaskOffset + end / 8] |= uint8_t(1u << (end % 8));  // entry-end mask bit
  }
  KP_RETURN_IF_ERROR(pager_->Put(n->page, p, WriteClass::kRows).WithContext(what_));
  n->dirty = false;
  return Status::OK();
}

void IndexUpdater::Refresh() {
  if (!stale_) return;
  stale_ = false;
  const View last{last_, last_size_};
  for (size_t level = 0; level + 1 < path_.size(); ++level) {
    Node* p = path_[level].node;
    p->keys.Replace(p->keys.size() - 1, last);
    if (p->keys.size() == 1) p->dirty = true;  // a tail's entry is not stored
  }
}

Status IndexUpdater::Sync() {
  Refresh();
  rightmost_ = false;  // pages may be let go
  for (auto& [page, n] : cache_) {
    if (n->dirty) KP_RETURN_IF_ERROR(Write(n.get()));
  }
  if (cache_.size() <= kKeptPages) return Status::OK();
  // Keep the right edge, where entries in order go.
  std::unordered_map<uint32_t, std::unique_ptr<Node>> kept;
  uint32_t n = root_;
  for (size_t depth = 0; depth <= kMaxDepth; ++depth) {
    auto it = cache_.find(n);
    if (it == cache_.end()) break;
    const Node* node = it->second.get();
    const bool leaf = node->leaf || node->children.empty();
    const uint32_t next = leaf ? 0 : node->children.back();
    kept[n] = std::move(it->second);
    if (leaf) break;
    n = next;
  }
  for (auto& [page, node] : cache_) {
    if (node) Recycle(std::move(node));
  }
  cache_ = std::move(kept);
  return Status::OK();
}

void IndexUpdater::Recycle(std::unique_ptr<Node> node) {
  node->keys.Clear();
  node->children.clear();
  node->prev = node->next = 0;
  node->dirty = false;
  spare_node_ = std::move(node);
}

}  // namespace kp::jet
