// The checker's relationships: foreign keys against the referenced index.
#include <algorithm>

#include "base/text_util.h"
#include "jet/checker_internal.h"
#include "jet/collation.h"
#include "jet/format.h"
#include "jet/index_leaf.h"
#include "jet/values.h"

namespace kp::jet::check {

void RelationshipChecker::Find(const std::vector<CatalogEntry>& catalog) {
  std::map<uint32_t, std::u16string> tables;  // TDEF page -> name
  for (const CatalogEntry& e : catalog) {
    if (e.is_table()) tables.emplace(e.tdef_page(), e.name);
  }
  for (const auto& [tp, table_name] : tables) {
    TableDef def;
    if (!ReadTableDef(file_, tp, &def).ok()) continue;  // reported with the table
    def.name = table_name;
    for (const LogicalIndex& li : def.logical_indexes) {
      if (li.kind != kIndexKindForeignKey || li.raw.size() < kTdefLogicalIndexBytes ||
          li.raw[kLogicalIndexReferenceTypeOffset] != kReferencingTable) {
        continue;
      }
      const uint32_t other_index = GetU32(li.raw.data() + kLogicalIndexOtherIndexOffset);
      const uint32_t other_page = GetU32(li.raw.data() + kLogicalIndexOtherTableOffset);
      if (other_index == kNoOtherIndex) continue;
      Relationship rel;
      rel.name = Utf16ToUtf8(li.name);
      const std::string what = "relationship " + rel.name + " of " + Utf16ToUtf8(table_name);
      Status s = ReadTableDef(file_, other_page, &rel.to);
      if (!s.ok()) {
        cx_->Problem(tp, what + ": the referenced table: " + s.message());
        continue;
      }
      const auto named = tables.find(other_page);
      if (named == tables.end()) {
        cx_->Problem(tp, what + ": the referenced TDEF at page " + std::to_string(other_page) +
                             " is no table of the catalog");
        continue;
      }
      rel.to.name = named->second;
      const std::string to_name = Utf16ToUtf8(rel.to.name);
      const LogicalIndex* target = nullptr;
      for (const LogicalIndex& other : rel.to.logical_indexes) {
        if (other.number == other_index) target = &other;
      }
      if (target == nullptr) {
        cx_->Problem(tp, what + " names logical index " + std::to_string(other_index) + " of " +
                             to_name + ", which it lacks");
        continue;
      }
      rel.from_index = li.physical_index;
      rel.to_index = target->physical_index;
      const auto& from_columns = def.physical_indexes[rel.from_index].columns;
      const auto& to_columns = rel.to.physical_indexes[rel.to_index].columns;
      if (from_columns.size() != to_columns.size()) {
        cx_->Problem(tp, what + ": " + std::to_string(from_columns.size()) +
                             " key columns, the index of " + to_name + " it names " +
                             std::to_string(to_columns.size()));
        continue;
      }
      for (size_t k = 0; k < from_columns.size(); ++k) {
        const int from = ColumnAt(def, from_columns[k].column_number);
        const int to = ColumnAt(rel.to, to_columns[k].column_number);
        if (from < 0 || to < 0) break;  // reported with the index
        rel.columns.emplace_back(size_t(from), size_t(to));
        const ColumnType type = rel.to.columns[size_t(to)].type;
        if (!cx_->compare_text_keys && (type == ColumnType::kText || type == ColumnType::kMemo))
          rel.comparable = false;
      }
      if (rel.columns.size() != from_columns.size()) continue;
      rel.from = def;
      referenced_.emplace(other_page, rel.to_index);
      relationships_.push_back(std::move(rel));
    }
  }
}

std::vector<Relationship*> RelationshipChecker::From(uint32_t tdef_page) {
  std::vector<Relationship*> out;
  for (Relationship& rel : relationships_) {
    if (rel.from.tdef_page == tdef_page) out.push_back(&rel);
  }
  return out;
}

void RelationshipChecker::KeepKeys(uint32_t tdef_page, size_t index, std::set<Bytes>* keys) {
  std::vector<Bytes>& present = referenced_keys_[{tdef_page, index}];
  present.clear();
  present.reserve(keys->size());
  while (!keys->empty()) present.push_back(std::move(keys->extract(keys->begin()).value()));
}

void RelationshipChecker::AddReferencingKey(Relationship* rel, const Row& row, uint32_t page,
                                            uint8_t r) {
  if (!rel->comparable) return;
  Row& key_row = rel->key_row;
  key_row.resize(rel->to.columns.size());
  bool all_null = true;
  for (const auto& [from, to] : rel->columns) {
    key_row[to] = row[from];
    all_null &= row[from].is_null() && rel->from.columns[from].type != ColumnType::kBoolean;
  }
  if (all_null) return;
  Bytes key;
  Status s =
      BuildIndexEntry(rel->to, rel->to.physical_indexes[rel->to_index], key_row, page, r, &key);
  if (!s.ok()) {
    rel->comparable = false;
    if (!s.IsNotSupported()) {
      cx_->Problem(page, "row " + std::to_string(r) + " of " + Utf16ToUtf8(rel->from.name) +
                             ": relationship " + rel->name + ": " + s.message());
    }
    return;
  }
  key.resize(key.size() - kIndexRowPointerBytes);
  ++rel->keys.try_emplace(std::move(key), Relationship::Rows{page, r, 0}).first->second.count;
}

void RelationshipChecker::Check() {
  constexpr size_t kRowsReported = 5;
  for (Relationship& rel : relationships_) {
    const auto present = referenced_keys_.find({rel.to.tdef_page, rel.to_index});
    // Without the referenced index's keys (it cannot be read), its check says why.
    if (!rel.comparable || present == referenced_keys_.end()) continue;
    std::vector<std::pair<const Bytes*, Relationship::Rows>> broken;
    for (const auto& [key, rows] : rel.keys) {
      if (!std::binary_search(present->second.begin(), present->second.end(), key))
        broken.emplace_back(&key, rows);
    }
    std::sort(broken.begin(), broken.end(), [](const auto& a, const auto& b) {
      return std::make_pair(a.second.page, a.second.row) <
             std::make_pair(b.second.page, b.second.row);
    });
    const std::string from_name = Utf16ToUtf8(rel.from.name), to_name = Utf16ToUtf8(rel.to.name);
    size_t more = 0;
    for (size_t k = 0; k < broken.size(); ++k) {
      const Relationship::Rows& rows = broken[k].second;
      if (k >= kRowsReported) {
        more += rows.count;
        continue;
      }
      cx_->Problem(
          rows.page,
          "row " + std::to_string(rows.row) + " of " + from_name + ": relationship " + rel.name +
              ": no row of " + to_name + " has its key " + KeyValues(rel, rows, *broken[k].first) +
              (rows.count > 1 ? " (nor " + std::to_string(rows.count - 1) + " more rows with it)"
                              : ""));
    }
    if (more > 0) {
      cx_->Problem(broken[kRowsReported].second.page,
                   "relationship " + rel.name + ": " + std::to_string(more) + " more rows of " +
                       from_name + " whose keys " + to_name + " lacks");
    }
    rel.keys.clear();
  }
}

// The key columns of the referencing row at `rows` ("otherfk1 = 7"),
// decoded again; the key bytes when the row cannot be.
std::string RelationshipChecker::KeyValues(const Relationship& rel, const Relationship::Rows& rows,
                                           const Bytes& key) {
  const uint8_t* data;
  size_t size;
  RowSlot slot;
  Row row;
  bool ok = ReadRowBytes(file_, rows.page, rows.row, &data, &size, &slot).ok();
  if (ok && slot.overflow)
    ok = size >= 4 && ReadRowBytes(file_, GetU24(data + 1), data[0], &data, &size).ok();
  if (!ok || !DecodeRow(file_, rel.from, data, size, &row).ok()) return "(" + HexBytes(key) + ")";
  std::string out;
  for (const auto& [from, to] : rel.columns) {
    out += (out.empty() ? "" : ", ") + Utf16ToUtf8(rel.from.columns[from].name) + " = " +
           ValueText(row[from]);
  }
  return out;
}

}  // namespace kp::jet::check
