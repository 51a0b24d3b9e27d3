// The checker's indexes: each tree walked, against its usage map and rows.
#include <algorithm>

#include "jet/checker_internal.h"
#include "jet/collation.h"
#include "jet/format.h"
#include "jet/index_leaf.h"

namespace kp::jet::check {

bool IndexChecker::ExpectedEntry(const TableDef& def, const PhysicalIndex& pi, const Row& row,
                                 uint32_t page, uint8_t r, Bytes* entry, std::string* trouble) {
  if (pi.flags & kIndexFlagIgnoreNulls) {
    bool all_null = true;
    for (const IndexColumn& ic : pi.columns) {
      for (size_t c = 0; c < def.columns.size(); ++c) {
        if (def.columns[c].number == ic.column_number &&
            (def.columns[c].type == ColumnType::kBoolean || !row[c].is_null())) {
          all_null = false;
        }
      }
    }
    if (all_null) return false;
  }
  Status s = BuildIndexEntry(def, pi, row, page, r, entry);
  if (s.IsNotSupported()) {
    *trouble = "unsupported";
    return false;
  }
  if (!s.ok()) {
    *trouble = s.message();
    return false;
  }
  return true;
}

void IndexChecker::Check(const std::string& name, const TableDef& def, size_t i,
                         std::vector<Bytes>* expected_entries, const std::string& key_trouble) {
  const PhysicalIndex& pi = def.physical_indexes[i];
  const std::string iname = "index " + std::to_string(i) + " of " + name;
  const uint32_t tp = def.tdef_page;
  std::set<uint32_t> map_pages;
  const bool have_map = cx_->ReadMap(pi.usage_map, "usage map of " + iname, tp, &map_pages);

  // Walk the tree from the root: nodes in entry order, leaves in turn.
  std::vector<Bytes> entries;
  std::set<uint32_t> visited;
  std::vector<uint32_t> leaves;
  bool walk_ok = Walk(iname, tp, pi.root_page, 0, &visited, &leaves, &entries);
  for (uint32_t p : visited) cx_->Use(p, "page of " + iname);
  if (have_map && walk_ok) {
    std::set<uint32_t> tree(visited.begin(), visited.end());
    const auto missing = Minus(tree, map_pages), extra = Minus(map_pages, tree);
    if (!missing.empty())
      cx_->Problem(missing.front(),
                   "pages of " + iname + " missing from its usage map: " + Pages(missing));
    // Other writers free an emptied index page by clearing its type byte
    // and leave it on the index's map; no reader follows a map into a tree.
    std::vector<uint32_t> freed, stray;
    for (uint32_t p : extra) {
      const uint8_t* page = p != 0 ? file_.Page(p) : nullptr;
      (page != nullptr && page[0] == 0 ? freed : stray).push_back(p);
    }
    if (!stray.empty())
      cx_->Problem(stray.front(),
                   "usage map of " + iname + " lists pages outside its tree: " + Pages(stray));
    if (!freed.empty())
      cx_->Problem(freed.front(), "usage map of " + iname + " lists freed pages: " + Pages(freed), true);
  }
  // Leaves are chained in order.
  for (size_t k = 0; walk_ok && k < leaves.size(); ++k) {
    IndexPage leaf;
    if (!DecodeIndexPage(file_.Page(leaves[k]), leaves[k], &leaf).ok()) continue;
    const uint32_t prev = k == 0 ? 0 : leaves[k - 1],
                   next = k + 1 == leaves.size() ? 0 : leaves[k + 1];
    if (leaf.prev_page != prev || leaf.next_page != next) {
      cx_->Problem(leaves[k], iname + ": leaf links previous " + std::to_string(leaf.prev_page) +
                                  " / next " + std::to_string(leaf.next_page) + ", expected " +
                                  std::to_string(prev) + " / " + std::to_string(next));
    }
  }
  for (size_t k = 1; k < entries.size(); ++k) {
    if (!(entries[k - 1] < entries[k])) {
      cx_->Problem(pi.root_page, iname + ": entries " + std::to_string(k - 1) + " and " +
                                     std::to_string(k) + " are not in strictly ascending order");
      break;
    }
  }

  // The entries the rows call for.
  bool keys_comparable = walk_ok && key_trouble.empty();
  if (!key_trouble.empty() && key_trouble != "unsupported")
    cx_->Problem(tp, iname + ": " + key_trouble);
  std::vector<Bytes>& expected = *expected_entries;
  if (keys_comparable && !cx_->compare_text_keys) {
    for (const IndexColumn& ic : pi.columns) {
      for (const auto& c : def.columns) {
        if (c.number == ic.column_number &&
            (c.type == ColumnType::kText || c.type == ColumnType::kMemo)) {
          keys_comparable = false;
        }
      }
    }
  }
  if (keys_comparable) {
    std::sort(expected.begin(), expected.end());
    std::vector<Bytes> found = entries;
    std::sort(found.begin(), found.end());
    std::vector<Bytes> missing, extra;
    std::set_difference(expected.begin(), expected.end(), found.begin(), found.end(),
                        std::back_inserter(missing));
    std::set_difference(found.begin(), found.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    if (!missing.empty() || !extra.empty()) {
      cx_->Problem(pi.root_page,
                   iname + ": " + std::to_string(missing.size()) + " entries missing, " +
                       std::to_string(extra.size()) + " entries without a row (" +
                       std::to_string(found.size()) + " found, " + std::to_string(expected.size()) +
                       " expected)" +
                       (missing.empty() ? "" : "; first missing " + HexBytes(missing[0])) +
                       (extra.empty() ? "" : "; first extra " + HexBytes(extra[0])));
    }
  }
  if (walk_ok) {
    std::set<Bytes> keys;
    for (const Bytes& e : entries) keys.insert(Bytes(e.begin(), e.end() - kIndexRowPointerBytes));
    // Access does not lower the count when rows go, and leaves the counts of
    // its system tables stale (as their row counts).
    if (keys.size() != pi.unique_count) {
      cx_->Problem(tp,
                   iname + ": unique count " + std::to_string(pi.unique_count) + " in the TDEF, " +
                       std::to_string(keys.size()) + " distinct keys",
                   pi.unique_count > keys.size() ||
                       (def.table_type == kTableTypeSystem && tp != kCatalogTdefPage));
    }
    if ((pi.flags & kIndexFlagUnique) && keys.size() != entries.size()) {
      cx_->Problem(pi.root_page, iname + " is unique but holds " +
                                     std::to_string(entries.size() - keys.size()) +
                                     " duplicate keys");
    }
    if (relationships_->Referenced(tp, i)) relationships_->KeepKeys(tp, i, &keys);
  }
}

bool IndexChecker::Walk(const std::string& iname, uint32_t tp, uint32_t n, int depth,
                        std::set<uint32_t>* visited, std::vector<uint32_t>* leaves,
                        std::vector<Bytes>* entries) {
  if (depth > 32 || !visited->insert(n).second) {
    cx_->Problem(n, iname + ": the index tree loops back to this page");
    return false;
  }
  const uint8_t* page = file_.Page(n);
  if (page == nullptr || n == 0) {
    cx_->Problem(n, iname + ": index page past the end of the file");
    return false;
  }
  IndexPage ip;
  Status s = DecodeIndexPage(page, n, &ip);
  if (!s.ok()) {
    cx_->Problem(n, iname + ": " + s.message());
    return false;
  }
  if (ip.tdef_page != tp) {
    cx_->Problem(n, iname + ": index page names TDEF " + std::to_string(ip.tdef_page) + ", not " +
                        std::to_string(tp));
  }
  if (ip.free_space != kPageSize - kIndexEntriesOffset - ip.entries_end) {
    cx_->Problem(n, iname + ": free space " + std::to_string(ip.free_space) +
                        ", the entries leave " +
                        std::to_string(kPageSize - kIndexEntriesOffset - ip.entries_end));
  }
  if (ip.is_leaf()) {
    leaves->push_back(n);
    entries->insert(entries->end(), ip.entries.begin(), ip.entries.end());
    return true;
  }
  // Children in entry order, then the tail (the last child, which has no
  // entry of its own); each node entry is its child's last entry.
  std::vector<uint32_t> children;
  for (const Bytes& e : ip.entries) {
    uint32_t child;
    if (!IndexEntryChild(e, &child)) return false;
    children.push_back(child);
  }
  if (ip.tail_page != 0) children.push_back(ip.tail_page);
  for (size_t k = 0; k < children.size(); ++k) {
    const size_t before = entries->size();
    if (!Walk(iname, tp, children[k], depth + 1, visited, leaves, entries)) return false;
    if (k < ip.entries.size() && entries->size() > before) {
      const Bytes& e = ip.entries[k];
      const Bytes& last = entries->back();
      if (!std::equal(e.begin(), e.end() - kIndexChildPointerBytes, last.begin(), last.end())) {
        cx_->Problem(n, iname + ": node entry " + std::to_string(k) +
                            " is not the last entry under page " + std::to_string(children[k]));
      }
    }
  }
  return true;
}

}  // namespace kp::jet::check
