#include "export/jet/tdef_read.h"

#include <algorithm>
#include <set>

#include "export/jet/format.h"
#include "export/jet/page_file.h"

namespace kp::jet {

namespace {

// Reads a u16-length-prefixed UCS-2LE name.
bool ReadName(ByteReader* r, std::u16string* name) {
  const uint16_t n = r->U16();
  const uint8_t* p = r->Take(n);
  if (p == nullptr) return false;
  name->clear();
  for (size_t i = 0; i + 1 < n; i += 2) name->push_back(char16_t(GetU16(p + i)));
  return true;
}

}  // namespace

Status ReadTableDef(const PageFile& file, uint32_t tdef_page, TableDef* def, TdefLayout* layout) {
  TdefLayout local;
  if (layout == nullptr) layout = &local;
  *layout = TdefLayout();
  const std::string where = "TDEF at page " + std::to_string(tdef_page);

  // Gather the logical buffer.
  Bytes& buf = layout->logical;
  std::set<uint32_t> seen;
  uint32_t page_number = tdef_page;
  while (true) {
    if (!seen.insert(page_number).second) {
      return Status::Corruption(where + ": the TDEF page chain loops back to page " + std::to_string(page_number));
    }
    const uint8_t* page = nullptr;
    KP_RETURN_IF_ERROR(file.CheckedPage(page_number, kPageTypeTdef, "table definition", &page));
    layout->pages.push_back(page_number);
    if (buf.empty()) {
      buf.assign(page, page + kPageSize);
    } else {
      buf.insert(buf.end(), page + kTdefPageHeaderBytes, page + kPageSize);
    }
    const uint32_t next = GetU32(page + kTdefNextPageOffset);
    if (next == 0) break;
    page_number = next;
  }

  const uint32_t tdef_len = GetU32(buf.data() + kTdefLengthOffset);
  if (tdef_len < kTdefHeaderBytes || tdef_len > buf.size()) {
    return Status::Corruption(where + ": length " + std::to_string(tdef_len) + " does not fit its " +
                              std::to_string(layout->pages.size()) + " page(s)");
  }
  layout->tdef_len = tdef_len;
  buf.resize(tdef_len);

  ByteReader r(buf.data(), buf.size());
  *def = TableDef();
  def->tdef_page = tdef_page;
  r.Seek(kTdefRowCountOffset);
  def->row_count = r.U32();
  def->autonumber = r.U32();
  r.Seek(kTdefTableTypeOffset);
  def->table_type = r.U8();
  def->max_cols = r.U16();
  const uint16_t var_cols = r.U16();
  const uint16_t num_cols = r.U16();
  const uint32_t num_logical = r.U32();
  const uint32_t num_physical = r.U32();
  def->owned_map = r.U32();
  def->free_map = r.U32();
  // Every count is bounded by the bytes it needs, so a hostile count cannot
  // make a huge allocation.
  if (uint64_t(num_physical) * (kTdefIndexCountBlockBytes + kTdefPhysicalIndexBytes) +
          uint64_t(num_cols) * kTdefColumnBytes + uint64_t(num_logical) * kTdefLogicalIndexBytes >
      tdef_len) {
    return Status::Corruption(where + ": " + std::to_string(num_cols) + " columns and " +
                              std::to_string(num_physical) + "/" + std::to_string(num_logical) +
                              " indexes do not fit " + std::to_string(tdef_len) + " bytes");
  }

  def->physical_indexes.resize(num_physical);
  for (auto& pi : def->physical_indexes) {
    r.Skip(kTdefIndexCountUniqueOffset);
    pi.unique_count = r.U32();
    r.Skip(kTdefIndexCountBlockBytes - kTdefIndexCountUniqueOffset - 4);
  }

  std::vector<ColumnDef> columns(num_cols);
  for (auto& c : columns) {
    const uint8_t* d = r.Take(kTdefColumnBytes);
    if (d == nullptr) break;
    c.type = ColumnType(d[kColumnTypeOffset]);
    c.number = GetU16(d + kColumnNumberOffset);
    c.var_index = GetU16(d + kColumnVarIndexOffset);
    std::copy(d + kColumnMiscOffset, d + kColumnMiscOffset + 4, c.misc);
    c.flags = d[kColumnFlagsOffset];
    c.ext_flags = d[kColumnExtFlagsOffset];
    c.fixed_offset = GetU16(d + kColumnFixedOffsetOffset);
    c.length = GetU16(d + kColumnLengthOffset);
  }
  for (auto& c : columns) {
    if (!ReadName(&r, &c.name)) break;
  }
  if (!r.ok()) return Status::Corruption(where + ": column descriptors or names run past its length");

  for (auto& pi : def->physical_indexes) {
    const uint8_t* d = r.Take(kTdefPhysicalIndexBytes);
    if (d == nullptr) break;
    pi.raw.assign(d, d + kTdefPhysicalIndexBytes);
    for (size_t s = 0; s < kPhysicalIndexColumnSlots; ++s) {
      const uint8_t* slot = d + kPhysicalIndexColumnsOffset + 3 * s;
      const uint16_t col = GetU16(slot);
      if (col == kPhysicalIndexUnusedColumn) continue;
      pi.columns.push_back(IndexColumn{col, slot[2]});
    }
    pi.usage_map = GetU32(d + kPhysicalIndexUsageMapOffset);
    pi.root_page = GetU32(d + kPhysicalIndexRootOffset);
    pi.flags = d[kPhysicalIndexFlagsOffset];
  }
  def->logical_indexes.resize(num_logical);
  for (auto& li : def->logical_indexes) {
    const uint8_t* d = r.Take(kTdefLogicalIndexBytes);
    if (d == nullptr) break;
    li.raw.assign(d, d + kTdefLogicalIndexBytes);
    li.number = GetU32(d + kLogicalIndexNumberOffset);
    li.physical_index = GetU32(d + kLogicalIndexPhysicalOffset);
    li.kind = d[kLogicalIndexKindOffset];
  }
  for (auto& li : def->logical_indexes) {
    if (!ReadName(&r, &li.name)) break;
  }
  if (!r.ok()) return Status::Corruption(where + ": index definitions run past its length");
  for (const auto& li : def->logical_indexes) {
    if (li.physical_index >= num_physical) {
      return Status::Corruption(where + ": logical index " + std::to_string(li.number) + " names physical index " +
                                std::to_string(li.physical_index) + " of " + std::to_string(num_physical));
    }
  }

  // Memo/OLE usage maps, then the terminator.
  while (true) {
    const size_t at = r.pos();
    const uint16_t col = r.U16();
    if (!r.ok()) return Status::Corruption(where + ": no FF FF terminator within its length");
    if (col == kTdefTerminator) {
      layout->terminator_offset = at;
      break;
    }
    LongValueMaps m;
    m.column_number = col;
    m.owned_map = r.U32();
    m.free_map = r.U32();
    if (!r.ok()) return Status::Corruption(where + ": memo usage-map list runs past its length");
    def->long_value_maps.push_back(m);
  }

  std::sort(columns.begin(), columns.end(),
            [](const ColumnDef& a, const ColumnDef& b) { return a.number < b.number; });
  for (size_t i = 0; i < columns.size(); ++i) {
    const ColumnDef& c = columns[i];
    if (i > 0 && columns[i - 1].number == c.number) {
      return Status::Corruption(where + ": two columns numbered " + std::to_string(c.number));
    }
    if (c.number >= def->max_cols) {
      return Status::Corruption(where + ": column number " + std::to_string(c.number) + " not below max columns " +
                                std::to_string(def->max_cols));
    }
    if (!c.is_fixed() && c.var_index >= var_cols) {
      return Status::Corruption(where + ": variable index " + std::to_string(c.var_index) + " of column " +
                                std::to_string(c.number) + " not below " + std::to_string(var_cols));
    }
  }
  def->columns = std::move(columns);
  return Status::OK();
}

}  // namespace kp::jet
