#include "jet/tdef_write.h"

#include <algorithm>
#include <numeric>

#include "jet/format.h"

namespace kp::jet {

namespace {

constexpr size_t kMaxColumns = 255;
constexpr size_t kMaxNameChars = 64;

// Case-insensitive (ASCII) name order, used for the engine's catalog tables.
bool NameLess(const std::u16string& a, const std::u16string& b) {
  auto fold = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; };
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [&](char16_t x, char16_t y) { return fold(x) < fold(y); });
}

void AppendName(Bytes* b, const std::u16string& name) {
  AppendU16(b, uint16_t(name.size() * 2));  // byte length
  for (char16_t c : name) AppendU16(b, uint16_t(c));
}

// The limits a definition must keep to be written.
Status CheckLimits(const TableDef& def) {
  if (def.physical_indexes.size() > 1000 || def.logical_indexes.size() > 1000) {
    return Status::InvalidArgument("too many indexes");
  }
  if (def.columns.empty() || def.columns.size() > kMaxColumns) {
    return Status::InvalidArgument("a table has 1 to 255 columns, not " + std::to_string(def.columns.size()));
  }
  for (const auto& c : def.columns) {
    if (c.name.empty() || c.name.size() > kMaxNameChars) {
      return Status::InvalidArgument("column names have 1 to 64 characters");
    }
  }
  for (const auto& l : def.logical_indexes) {
    if (l.name.empty() || l.name.size() > kMaxNameChars) {
      return Status::InvalidArgument("index names have 1 to 64 characters");
    }
  }
  return Status::OK();
}

// The order the column descriptors (`cols`) and logical indexes (`lidx`)
// are written in, as indexes into def.columns / def.logical_indexes.
void DescriptorOrder(const TableDef& def, const TdefWriteOptions& options,
                     std::vector<size_t>* cols, std::vector<size_t>* lidx) {
  cols->resize(def.columns.size());
  std::iota(cols->begin(), cols->end(), 0);
  lidx->resize(def.logical_indexes.size());
  std::iota(lidx->begin(), lidx->end(), 0);
  if (options.alphabetical) {
    std::stable_sort(cols->begin(), cols->end(), [&](size_t a, size_t b) {
      return NameLess(def.columns[a].name, def.columns[b].name);
    });
    std::stable_sort(lidx->begin(), lidx->end(), [&](size_t a, size_t b) {
      return NameLess(def.logical_indexes[a].name, def.logical_indexes[b].name);
    });
  } else {
    std::stable_sort(cols->begin(), cols->end(), [&](size_t a, size_t b) {
      return def.columns[a].number < def.columns[b].number;
    });
    std::stable_sort(lidx->begin(), lidx->end(), [&](size_t a, size_t b) {
      return def.logical_indexes[a].number < def.logical_indexes[b].number;
    });
  }
}

// The 63-byte header (tdef_len left 0), then the unique key counts.
void AppendHeader(const TableDef& def, Bytes* out) {
  Bytes& b = *out;
  b.assign(63, 0);
  b[0] = 0x02;  // page type: TDEF
  b[1] = 0x01;
  PutU32(&b[12], kTdefConstant);
  PutU32(&b[16], def.row_count);   // row count
  PutU32(&b[20], def.autonumber);  // last autonumber
  b[24] = 0x01;
  b[40] = def.table_type;                             // table type
  uint16_t max_cols = def.max_cols;
  for (const auto& c : def.columns) max_cols = std::max<uint16_t>(max_cols, uint16_t(c.number + 1));
  PutU16(&b[41], max_cols);                           // max column count
  PutU16(&b[43], def.variable_column_count());        // variable columns
  PutU16(&b[45], uint16_t(def.columns.size()));       // columns
  PutU32(&b[47], uint32_t(def.logical_indexes.size()));
  PutU32(&b[51], uint32_t(def.physical_indexes.size()));
  PutU32(&b[55], def.owned_map);                      // owned-pages map
  PutU32(&b[59], def.free_map);                       // free-space map

  for (const auto& pi : def.physical_indexes) {  // unique key counts
    AppendU32(&b, 0);
    AppendU32(&b, pi.unique_count);
    AppendU32(&b, 0);
  }
}

