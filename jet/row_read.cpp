#include "jet/row_read.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "base/text_util.h"
#include "jet/column_codec.h"
#include "jet/format.h"
#include "jet/page_file.h"

namespace kp::jet {

namespace {

std::string PageRow(uint32_t page, uint32_t row) {
  return "page " + std::to_string(page) + " row " + std::to_string(row);
}

std::string ColumnName(const ColumnDef& c) { return Utf16ToUtf8(c.name); }

}  // namespace

Status DataPageRowCount(const uint8_t* page, uint32_t page_number, uint16_t* count) {
  *count = GetU16(page + kDataRowCountOffset);
  if (kDataRowOffsetsOffset + 2 * size_t(*count) > kPageSize) {
    return Status::Corruption("page " + std::to_string(page_number) + ": row count " + std::to_string(*count) +
                              " does not fit the page");
  }
  return Status::OK();
}

Status DataPageRowSlot(const uint8_t* page, uint32_t page_number, uint16_t r, RowSlot* slot) {
  uint16_t count;
  KP_RETURN_IF_ERROR(DataPageRowCount(page, page_number, &count));
  if (r >= count) {
    return Status::Corruption(PageRow(page_number, r) + " does not exist (" + std::to_string(count) + " rows)");
  }
  const uint16_t raw = GetU16(page + kDataRowOffsetsOffset + 2 * r);
  slot->start = raw & kRowOffsetMask;
  slot->deleted = (raw & kRowOffsetDeleted) != 0;
  slot->overflow = (raw & kRowOffsetLookup) != 0;
  slot->end = r == 0 ? uint16_t(kPageSize)
                     : uint16_t(GetU16(page + kDataRowOffsetsOffset + 2 * (r - 1)) & kRowOffsetMask);
  if (slot->start < kDataRowOffsetsOffset + 2 * size_t(count) || slot->start > slot->end ||
      slot->end > kPageSize) {
    return Status::Corruption(PageRow(page_number, r) + ": row offsets " + std::to_string(slot->start) + ".." +
                              std::to_string(slot->end) + " are out of place");
  }
  return Status::OK();
}

Status ReadRowBytes(const PageFile& file, uint32_t page_number, uint8_t row, const uint8_t** data, size_t* size,
                    RowSlot* slot_out) {
  const uint8_t* page = nullptr;
  KP_RETURN_IF_ERROR(file.CheckedPage(page_number, kPageTypeData, PageRow(page_number, row), &page));
  RowSlot slot;
  KP_RETURN_IF_ERROR(DataPageRowSlot(page, page_number, row, &slot));
  *data = page + slot.start;
  *size = slot.end - slot.start;
  if (slot_out != nullptr) *slot_out = slot;
  return Status::OK();
}

namespace {

// Walks the LVAL rows of a long value, handing each row's data to `chunk`.
Status WalkLongValue(const PageFile& file, const uint8_t* field, size_t size,
                     const std::function<void(uint32_t page, const uint8_t*, size_t)>& chunk, uint32_t* length) {
  if (size < kLongValueHeaderSize) {
    return Status::Corruption("long value field of " + std::to_string(size) + " bytes, shorter than its header");
  }
  const uint32_t word = GetU32(field);
  const uint32_t len = word & kLongValueLengthMask;
  const uint32_t pointer = GetU32(field + 4);
  *length = len;
  if (word & kLongValueFlagInline) {
    if (len > size - kLongValueHeaderSize) {
      return Status::Corruption("inline long value of " + std::to_string(len) + " bytes in a field of " +
                                std::to_string(size));
    }
    chunk(0, field + kLongValueHeaderSize, len);
    return Status::OK();
  }
  if (word & kLongValueFlagSingleRow) {
    const uint8_t* data;
    size_t n;
    Status s = ReadRowBytes(file, PointerPage(pointer), PointerRow(pointer), &data, &n);
    if (!s.ok()) return s.WithContext("long value");
    if (GetU32(file.Page(PointerPage(pointer)) + kDataOwnerOffset) != kLvalOwnerTag) {
      return Status::Corruption("long value at " + PageRow(PointerPage(pointer), PointerRow(pointer)) +
                                ": not an LVAL page");
    }
    if (n < len) {
      return Status::Corruption("long value at " + PageRow(PointerPage(pointer), PointerRow(pointer)) + " has " +
                                std::to_string(n) + " of its " + std::to_string(len) + " bytes");
    }
    chunk(PointerPage(pointer), data, len);
    return Status::OK();
  }
  // A chain: each row is a next pointer and a chunk of data.
  uint64_t have = 0;
  uint32_t at = pointer;
  std::set<uint32_t> seen;
  while (have < len) {
    if (at == 0) {
      return Status::Corruption("long value chain ends after " + std::to_string(have) + " of " +
                                std::to_string(len) + " bytes");
    }
    if (!seen.insert(at).second) {
      return Status::Corruption("long value chain loops back to " + PageRow(PointerPage(at), PointerRow(at)));
    }
    const uint8_t* data;
    size_t n;
    Status s = ReadRowBytes(file, PointerPage(at), PointerRow(at), &data, &n);
    if (!s.ok()) return s.WithContext("long value chain");
    if (GetU32(file.Page(PointerPage(at)) + kDataOwnerOffset) != kLvalOwnerTag) {
      return Status::Corruption("long value chain at " + PageRow(PointerPage(at), PointerRow(at)) +
                                ": not an LVAL page");
    }
    if (n < 4) return Status::Corruption("long value chain row at " + PageRow(PointerPage(at), PointerRow(at)) +
                                         " is shorter than its next pointer");
    const size_t take = size_t(std::min<uint64_t>(n - 4, len - have));
    chunk(PointerPage(at), data + 4, take);
    have += take;
    at = GetU32(data);
  }
  return Status::OK();
}

}  // namespace

Status ReadLongValue(const PageFile& file, const uint8_t* field, size_t size, Bytes* out) {
  out->clear();
  uint32_t len = 0;
  return WalkLongValue(
      file, field, size, [out](uint32_t, const uint8_t* d, size_t n) { out->insert(out->end(), d, d + n); }, &len);
}

Status LongValuePages(const PageFile& file, const uint8_t* field, size_t size, std::vector<uint32_t>* pages) {
  pages->clear();
  uint32_t len = 0;
  return WalkLongValue(
      file, field, size, [pages](uint32_t page, const uint8_t*, size_t) { if (page != 0) pages->push_back(page); },
      &len);
}

namespace {

// The frame of a row: its column count, null mask and variable-offset table.
struct RowFrame {
  uint16_t cols = 0;
  size_t mask_len = 0;
  const uint8_t* mask = nullptr;
  bool has_var = false;  // the table has variable columns
  uint16_t var_count = 0;
  size_t var_table = 0;  // offset of the variable-offset entry of variable column 0
  size_t var_end = 0;
};

// Reads the frame of the row `data` of `size` bytes, checking that its parts fit.
Status ReadRowFrame(const TableDef& def, const uint8_t* data, size_t size, RowFrame* f) {
  if (size < 2) return Status::Corruption("row of " + std::to_string(size) + " bytes");
  const uint16_t cols = GetU16(data);
  const size_t mask_len = (size_t(cols) + 7) / 8;
  if (2 + mask_len > size) {
    return Status::Corruption("row of " + std::to_string(size) + " bytes cannot hold the null mask of " +
                              std::to_string(cols) + " columns");
  }
  f->cols = cols;
  f->mask_len = mask_len;
  f->mask = data + size - mask_len;
  f->has_var = def.variable_column_count() > 0;
  if (f->has_var) {
    if (size < mask_len + 2 + 2 + 2) return Status::Corruption("row too short for its variable-column table");
    const uint16_t var_count = GetU16(data + size - mask_len - 2);
    if (size_t(var_count) * 2 + mask_len + 2 + 2 + 2 > size) {
      return Status::Corruption("row of " + std::to_string(size) + " bytes cannot hold " + std::to_string(var_count) +
                                " variable offsets");
    }
    f->var_count = var_count;
    f->var_table = size - mask_len - 2 - 2;
    f->var_end = GetU16(data + size - mask_len - 2 - 2 * size_t(var_count) - 2);
    const size_t table_start = size - mask_len - 2 - 2 * size_t(var_count) - 2;
    if (f->var_end > table_start) {
      return Status::Corruption("row: end of variable data " + std::to_string(f->var_end) +
                                " past its offset table");
    }
  }
  return Status::OK();
}

// Where the bytes of present column `c` are in the row: [*p, *p + *n);
// `*in_row` false when the row has no slot for it (a column added after the
// row was written).
Status LocateValue(const ColumnDef& c, const uint8_t* data, size_t size, const RowFrame& f,
                   const uint8_t** p, size_t* n, bool* in_row) {
  *in_row = true;
  if (c.is_fixed()) {
    *p = data + 2 + c.fixed_offset;
    *n = c.length;
    if (2 + size_t(c.fixed_offset) + *n > (f.has_var ? f.var_end : size - f.mask_len)) {
      return Status::Corruption("row: fixed column " + ColumnName(c) + " at " +
                                std::to_string(c.fixed_offset) + " runs past the fixed area");
    }
    return Status::OK();
  }
  if (c.var_index >= f.var_count) {
    *in_row = false;
    return Status::OK();
  }
  const size_t start = GetU16(data + f.var_table - 2 * size_t(c.var_index));
  const size_t end = c.var_index + 1 < f.var_count
                         ? GetU16(data + f.var_table - 2 * (size_t(c.var_index) + 1))
                         : f.var_end;
  if (start > end || end > f.var_end) {
    return Status::Corruption("row: variable column " + ColumnName(c) + " spans " +
                              std::to_string(start) + ".." + std::to_string(end) +
                              ", outside the variable data");
  }
  *p = data + start;
  *n = end - start;
  return Status::OK();
}

// Sets every value of `row` to Null, one per def.columns entry, keeping the
// values' string capacity from the last row.
void ClearRow(const TableDef& def, Row* row) {
  row->resize(def.columns.size());
  for (Value& v : *row) {
    v.kind = Value::Kind::kNull;
    v.i = 0;
    v.d = 0;
    v.text.clear();
    v.binary.clear();
  }
}

}  // namespace

Status DecodeRow(const PageFile& file, const TableDef& def, const uint8_t* data, size_t size,
                 Row* row, RowLayout* layout) {
  RowLayout local;
  if (layout == nullptr) layout = &local;
  *layout = RowLayout();
  RowFrame f;
  const Status frame = ReadRowFrame(def, data, size, &f);
  layout->column_count = f.cols;  // known once the null mask fits
  KP_RETURN_IF_ERROR(frame);
  layout->variable_count = f.var_count;
  layout->variable_end = f.var_end;
  layout->spans.assign(def.columns.size(), {0, 0});
  layout->variable_start =
      f.var_count > 0 ? GetU16(data + f.var_table) : (f.has_var ? f.var_end : size - f.mask_len);
  size_t fixed_end = 2;

  ClearRow(def, row);
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    Value& v = (*row)[i];
    const bool present = c.number < f.cols && (f.mask[c.number / 8] & (1u << (c.number % 8))) != 0;
    if (c.type == ColumnType::kBoolean) {
      v = Value::Bool(present);
      continue;
    }
    if (!present) continue;
    const uint8_t* p = nullptr;
    size_t n = 0;
    bool in_row = false;
    KP_RETURN_IF_ERROR(LocateValue(c, data, size, f, &p, &n, &in_row));
    if (!in_row) continue;
    if (c.is_fixed()) fixed_end = std::max(fixed_end, size_t(p - data) + n);
    layout->spans[i] = {uint32_t(p - data), uint32_t(p - data + n)};
    if (c.is_long_value()) {
      Bytes bytes;
      Status s = ReadLongValue(file, p, n, &bytes);
      if (!s.ok()) return s.WithContext("column " + ColumnName(c));
      DecodeLongValue(c, std::move(bytes), &v);
      continue;
    }
    KP_RETURN_IF_ERROR(DecodeValue(c, p, n, &v));
  }
  layout->fixed_end = fixed_end;
  return Status::OK();
}

}  // namespace kp::jet
