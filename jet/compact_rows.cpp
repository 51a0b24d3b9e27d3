// Compaction's rows: the source read as a stream, rows and long values
// written to the new data and LVAL pages.
#include <algorithm>

#include "jet/compact_internal.h"
#include "jet/row_read.h"
#include "jet/values.h"

namespace kp::jet::compaction {

void SourcePages::Read(size_t bytes) {
  bytes_read_ += bytes + 64;
  if (bytes_read_ >= kResidentBytes) {
    file_.DropResident();
    bytes_read_ = 0;
  }
}

const uint8_t* SourcePages::Visit(uint32_t n) {
  Read(n == last_page_ + 1 ? kPageSize : kFaultAroundBytes);
  last_page_ = n;
  return file_.Page(n);
}

Status SourcePages::StoredRow(const uint8_t* page, uint32_t page_number, uint16_t r,
                              const uint8_t** data, size_t* size, bool* live) const {
  RowSlot slot;
  KP_RETURN_IF_ERROR(DataPageRowSlot(page, page_number, r, &slot));
  *live = !slot.deleted;
  if (slot.deleted) return Status::OK();
  *data = page + slot.start;
  *size = slot.end - slot.start;
  for (int hops = 0; slot.overflow; ++hops) {
    if (*size < 4 || hops > 16) {
      return Status::Corruption("page " + std::to_string(page_number) + " row " +
                                std::to_string(r) + ": bad overflow pointer");
    }
    const uint8_t row = (*data)[0];
    const uint32_t at = GetU24(*data + 1);
    KP_RETURN_IF_ERROR(ReadRowBytes(file_, at, row, data, size, &slot));
  }
  return Status::OK();
}

Status RowWriter::Add(const Bytes& row, uint32_t* pointer) {
  if (!started_ || !page_.Fits(row.size())) {
    if (started_) {
      KP_RETURN_IF_ERROR(Finish());
      free_.erase(current_);
    }
    current_ = sink_->AllocatePage();
    page_.Reset(owner_);
    started_ = true;
    owned_.insert(current_);
    free_.insert(current_);
  }
  uint8_t n = 0;
  KP_RETURN_IF_ERROR(page_.AddRow(row, &n));
  *pointer = MakePointer(current_, n);
  return Status::OK();
}

Status RowWriter::Finish() {
  if (!started_) return Status::OK();
  if (page_.free_space() == 0) free_.erase(current_);
  return sink_->WritePage(current_, page_.page().data());
}

bool VariableSpan(const TableDef& def, const ColumnDef& c, const uint8_t* data, size_t size,
                  size_t* start, size_t* end) {
  if (size < 2) return false;
  const uint16_t cols = GetU16(data);
  const size_t mask_len = (size_t(cols) + 7) / 8;
  if (c.number >= cols || def.variable_column_count() == 0 || size < mask_len + 6) return false;
  const uint8_t* mask = data + size - mask_len;
  if (!(mask[c.number / 8] & (1u << (c.number % 8)))) return false;
  const uint16_t var_count = GetU16(data + size - mask_len - 2);
  if (c.var_index >= var_count || size_t(var_count) * 2 + mask_len + 6 > size) return false;
  const size_t table = size - mask_len - 4;
  const size_t var_end = GetU16(data + size - mask_len - 2 - 2 * size_t(var_count) - 2);
  *start = GetU16(data + table - 2 * size_t(c.var_index));
  *end =
      c.var_index + 1 < var_count ? GetU16(data + table - 2 * (size_t(c.var_index) + 1)) : var_end;
  return *start <= *end && *end <= size;
}

bool Present(const ColumnDef& c, const uint8_t* data, size_t size) {
  if (c.type == ColumnType::kBoolean) return true;
  const uint16_t cols = GetU16(data);
  const size_t mask_len = (size_t(cols) + 7) / 8;
  if (c.number >= cols || mask_len > size) return false;
  return (data[size - mask_len + c.number / 8] & (1u << (c.number % 8))) != 0;
}

Status LongValueCopier::Copy(const TableDef& def, Bytes* row,
                             std::map<uint16_t, std::unique_ptr<RowWriter>>* writers) {
  for (const ColumnDef& c : def.columns) {
    if (!c.is_long_value() || c.is_fixed()) continue;
    size_t start, end;
    if (!VariableSpan(def, c, row->data(), row->size(), &start, &end) ||
        end - start < kLongValueHeaderSize)
      continue;
    uint8_t* field = row->data() + start;
    const uint32_t length_flags = GetU32(field);
    const uint32_t flags = length_flags & ~kLongValueLengthMask;
    const uint32_t length = length_flags & kLongValueLengthMask;
    if (flags == kLongValueFlagInline || (flags == 0 && length == 0) ||
        flags == (kLongValueFlagInline | kLongValueFlagSingleRow)) {
      continue;
    }
    auto& writer = (*writers)[c.number];
    if (!writer) writer = std::make_unique<RowWriter>(out_, kLvalOwnerTag);
    uint32_t pointer = 0;
    if (flags == kLongValueFlagSingleRow) {
      KP_RETURN_IF_ERROR(SingleRowValue(GetU32(field + 4), length).WithContext(ColumnLabel(c)));
      source_->Read(value_.size());
      KP_RETURN_IF_ERROR(writer->Add(value_, &pointer));
    } else {
      KP_RETURN_IF_ERROR(
          ReadLongValue(source_->file(), field, end - start, &value_).WithContext(ColumnLabel(c)));
      source_->Read(value_.size());
      // A chain, written last chunk first so that each knows its successor.
      const size_t chunks = (value_.size() + kLongValueChunkMax - 1) / kLongValueChunkMax;
      for (size_t k = chunks; k-- > 0;) {
        const size_t from = k * kLongValueChunkMax,
                     to = std::min(value_.size(), from + kLongValueChunkMax);
        chunk_.resize(4);
        PutU32(chunk_.data(), pointer);
        chunk_.insert(chunk_.end(), value_.begin() + long(from), value_.begin() + long(to));
        KP_RETURN_IF_ERROR(writer->Add(chunk_, &pointer));
      }
    }
    PutU32(field + 4, pointer);
  }
  return Status::OK();
}

Status LongValueCopier::SingleRowValue(uint32_t pointer, uint32_t length) {
  const uint8_t* page = source_->file().Page(PointerPage(pointer));
  if (page == nullptr || page[0] != kPageTypeData ||
      GetU32(page + kDataOwnerOffset) != kLvalOwnerTag) {
    return Status::Corruption("long value at page " + std::to_string(PointerPage(pointer)) +
                              ": not an LVAL page");
  }
  RowSlot slot;
  KP_RETURN_IF_ERROR(DataPageRowSlot(page, PointerPage(pointer), PointerRow(pointer), &slot));
  if (slot.overflow || size_t(slot.end - slot.start) < length) {
    return Status::Corruption("long value at page " + std::to_string(PointerPage(pointer)) +
                              " row " + std::to_string(PointerRow(pointer)) +
                              " is not a whole row of " + std::to_string(length) + " bytes");
  }
  value_.assign(page + slot.start, page + slot.start + length);
  return Status::OK();
}

}  // namespace kp::jet::compaction
