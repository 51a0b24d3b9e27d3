#include "jet/tdef_read.h"

#include <algorithm>
#include <set>
#include <string>

#include "jet/format.h"
#include "jet/page_file.h"

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

// Gathers the logical buffer of the TDEF at `tdef_page` into
// `layout->logical` (tdef_len bytes), following its page chain.
Status GatherTdef(const PageFile& file, uint32_t tdef_page, const std::string& where,
                  TdefLayout* layout) {
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
  return Status::OK();
}

// The counts of the TDEF header that the definition itself does not keep.
struct TdefCounts {
  uint16_t variable_columns = 0;
  uint16_t columns = 0;
  uint32_t logical_indexes = 0;
};

// Reads the header and the unique key count of each physical index.
Status ReadHeader(ByteReader* r, const std::string& where, uint32_t tdef_len, TableDef* def,
                  TdefCounts* counts) {
  r->Seek(kTdefRowCountOffset);
  def->row_count = r->U32();
  def->autonumber = r->U32();
  r->Seek(kTdefTableTypeOffset);
  def->table_type = r->U8();
  def->max_cols = r->U16();
  const uint16_t var_cols = r->U16();
  const uint16_t num_cols = r->U16();
  const uint32_t num_logical = r->U32();
  const uint32_t num_physical = r->U32();
  def->owned_map = r->U32();
  def->free_map = r->U32();
  // Every count is bounded by the bytes it needs, so a hostile count cannot
  // make a huge allocation.
  if (uint64_t(num_physical) * (kTdefIndexCountBlockBytes + kTdefPhysicalIndexBytes) +
          uint64_t(num_cols) * kTdefColumnBytes + uint64_t(num_logical) * kTdefLogicalIndexBytes >
      tdef_len) {
    return Status::Corruption(where + ": " + std::to_string(num_cols) + " columns and " +
                              std::to_string(num_physical) + "/" + std::to_string(num_logical) +
                              " indexes do not fit " + std::to_string(tdef_len) + " bytes");
  }
  counts->variable_columns = var_cols;
  counts->columns = num_cols;
  counts->logical_indexes = num_logical;

  def->physical_indexes.resize(num_physical);
  for (auto& pi : def->physical_indexes) {
    r->Skip(kTdefIndexCountUniqueOffset);
    pi.unique_count = r->U32();
    r->Skip(kTdefIndexCountBlockBytes - kTdefIndexCountUniqueOffset - 4);
  }
  return Status::OK();
}

// Reads `count` column descriptors, then their names.
Status ReadColumns(ByteReader* r, const std::string& where, uint16_t count,
                   std::vector<ColumnDef>* out) {
  std::vector<ColumnDef>& columns = *out;
  columns.resize(count);
  for (auto& c : columns) {
    const uint8_t* d = r->Take(kTdefColumnBytes);
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
    if (!ReadName(r, &c.name)) break;
  }
  if (!r->ok())
    return Status::Corruption(where + ": column descriptors or names run past its length");
  return Status::OK();
}

// Reads the physical index blocks, then `logical_count` logical index blocks
// and their names.
Status ReadIndexes(ByteReader* r, const std::string& where, uint32_t logical_count, TableDef* def) {
  for (auto& pi : def->physical_indexes) {
    const uint8_t* d = r->Take(kTdefPhysicalIndexBytes);
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
  def->logical_indexes.resize(logical_count);
  for (auto& li : def->logical_indexes) {
    const uint8_t* d = r->Take(kTdefLogicalIndexBytes);
    if (d == nullptr) break;
    li.raw.assign(d, d + kTdefLogicalIndexBytes);
    li.number = GetU32(d + kLogicalIndexNumberOffset);
    li.physical_index = GetU32(d + kLogicalIndexPhysicalOffset);
    li.kind = d[kLogicalIndexKindOffset];
  }
  for (auto& li : def->logical_indexes) {
    if (!ReadName(r, &li.name)) break;
  }
  if (!r->ok()) return Status::Corruption(where + ": index definitions run past its length");
  const size_t num_physical = def->physical_indexes.size();
  for (const auto& li : def->logical_indexes) {
    if (li.physical_index >= num_physical) {
      return Status::Corruption(where + ": logical index " + std::to_string(li.number) + " names physical index " +
                                std::to_string(li.physical_index) + " of " + std::to_string(num_physical));
    }
  }
  return Status::OK();
}

// Reads the memo/OLE usage maps up to the FF FF terminator (its offset to
// `terminator_offset`).
Status ReadLongValueMaps(ByteReader* r, const std::string& where, TableDef* def,
                         size_t* terminator_offset) {
  while (true) {
    const size_t at = r->pos();
    const uint16_t col = r->U16();
    if (!r->ok()) return Status::Corruption(where + ": no FF FF terminator within its length");
    if (col == kTdefTerminator) {
      *terminator_offset = at;
      return Status::OK();
    }
    LongValueMaps m;
    m.column_number = col;
    m.owned_map = r->U32();
    m.free_map = r->U32();
    if (!r->ok()) return Status::Corruption(where + ": memo usage-map list runs past its length");
    def->long_value_maps.push_back(m);
  }
}

// Sorts `columns` by number and checks their numbers and variable indexes.
Status SortColumns(const std::string& where, const TableDef& def, uint16_t var_cols,
                   std::vector<ColumnDef>* columns_inout) {
  std::vector<ColumnDef>& columns = *columns_inout;
  std::sort(columns.begin(), columns.end(),
            [](const ColumnDef& a, const ColumnDef& b) { return a.number < b.number; });
  for (size_t i = 0; i < columns.size(); ++i) {
    const ColumnDef& c = columns[i];
    if (i > 0 && columns[i - 1].number == c.number) {
      return Status::Corruption(where + ": two columns numbered " + std::to_string(c.number));
    }
    if (c.number >= def.max_cols) {
      return Status::Corruption(where + ": column number " + std::to_string(c.number) +
                                " not below max columns " + std::to_string(def.max_cols));
    }
    if (!c.is_fixed() && c.var_index >= var_cols) {
      return Status::Corruption(where + ": variable index " + std::to_string(c.var_index) + " of column " +
                                std::to_string(c.number) + " not below " + std::to_string(var_cols));
    }
  }
  return Status::OK();
}

}  // namespace

Status ReadTableDef(const PageFile& file, uint32_t tdef_page, TableDef* def, TdefLayout* layout) {
  TdefLayout local;
  if (layout == nullptr) layout = &local;
  *layout = TdefLayout();
  const std::string where = "TDEF at page " + std::to_string(tdef_page);
  KP_RETURN_IF_ERROR(GatherTdef(file, tdef_page, where, layout));

  // The sections of the buffer, in their order.
  const Bytes& buf = layout->logical;
  ByteReader r(buf.data(), buf.size());
  *def = TableDef();
  def->tdef_page = tdef_page;
  TdefCounts counts;
  KP_RETURN_IF_ERROR(ReadHeader(&r, where, layout->tdef_len, def, &counts));
  std::vector<ColumnDef> columns;
  KP_RETURN_IF_ERROR(ReadColumns(&r, where, counts.columns, &columns));
  KP_RETURN_IF_ERROR(ReadIndexes(&r, where, counts.logical_indexes, def));
  KP_RETURN_IF_ERROR(ReadLongValueMaps(&r, where, def, &layout->terminator_offset));

  KP_RETURN_IF_ERROR(SortColumns(where, *def, counts.variable_columns, &columns));
  def->columns = std::move(columns);
  return Status::OK();
}

}  // namespace kp::jet