// The column descriptors in `cols` order, then their names.
void AppendColumns(const TableDef& def, const std::vector<size_t>& cols,
                   const TdefWriteOptions& options, Bytes* out) {
  Bytes& b = *out;
  for (size_t k : cols) {  // column descriptors
    const ColumnDef& c = def.columns[k];
    AppendU8(&b, uint8_t(c.type));
    AppendU32(&b, kTdefConstant);
    AppendU16(&b, c.number);
    AppendU16(&b, c.var_index);
    AppendU16(&b, options.alphabetical ? 0 : c.number);
    AppendBytes(&b, c.misc, 4);  // sort order or precision/scale
    AppendU8(&b, c.flags);
    AppendU8(&b, c.ext_flags);
    AppendU32(&b, 0);
    AppendU16(&b, c.is_fixed() ? c.fixed_offset : 0);
    AppendU16(&b, c.length);
  }
  for (size_t k : cols) AppendName(&b, def.columns[k].name);
}

// The physical index blocks, then the logical index blocks in `lidx` order
// and their names.
Status AppendIndexes(const TableDef& def, const std::vector<size_t>& lidx, Bytes* out) {
  Bytes& b = *out;
  for (const auto& pi : def.physical_indexes) {  // physical index blocks
    if (pi.columns.size() > kPhysicalIndexColumnSlots) return Status::InvalidArgument("index with more than 10 columns");
    AppendU32(&b, kTdefPhysicalIndexConstant);
    for (size_t i = 0; i < kPhysicalIndexColumnSlots; ++i) {
      if (i < pi.columns.size()) {
        AppendU16(&b, pi.columns[i].column_number);
        AppendU8(&b, pi.columns[i].flags);
      } else {
        AppendU16(&b, 0xFFFF);  // unused slot
        AppendU8(&b, 0);
      }
    }
    AppendU32(&b, pi.usage_map);
    AppendU32(&b, pi.root_page);
    AppendU32(&b, 0);
    AppendU8(&b, pi.flags);
    for (int i = 0; i < 5; ++i) AppendU8(&b, 0);
  }
  for (size_t k : lidx) {  // logical index blocks
    const LogicalIndex& li = def.logical_indexes[k];
    AppendU32(&b, kTdefConstant);
    AppendU32(&b, li.number);
    AppendU32(&b, li.physical_index);
    if (li.kind == 2 && li.raw.size() == 28) {
      AppendBytes(&b, li.raw.data() + 12, 16);  // a foreign key keeps its relation fields
      continue;
    }
    AppendU8(&b, 0);            // foreign-key type
    AppendU32(&b, 0xFFFFFFFFu); // related index
    AppendU32(&b, 0);           // related table page
    AppendU8(&b, 0x04);         // cascade bytes as Access writes them
    AppendU8(&b, 0x04);
    AppendU8(&b, li.kind);
    AppendU32(&b, 0);
  }
  for (size_t k : lidx) AppendName(&b, def.logical_indexes[k].name);
  return Status::OK();
}

// The usage maps of the memo/OLE columns that have them, in `cols` order.
void AppendLongValueMaps(const TableDef& def, const std::vector<size_t>& cols, Bytes* out) {
  for (size_t k : cols) {
    const ColumnDef& c = def.columns[k];
    if (!c.is_long_value()) continue;
    const LongValueMaps* maps = nullptr;
    for (const auto& m : def.long_value_maps) {
      if (m.column_number == c.number) maps = &m;
    }
    if (maps == nullptr) continue;
    AppendU16(out, c.number);
    AppendU32(out, maps->owned_map);
    AppendU32(out, maps->free_map);
  }
}

}  // namespace

Status EncodeTableDef(const TableDef& def, const TdefWriteOptions& options, Bytes* logical) {
  KP_RETURN_IF_ERROR(CheckLimits(def));
  std::vector<size_t> cols, lidx;
  DescriptorOrder(def, options, &cols, &lidx);

  Bytes& b = *logical;
  AppendHeader(def, &b);
  AppendColumns(def, cols, options, &b);
  KP_RETURN_IF_ERROR(AppendIndexes(def, lidx, &b));
  AppendLongValueMaps(def, cols, &b);
  AppendU16(&b, 0xFFFF);  // terminator
  if (b.size() > 0xFFFFFF) return Status::InvalidArgument("table definition is too large");
  PutU32(&b[8], uint32_t(b.size()));  // tdef_len
  return Status::OK();
}

size_t TableDefPageCount(size_t size) {
  if (size <= kPageSize) return 1;
  return 1 + (size - kPageSize + (kPageSize - kTdefPageHeaderBytes) - 1) / (kPageSize - kTdefPageHeaderBytes);
}

