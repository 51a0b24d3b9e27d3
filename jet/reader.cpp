#include "jet/reader.h"

#include <set>

#include "base/text_util.h"
#include "jet/format.h"
#include "jet/props.h"
#include "jet/row_read.h"
#include "jet/tdef_read.h"
#include "jet/usage_map.h"

namespace kp::jet {

namespace {

std::u16string AsciiLower(const std::u16string& s) {
  std::u16string out = s;
  for (auto& c : out) {
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  }
  return out;
}

int ColumnIndex(const TableDef& def, const char16_t* name) {
  for (size_t i = 0; i < def.columns.size(); ++i) {
    if (def.columns[i].name == name) return int(i);
  }
  return -1;
}

}  // namespace

Status DatabaseReader::Open(const std::string& path, std::unique_ptr<DatabaseReader>* out) {
  std::unique_ptr<DatabaseReader> r(new DatabaseReader());
  KP_RETURN_IF_ERROR(PageFile::Open(path, &r->file_));
  Status s = r->Load();
  if (!s.ok()) return s.WithContext(path);
  *out = std::move(r);
  return Status::OK();
}

Status DatabaseReader::OpenMapped(const std::string& path, std::unique_ptr<DatabaseReader>* out) {
  std::unique_ptr<DatabaseReader> r(new DatabaseReader());
  KP_RETURN_IF_ERROR(PageFile::OpenMapped(path, &r->file_));
  Status s = r->Load();
  if (!s.ok()) return s.WithContext(path);
  *out = std::move(r);
  return Status::OK();
}

Status DatabaseReader::OpenBytes(Bytes image, std::unique_ptr<DatabaseReader>* out) {
  std::unique_ptr<DatabaseReader> r(new DatabaseReader());
  KP_RETURN_IF_ERROR(PageFile::FromBytes(std::move(image), &r->file_));
  KP_RETURN_IF_ERROR(r->Load());
  *out = std::move(r);
  return Status::OK();
}

Status DatabaseReader::Load() {
  const uint8_t* page0 = nullptr;
  KP_RETURN_IF_ERROR(file_->CheckedPage(kHeaderPageNumber, kPageTypeHeader, "database header", &page0));
  KP_RETURN_IF_ERROR(DecodeHeader(page0, &header_));
  KP_RETURN_IF_ERROR(CheckHeaderSupported(header_));
  Status s = kp::jet::ReadTableDef(*file_, kCatalogTdefPage, &catalog_def_);
  if (!s.ok()) return s.WithContext("MSysObjects");
  catalog_def_.name = u"MSysObjects";
  const int id = ColumnIndex(catalog_def_, u"Id"), parent = ColumnIndex(catalog_def_, u"ParentId"),
            name = ColumnIndex(catalog_def_, u"Name"), type = ColumnIndex(catalog_def_, u"Type"),
            flags = ColumnIndex(catalog_def_, u"Flags"), created = ColumnIndex(catalog_def_, u"DateCreate"),
            updated = ColumnIndex(catalog_def_, u"DateUpdate"), owner = ColumnIndex(catalog_def_, u"Owner"),
            props = ColumnIndex(catalog_def_, u"LvProp");
  if (id < 0 || parent < 0 || name < 0 || type < 0 || flags < 0) {
    return Status::Corruption("MSysObjects (page 2) lacks one of Id, ParentId, Name, Type, Flags");
  }
  catalog_.clear();
  return ForEachRow(catalog_def_, [&](uint32_t pointer, const Row& row) {
    CatalogEntry e;
    e.id = int32_t(row[id].i);
    e.parent_id = int32_t(row[parent].i);
    e.name = row[name].text;
    e.type = int16_t(row[type].i);
    e.flags = int32_t(row[flags].i);
    if (created >= 0) e.date_create = row[created].d;
    if (updated >= 0) e.date_update = row[updated].d;
    if (owner >= 0) e.owner = row[owner].binary;
    if (props >= 0 && !row[props].is_null()) e.lv_prop = row[props].binary;
    e.row_pointer = pointer;
    e.row = row;
    catalog_.push_back(std::move(e));
    return Status::OK();
  });
}

std::vector<CatalogEntry> DatabaseReader::ListTables(bool include_system) const {
  std::vector<CatalogEntry> out;
  for (const auto& e : catalog_) {
    if (e.is_table() && (include_system || !e.is_system())) out.push_back(e);
  }
  return out;
}

const CatalogEntry* DatabaseReader::FindTable(const std::u16string& name) const {
  for (const auto& e : catalog_) {
    if (e.is_table() && e.name == name) return &e;
  }
  const std::u16string lower = AsciiLower(name);
  for (const auto& e : catalog_) {
    if (e.is_table() && AsciiLower(e.name) == lower) return &e;
  }
  return nullptr;
}

Status DatabaseReader::ReadTableDef(const std::u16string& name, TableDef* def) const {
  const CatalogEntry* e = FindTable(name);
  if (e == nullptr) {
    return Status::NotFound("no table named " + Utf16ToUtf8(name));
  }
  Status s = kp::jet::ReadTableDef(*file_, e->tdef_page(), def);
  if (!s.ok()) return s;
  def->name = e->name;
  if (!e->lv_prop.empty()) {
    s = ParsePropertyBlob(e->lv_prop.data(), e->lv_prop.size(), &def->properties);
    if (!s.ok()) return s.WithContext("properties of table");
  }
  return Status::OK();
}

Status DatabaseReader::ReadTableDefAt(uint32_t tdef_page, TableDef* def) const {
  for (const auto& e : catalog_) {
    if (e.is_table() && e.tdef_page() == tdef_page) return ReadTableDef(e.name, def);
  }
  return kp::jet::ReadTableDef(*file_, tdef_page, def);
}

Status DatabaseReader::ReadUsageMap(uint32_t pointer, std::vector<uint32_t>* pages) const {
  const uint8_t* data;
  size_t size;
  Status s = ReadRowBytes(*file_, PointerPage(pointer), PointerRow(pointer), &data, &size);
  if (!s.ok()) return s.WithContext("usage map " + Hex(pointer));
  std::set<uint32_t> set;
  s = DecodeUsageMap(data, size, file_.get(), &set);
  if (!s.ok()) return s.WithContext("usage map " + Hex(pointer));
  pages->assign(set.begin(), set.end());
  return Status::OK();
}

Status DatabaseReader::OwnedPages(const TableDef& def, std::vector<uint32_t>* pages) const {
  return ReadUsageMap(def.owned_map, pages);
}

Status DatabaseReader::ForEachRow(const TableDef& def, const RowCallback& fn) const {
  std::vector<uint32_t> pages;
  KP_RETURN_IF_ERROR(OwnedPages(def, &pages));
  Row row;
  for (uint32_t page_number : pages) {
    const uint8_t* page = file_->Page(page_number);
    if (page == nullptr) {
      return Status::Corruption("owned-pages map of table at page " + std::to_string(def.tdef_page) +
                                " names page " + std::to_string(page_number) + ", past the end of the file");
    }
    // Pages the map lists that are not this table's data pages hold none of
    // its rows (the checker reports them).
    if (page[0] != kPageTypeData || GetU32(page + kDataOwnerOffset) != def.tdef_page) continue;
    uint16_t count;
    KP_RETURN_IF_ERROR(DataPageRowCount(page, page_number, &count));
    for (uint16_t r = 0; r < count; ++r) {
      RowSlot slot;
      KP_RETURN_IF_ERROR(DataPageRowSlot(page, page_number, r, &slot));
      if (slot.deleted) continue;
      uint32_t at_page = page_number;
      uint8_t at_row = uint8_t(r);
      const uint8_t* data = page + slot.start;
      size_t size = slot.end - slot.start;
      std::set<uint32_t> seen;
      while (slot.overflow) {
        if (size < 4) {
          return Status::Corruption("page " + std::to_string(at_page) + " row " + std::to_string(at_row) +
                                    ": overflow pointer of " + std::to_string(size) + " bytes");
        }
        const uint8_t next_row = data[0];
        const uint32_t next_page = GetU24(data + 1);
        if (!seen.insert(MakePointer(next_page, next_row)).second || seen.size() > 16) {
          return Status::Corruption("page " + std::to_string(page_number) + " row " + std::to_string(r) +
                                    ": overflow pointers loop");
        }
        Status s = ReadRowBytes(*file_, next_page, next_row, &data, &size, &slot);
        if (!s.ok()) return s.WithContext("overflow row of page " + std::to_string(page_number) + " row " +
                                          std::to_string(r));
        at_page = next_page;
        at_row = next_row;
      }
      Status s = DecodeRow(*file_, def, data, size, &row);
      if (!s.ok()) return s.WithContext("page " + std::to_string(at_page) + " row " + std::to_string(at_row));
      KP_RETURN_IF_ERROR(fn(MakePointer(page_number, uint8_t(r)), row));
    }
  }
  return Status::OK();
}

Status DatabaseReader::ReadRows(const TableDef& def, std::vector<Row>* rows) const {
  rows->clear();
  return ForEachRow(def, [rows](uint32_t, const Row& row) {
    rows->push_back(row);
    return Status::OK();
  });
}

}  // namespace kp::jet
