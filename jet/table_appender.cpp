#include "jet/table_appender.h"

#include "jet/collation.h"
#include "jet/format.h"
#include "jet/values.h"

namespace kp::jet {

namespace {

bool IsNull(const ColumnDef& c, const Value& v) { return c.type != ColumnType::kBoolean && v.is_null(); }

}  // namespace

Status TableAppender::OpenIndexes(bool general_legacy) {
  const std::string table = "table " + Utf16ToUtf8(def_.name);
  for (size_t i = 0; i < def_.physical_indexes.size(); ++i) {
    const PhysicalIndex& pi = def_.physical_indexes[i];
    Index ix;
    ix.physical = i;
    // Named after its primary key or index; a foreign key's name only
    // when it has no other.
    std::string name, foreign;
    bool primary = false;
    for (const LogicalIndex& li : def_.logical_indexes) {
      if (li.physical_index != i) continue;
      if (li.kind == kIndexKindForeignKey) {
        if (foreign.empty()) foreign = Utf16ToUtf8(li.name);
      } else if (name.empty() || li.kind == kIndexKindPrimaryKey) {
        name = Utf16ToUtf8(li.name);
      }
      primary = primary || li.kind == kIndexKindPrimaryKey;
    }
    if (name.empty()) name = foreign;
    ix.label = "index " + (name.empty() ? "#" + std::to_string(i) : name);
    ix.unique = (pi.flags & kIndexFlagUnique) != 0;
    ix.ignore_nulls = (pi.flags & kIndexFlagIgnoreNulls) != 0;
    ix.no_nulls = primary || (pi.flags & kIndexFlagRequired) != 0;
    ix.unique_count = pi.unique_count;
    if (pi.columns.empty()) return Status::Corruption(table + ": " + ix.label + " has no columns");
    for (const IndexColumn& ic : pi.columns) {
      size_t at = def_.columns.size();
      for (size_t c = 0; c < def_.columns.size(); ++c) {
        if (def_.columns[c].number == ic.column_number) at = c;
      }
      if (at == def_.columns.size()) {
        return Status::Corruption(table + ": " + ix.label + " names column number " + std::to_string(ic.column_number) +
                                  ", which the table lacks");
      }
      const ColumnDef& c = def_.columns[at];
      const bool text = c.type == ColumnType::kText || c.type == ColumnType::kMemo;
      Bytes probe;
      if (!text && AppendIndexKey(c, Value::Null(), true, &probe).IsNotSupported()) {
        return Status::NotSupported(table + ": " + ix.label + " is over " + ColumnLabel(c) + " of type " +
                                    ColumnTypeName(c.type) + ", whose keys are not computed: the table is not opened for appending");
      }
      if (text && !general_legacy) {
        return Status::NotSupported(table + ": " + ix.label + " is over the text " + ColumnLabel(c) +
                                    " and the database sorts text in another order than General Legacy: the table is not opened for appending");
      }
      ix.columns.push_back(at);
      const bool whole = c.type == ColumnType::kInteger || c.type == ColumnType::kLong;
      if (whole && (ix.whole_key_bytes != 0 || ix.columns.size() == 1)) {
        ix.whole_key_bytes += 1 + (c.type == ColumnType::kInteger ? 2 : 4);
      } else {
        ix.whole_key_bytes = 0;
      }
    }
    KP_RETURN_IF_ERROR(IndexUpdater::Open(pager_, def_.tdef_page, pi.root_page, pi.usage_map, table + " " + ix.label,
                                          &ix.tree));
    indexes_.push_back(std::move(ix));
  }
  return Status::OK();
}

std::string TableAppender::KeyText(const Row& row, const std::vector<size_t>& columns) const {
  std::string names, values;
  for (size_t k = 0; k < columns.size(); ++k) {
    names += (k == 0 ? "" : ", ") + Utf16ToUtf8(def_.columns[columns[k]].name);
    values += (k == 0 ? "" : ", ") + ValueText(row[columns[k]]);
  }
  if (columns.size() == 1) return names + " = " + values;
  return "(" + names + ") = (" + values + ")";
}

Status TableAppender::PrepareEntry(const Row& row, Index* ix) {
  bool all_null = true;
  for (size_t at : ix->columns) {
    const ColumnDef& c = def_.columns[at];
    if (!IsNull(c, row[at])) {
      all_null = false;
    } else if (ix->no_nulls) {
      return Status::InvalidArgument(ix->label + " does not allow Null in " + ColumnLabel(c));
    }
  }
  ix->skip = all_null && ix->ignore_nulls;
  if (ix->skip) return Status::OK();
  // The keys only, its columns found once when the table was opened.
  const std::vector<IndexColumn>& order = def_.physical_indexes[ix->physical].columns;
  bool whole_numbers = ix->whole_key_bytes != 0;
  for (size_t k = 0; k < ix->columns.size() && whole_numbers; ++k) {
    whole_numbers = row[ix->columns[k]].kind == Value::Kind::kInteger;
  }
  if (whole_numbers) {
    // Integer and Long columns only: written in place (the buffer shrinks
    // from the last row's entry, so nothing is filled or grown).
    ix->entry.resize(ix->whole_key_bytes);
    uint8_t* p = ix->entry.data();
    for (size_t k = 0; k < ix->columns.size(); ++k) {
      const ColumnDef& c = def_.columns[ix->columns[k]];
      p = PutWholeNumberKey(row[ix->columns[k]].i, c.type == ColumnType::kInteger ? 2 : 4,
                            (order[k].flags & kIndexColumnAscending) != 0, p);
    }
  } else {
    ix->entry.clear();
    for (size_t k = 0; k < ix->columns.size(); ++k) {
      const size_t at = ix->columns[k];
      KP_RETURN_IF_ERROR(
          AppendIndexKey(def_.columns[at], row[at], (order[k].flags & kIndexColumnAscending) != 0, &ix->entry));
    }
  }
  if (ix->unique && !all_null) {
    bool found = false;
    KP_RETURN_IF_ERROR(ix->tree->ContainsKey(ix->entry, &found));
    if (found) {
      return Status::InvalidArgument(ix->label + " already holds the key " + KeyText(row, ix->columns) +
                                     ": the row is not added");
    }
  }
  return Status::OK();
}

Status TableAppender::AddReference(const std::u16string& name, uint32_t physical, TableAppender* other,
                                   uint32_t other_index) {
  Reference r;
  r.label = "relationship " + Utf16ToUtf8(name);
  const std::string table = "table " + Utf16ToUtf8(def_.name);
  const std::string other_table = "table " + Utf16ToUtf8(other->def_.name);
  const Index* own = nullptr;
  for (const Index& ix : indexes_) {
    if (ix.physical == physical) own = &ix;
  }
  if (own == nullptr) {
    return Status::Corruption(table + ": " + r.label + " names index #" + std::to_string(physical) + ", which the table lacks");
  }
  const LogicalIndex* target = nullptr;
  for (const LogicalIndex& li : other->def_.logical_indexes) {
    if (li.number == other_index) target = &li;
  }
  const Index* theirs = nullptr;
  for (size_t i = 0; target != nullptr && i < other->indexes_.size(); ++i) {
    if (other->indexes_[i].physical == target->physical_index) {
      theirs = &other->indexes_[i];
      r.other_index = i;
    }
  }
  if (theirs == nullptr) {
    return Status::Corruption(table + ": " + r.label + " refers to index number " + std::to_string(other_index) + " of " +
                              other_table + ", which it lacks");
  }
  if (theirs->columns.size() != own->columns.size()) {
    return Status::Corruption(table + ": " + r.label + " joins " + std::to_string(own->columns.size()) + " columns to " +
                              std::to_string(theirs->columns.size()) + " of " + other_table);
  }
  for (size_t k = 0; k < own->columns.size(); ++k) {
    const ColumnDef& a = def_.columns[own->columns[k]];
    const ColumnDef& b = other->def_.columns[theirs->columns[k]];
    if (a.type != b.type) {
      return Status::NotSupported(table + ": " + r.label + " joins " + ColumnLabel(a) + " of type " +
                                  ColumnTypeName(a.type) + " to " + ColumnLabel(b) + " of type " + ColumnTypeName(b.type) +
                                  " in " + other_table + ": the table is not opened for appending");
    }
  }
  r.columns = own->columns;
  r.other = other;
  references_.push_back(std::move(r));
  return Status::OK();
}

Status TableAppender::CheckReference(const Row& row, Reference* r) {
  bool all_null = true;
  for (size_t at : r->columns) all_null = all_null && IsNull(def_.columns[at], row[at]);
  if (all_null) return Status::OK();
  // The key as the referenced index writes it: its columns and directions.
  const TableAppender& other = *r->other;
  const Index& ix = other.indexes_[r->other_index];
  const std::vector<IndexColumn>& order = other.def_.physical_indexes[ix.physical].columns;
  r->key.clear();
  for (size_t k = 0; k < r->columns.size(); ++k) {
    KP_RETURN_IF_ERROR(AppendIndexKey(other.def_.columns[ix.columns[k]], row[r->columns[k]],
                                      (order[k].flags & kIndexColumnAscending) != 0, &r->key));
  }
  bool found = false;
  KP_RETURN_IF_ERROR(ix.tree->ContainsKey(r->key, &found));
  if (found) return Status::OK();
  return Status::InvalidArgument(r->label + ": table " + Utf16ToUtf8(other.def_.name) + " has no row for " +
                                 KeyText(row, r->columns) + ": the row is not added");
}

Status TableAppender::PutUniqueCount(size_t physical, uint32_t count) {
  // The count's place in the logical TDEF, then on its page.
  size_t offset = kTdefHeaderBytes + physical * kTdefIndexCountBlockBytes + kTdefIndexCountUniqueOffset;
  uint32_t page = def_.tdef_page;
  for (int hops = 0; offset + 4 > kPageSize; ++hops) {
    uint8_t* p = nullptr;
    KP_RETURN_IF_ERROR(pager_->Get(page, &p));
    page = GetU32(p + kTdefNextPageOffset);
    if (page == 0 || hops > 64) return Status::Corruption("table " + Utf16ToUtf8(def_.name) + ": TDEF ends before its index counts");
    offset -= kPageSize - kTdefPageHeaderBytes;
  }
  uint8_t* p = nullptr;
  KP_RETURN_IF_ERROR(pager_->Get(page, &p));
  if (GetU32(p + offset) != count) {
    PutU32(p + offset, count);
    pager_->MarkDirty(page, WriteClass::kDefinition);
  }
  return Status::OK();
}

Status TableAppender::Open(Pager* pager, const TableDef& def, bool general_legacy,
                           std::unique_ptr<TableAppender>* result) {
  std::unique_ptr<TableAppender> a(new TableAppender(pager, def));
  const std::string table = "table " + Utf16ToUtf8(def.name);
  uint8_t* tdef = nullptr;
  KP_RETURN_IF_ERROR(pager->Get(def.tdef_page, &tdef).WithContext(table));
  if (tdef[0] != kPageTypeTdef) {
    return Status::Corruption(table + ": page " + std::to_string(def.tdef_page) + " is not a table definition");
  }
  a->row_count_ = GetU32(tdef + kTdefRowCountOffset);
  a->autonumber_ = GetU32(tdef + kTdefAutonumberOffset);
  for (size_t i = 0; i < def.columns.size(); ++i) {
    if ((def.columns[i].flags & kColumnAutoLong) != 0 && def.columns[i].type == ColumnType::kLong) {
      a->autonumber_column_ = int(i);
    }
  }
  KP_RETURN_IF_ERROR(a->OpenFiller(def.tdef_page, def.owned_map, def.free_map, table, &a->rows_));
  for (const ColumnDef& c : def.columns) {
    if (!c.is_long_value()) continue;
    const LongValueMaps* maps = nullptr;
    for (const auto& m : def.long_value_maps) {
      if (m.column_number == c.number) maps = &m;
    }
    if (maps == nullptr) {
      return Status::NotSupported(table + ": " + ColumnLabel(c) + " has no usage maps for its long values");
    }
    auto f = std::make_unique<Filler>();
    KP_RETURN_IF_ERROR(a->OpenFiller(kLvalOwnerTag, maps->owned_map, maps->free_map,
                                     table + " " + ColumnLabel(c), f.get()));
    a->long_values_[c.number] = std::move(f);
  }
  KP_RETURN_IF_ERROR(a->OpenIndexes(general_legacy));
  *result = std::move(a);
  return Status::OK();
}

Status TableAppender::OpenFiller(uint32_t owner, uint32_t owned_map, uint32_t free_map, const std::string& what,
                                 Filler* f) {
  f->owner = owner;
  KP_RETURN_IF_ERROR(f->owned.Open(pager_, owned_map, what + " owned pages"));
  KP_RETURN_IF_ERROR(f->free.Open(pager_, free_map, what + " pages with free space"));
  uint32_t last = 0;
  bool found = false;
  KP_RETURN_IF_ERROR(f->owned.LastPage(&last, &found));
  if (!found) return Status::OK();
  uint8_t* p = nullptr;
  KP_RETURN_IF_ERROR(pager_->Get(last, &p).WithContext(what));
  if (p[0] != kPageTypeData || GetU32(p + kDataOwnerOffset) != owner) {
    return Status::Corruption(what + ": page " + std::to_string(last) + " in its usage map is not one of its data pages");
  }
  KP_RETURN_IF_ERROR(f->page.Load(p, last).WithContext(what));
  f->number = last;
  f->active = true;
  return Status::OK();
}

// The current page takes no more rows: it leaves the free-space map and goes
// to the pager.
Status TableAppender::Leave(Filler* f) {
  KP_RETURN_IF_ERROR(f->free.Remove(f->number));
  KP_RETURN_IF_ERROR(pager_->Put(f->number, f->page.page().data(), WriteClass::kRows));
  f->active = false;
  return Status::OK();
}

Status TableAppender::Place(Filler* f, const Bytes& row, uint32_t* pointer) {
  if (!f->active || !f->page.Fits(row.size())) {
    if (f->active) KP_RETURN_IF_ERROR(Leave(f));
    uint32_t n = 0;
    KP_RETURN_IF_ERROR(pager_->Allocate(WriteClass::kRows, &n));
    if (n > 0xFFFFFF) return Status::NotSupported("page number beyond a row pointer's reach");
    f->page.Reset(f->owner);
    f->number = n;
    f->active = true;
    KP_RETURN_IF_ERROR(f->owned.Add(n));
    KP_RETURN_IF_ERROR(f->free.Add(n));
  }
  uint8_t r = 0;
  KP_RETURN_IF_ERROR(f->page.AddRow(row, &r));
  *pointer = MakePointer(f->number, r);
  return Status::OK();
}

Status TableAppender::AddLongValueRow(const ColumnDef& column, const Bytes& row, uint32_t* pointer) {
  auto it = long_values_.find(column.number);
  if (it == long_values_.end()) {
    return Status::InvalidArgument(ColumnLabel(column) + " does not hold long values");
  }
  if (row.size() > kLongValueRowMax) {
    return Status::InvalidArgument(ColumnLabel(column) + ": LVAL row of " + std::to_string(row.size()) + " bytes");
  }
  return Place(it->second.get(), row, pointer);
}

Status TableAppender::Append(const Row& row) {
  if (damaged_) return Status::InvalidArgument("table " + Utf16ToUtf8(def_.name) + " is damaged by an earlier failure");
  if (row.size() != def_.columns.size()) return Status::InvalidArgument("row with a wrong number of values");
  for (Index& ix : indexes_) KP_RETURN_IF_ERROR(PrepareEntry(row, &ix));
  for (Reference& r : references_) KP_RETURN_IF_ERROR(CheckReference(row, &r));
  KP_RETURN_IF_ERROR(encoder_.Encode(row, this, &encoded_));
  uint32_t pointer = 0;
  KP_RETURN_IF_ERROR(Place(&rows_, encoded_, &pointer));
  ++row_count_;
  for (Index& ix : indexes_) {
    if (ix.skip) continue;
    AppendIndexRowPointer(pointer >> 8, uint8_t(pointer & 0xFF), &ix.entry);
    bool new_key = false;
    Status s = ix.tree->Insert(ix.entry, &new_key);
    if (!s.ok()) {
      damaged_ = true;
      return s;
    }
    if (new_key) ++ix.unique_count;
  }
  if (autonumber_column_ >= 0 && !row[size_t(autonumber_column_)].is_null()) {
    const int64_t v = row[size_t(autonumber_column_)].i;
    if (v > int64_t(autonumber_)) autonumber_ = uint32_t(v);
  }
  return Status::OK();
}

Status TableAppender::Sync() {
  auto sync = [&](Filler* f) -> Status {
    if (!f->active) return Status::OK();
    if (f->page.free_space() == 0 || f->page.row_count() >= kMaxRowsPerDataPage) {
      KP_RETURN_IF_ERROR(f->free.Remove(f->number));
    }
    return pager_->Put(f->number, f->page.page().data(), WriteClass::kRows);
  };
  KP_RETURN_IF_ERROR(sync(&rows_));
  for (auto& [number, f] : long_values_) KP_RETURN_IF_ERROR(sync(f.get()));
  for (Index& ix : indexes_) {
    KP_RETURN_IF_ERROR(ix.tree->Sync());
    KP_RETURN_IF_ERROR(PutUniqueCount(ix.physical, ix.unique_count));
  }
  uint8_t* tdef = nullptr;
  KP_RETURN_IF_ERROR(pager_->Get(def_.tdef_page, &tdef));
  if (GetU32(tdef + kTdefRowCountOffset) != row_count_ || GetU32(tdef + kTdefAutonumberOffset) != autonumber_) {
    PutU32(tdef + kTdefRowCountOffset, row_count_);     // row count
    PutU32(tdef + kTdefAutonumberOffset, autonumber_);  // last autonumber
    pager_->MarkDirty(def_.tdef_page, WriteClass::kDefinition);
  }
  return Status::OK();
}

}  // namespace kp::jet
