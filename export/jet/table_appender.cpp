#include "export/jet/table_appender.h"

#include "export/jet/format.h"
#include "export/jet/values.h"

namespace kp::jet {

Status TableAppender::Open(Pager* pager, const TableDef& def, std::unique_ptr<TableAppender>* result) {
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
  KP_RETURN_IF_ERROR(encoder_.Encode(row, this, &encoded_));
  uint32_t pointer = 0;
  KP_RETURN_IF_ERROR(Place(&rows_, encoded_, &pointer));
  ++row_count_;
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