Status SplitTableDef(const Bytes& logical, const std::vector<uint32_t>& page_numbers,
                     std::vector<Bytes>* pages) {
  if (logical.size() < 63) return Status::InvalidArgument("table definition too short");
  const size_t count = TableDefPageCount(logical.size());
  if (page_numbers.size() != count) {
    return Status::InvalidArgument("table definition needs " + std::to_string(count) + " pages, got " +
                                   std::to_string(page_numbers.size()));
  }
  pages->assign(count, Bytes(kPageSize, 0));
  size_t pos = 0;
  for (size_t i = 0; i < count; ++i) {
    Bytes& p = (*pages)[i];
    size_t at = 0;
    if (i == 0) {
      const size_t n = std::min(kPageSize, logical.size());
      std::copy(logical.begin(), logical.begin() + n, p.begin());
      pos = n;
      at = n;
    } else {
      const size_t n = std::min(kPageSize - kTdefPageHeaderBytes, logical.size() - pos);
      std::copy(logical.begin() + pos, logical.begin() + pos + n, p.begin() + kTdefPageHeaderBytes);
      pos += n;
      at = kTdefPageHeaderBytes + n;
    }
    p[0] = 0x02;  // page type: TDEF
    p[1] = 0x01;
    const size_t left = kPageSize - at;
    const size_t free = count == 1 ? (logical.size() + kTdefPageHeaderBytes <= kPageSize ? kPageSize - kTdefPageHeaderBytes - logical.size() : 0)
                                   : (left > kTdefPageHeaderBytes ? left - kTdefPageHeaderBytes : 0);
    PutU16(&p[2], uint16_t(free));                                           // free space
    PutU32(&p[4], i + 1 < count ? page_numbers[i + 1] : 0);                  // next page
  }
  return Status::OK();
}

void PlaceColumns(std::vector<ColumnDef>* columns) {
  uint16_t var_count = 0;
  uint16_t fixed_offset = 0;
  for (size_t i = 0; i < columns->size(); ++i) {
    ColumnDef& c = (*columns)[i];
    c.number = uint16_t(i);
    if (c.is_fixed()) {
      c.var_index = var_count;  // variable columns before this one
      c.fixed_offset = c.type == ColumnType::kBoolean ? 0 : fixed_offset;
      if (c.type != ColumnType::kBoolean) fixed_offset = uint16_t(fixed_offset + c.length);
    } else {
      c.var_index = var_count++;
      c.fixed_offset = 0;
    }
  }
}

Status AssignColumnLayout(TableDef* def) {
  if (def->columns.empty() || def->columns.size() > kMaxColumns) {
    return Status::InvalidArgument("a table has 1 to 255 columns");
  }
  for (size_t i = 0; i < def->columns.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (!NameLess(def->columns[i].name, def->columns[j].name) &&
          !NameLess(def->columns[j].name, def->columns[i].name)) {
        return Status::InvalidArgument("two columns have the same name");
      }
    }
  }
  for (ColumnDef& c : def->columns) {
    c.misc[0] = 0x09;  // sort order 0x0409, as Access writes on every column
    c.misc[1] = 0x04;
    c.misc[2] = 0;
    c.misc[3] = 0;
    c.ext_flags = 0;
    bool fixed = true;
    switch (c.type) {
      case ColumnType::kBoolean: c.length = 1; break;
      case ColumnType::kByte: c.length = 1; break;
      case ColumnType::kInteger: c.length = 2; break;
      case ColumnType::kLong: c.length = 4; break;
      case ColumnType::kSingle: c.length = 4; break;
      case ColumnType::kCurrency:
      case ColumnType::kDouble:
      case ColumnType::kDateTime: c.length = 8; break;
      case ColumnType::kGuid: c.length = 16; break;
      case ColumnType::kText:
        if (c.length == 0 || c.length > 510 || c.length % 2 != 0) {
          return Status::InvalidArgument("text column needs a length of 2 to 510 bytes");
        }
        c.ext_flags = kColumnCompressedUnicode;
        fixed = false;
        break;
      case ColumnType::kBinary:
        if (c.length == 0 || c.length > 510) return Status::InvalidArgument("binary column needs 1 to 510 bytes");
        fixed = false;
        break;
      case ColumnType::kMemo:
        c.ext_flags = kColumnCompressedUnicode;
        c.length = 0;
        fixed = false;
        break;
      case ColumnType::kOle:
        c.length = 0;
        fixed = false;
        break;
      default:
        return Status::NotSupported(std::string("column type ") + ColumnTypeName(c.type));
    }
    c.flags = uint8_t(kColumnCanBeNull | (fixed ? kColumnFixedLength : 0));
  }
  PlaceColumns(&def->columns);
  def->max_cols = uint16_t(def->columns.size());
  return Status::OK();
}

}  // namespace kp::jet
