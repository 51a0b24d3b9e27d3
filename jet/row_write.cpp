#include "jet/row_write.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kp::jet {

namespace {

size_t FixedBytes(const ColumnDef& c) { return c.type == ColumnType::kBoolean ? 0 : c.length; }

}  // namespace

size_t FixedAreaSize(const TableDef& def) {
  size_t end = 0;
  for (const auto& c : def.columns) {
    if (c.is_fixed()) end = std::max(end, size_t(c.fixed_offset) + FixedBytes(c));
  }
  return end;
}

Status EncodeLongValue(const ColumnDef& column, const Bytes& data, LongValueSink* sink, Bytes* out) {
  Bytes scratch;
  return EncodeLongValue(column, data.data(), data.size(), sink, out, &scratch);
}

namespace {

// The bytes a long value of `size` takes in its row: the header, and the
// bytes themselves when inline.
size_t LongValueRowBytes(size_t size) {
  return kLongValueHeaderBytes + (size <= kMaxInlineLongValueBytes ? size : 0);
}

// Stores the long value `data` as EncodeLongValue does, writing what goes in
// the row (LongValueRowBytes(size) bytes) at `p`.
Status PutLongValue(const ColumnDef& column, const uint8_t* data, size_t size, LongValueSink* sink,
                    Bytes* scratch, uint8_t* p) {
  if (size > kMaxLongValueBytes) return RefuseValue(column, "long value is too large");
  const uint32_t length = uint32_t(size);
  if (size <= kMaxInlineLongValueBytes) {
    PutU32(p, length | kLongValueFlagInline);  // length | flags
    PutU32(p + 4, 0);                          // pointer: none
    PutU32(p + 8, 0);
    if (size != 0) std::memcpy(p + kLongValueHeaderBytes, data, size);
    return Status::OK();
  }
  if (sink == nullptr)
    return RefuseValue(column, "long value needs an LVAL page but there is none");
  if (size <= kMaxLongValueRowBytes) {
    uint32_t pointer = 0;
    scratch->assign(data, data + size);
    KP_RETURN_IF_ERROR(sink->AddLongValueRow(column, *scratch, &pointer));
    PutU32(p, length | kLongValueFlagSingleRow);
    PutU32(p + 4, pointer);
    PutU32(p + 8, 0);
    return Status::OK();
  }
  // A chain: written from the last chunk back, so each row knows its successor.
  const size_t chunks = (size + kMaxLongValueChunkBytes - 1) / kMaxLongValueChunkBytes;
  uint32_t next = 0;
  Bytes& row = *scratch;
  for (size_t k = chunks; k-- > 0;) {
    const size_t begin = k * kMaxLongValueChunkBytes;
    const size_t n = std::min(kMaxLongValueChunkBytes, size - begin);
    row.clear();
    AppendU32(&row, next);  // next chunk, 0 at the end
    AppendBytes(&row, data + begin, n);
    KP_RETURN_IF_ERROR(sink->AddLongValueRow(column, row, &next));
  }
  PutU32(p, length);  // flags 0: chain
  PutU32(p + 4, next);  // first chunk
  PutU32(p + 8, 0);
  return Status::OK();
}

}  // namespace

Status EncodeLongValue(const ColumnDef& column, const uint8_t* data, size_t size, LongValueSink* sink,
                       Bytes* out, Bytes* scratch) {
  if (size > kMaxLongValueBytes) return RefuseValue(column, "long value is too large");
  const size_t at = out->size();
  out->resize(at + LongValueRowBytes(size));
  Status s = PutLongValue(column, data, size, sink, scratch, out->data() + at);
  if (!s.ok()) out->resize(at);
  return s;
}

Status EncodeRow(const TableDef& def, const Row& row, LongValueSink* sink, Bytes* out) {
  RowEncoder encoder(def);
  return encoder.Encode(row, sink, out);
}

RowEncoder::RowEncoder(const TableDef& def) : def_(def) {
  column_count_ = def.max_cols;
  size_t var_slots = 0;
  for (const auto& c : def.columns) {
    column_count_ = std::max<uint16_t>(column_count_, uint16_t(c.number + 1));
    if (!c.is_fixed()) var_slots = std::max<size_t>(var_slots, size_t(c.var_index) + 1);
  }
  fixed_size_ = FixedAreaSize(def);
  null_mask_.assign((column_count_ + 7) / 8, 0);
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    if (!c.is_fixed()) continue;
    Fixed f;
    f.column = &c;
    f.value = i;
    const WholeRange whole = WholeRangeOf(c.type);
    const int width = c.type == ColumnType::kByte ? 1 : c.type == ColumnType::kInteger ? 2 : 4;
    if (whole.lo <= whole.hi && c.length == width) f = {&c, i, width, whole.lo, whole.hi};
    f.offset = c.fixed_offset;
    f.mask_byte = uint16_t(c.number / 8);
    f.mask_bit = uint8_t(1u << (c.number % 8));
    fixed_.push_back(f);
  }
  slots_.assign(var_slots, Slot{});
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    if (c.is_fixed()) continue;
    Slot& slot = slots_[c.var_index];
    if (slot.column != nullptr) {
      if (layout_.ok()) {
        layout_ =
            RefuseValue(c, "variable index " + std::to_string(c.var_index) + " is used twice");
      }
      continue;
    }
    slot.column = &c;
    slot.value = i;
  }
}

Status RowEncoder::Encode(const Row& row, LongValueSink* sink, Bytes* out) {
  const TableDef& def = def_;
  if (row.size() != def.columns.size()) {
    return Status::InvalidArgument("row has " + std::to_string(row.size()) + " values for " +
                                   std::to_string(def.columns.size()) + " columns");
  }
  std::fill(null_mask_.begin(), null_mask_.end(), uint8_t(0));
  out->clear();
  out->resize(2 + fixed_size_, 0);
  PutU16(out->data(), column_count_);  // column count
  KP_RETURN_IF_ERROR(EncodeFixedArea(row, out));

  if (!slots_.empty()) {
    KP_RETURN_IF_ERROR(layout_);
    // First encode every value, so that the row length is known before any
    // long value goes to an LVAL page (a refused row leaves nothing behind).
    size_t row_size = out->size() + 2 + 2 * slots_.size() + 2 + null_mask_.size();
    KP_RETURN_IF_ERROR(EncodeVariableValues(row, &row_size));
    if (row_size > kMaxRowBytes) {
      return Status::InvalidArgument("row of " + std::to_string(row_size) + " bytes is longer than " +
                                     std::to_string(kMaxRowBytes));
    }
    KP_RETURN_IF_ERROR(AppendVariableArea(sink, row_size, out));
  }
  // The null mask ends the row, complete once every value is marked.
  const size_t at = out->size();
  out->resize(at + null_mask_.size());
  std::memcpy(out->data() + at, null_mask_.data(), null_mask_.size());
  if (out->size() > kMaxRowBytes) {
    return Status::InvalidArgument("row of " + std::to_string(out->size()) +
                                   " bytes is longer than " + std::to_string(kMaxRowBytes));
  }
  return Status::OK();
}

void RowEncoder::Mark(const ColumnDef& c) {
  null_mask_[c.number / 8] |= uint8_t(1u << (c.number % 8));
}

Status RowEncoder::EncodeFixedArea(const Row& row, Bytes* out) {
  uint8_t* area = out->data() + 2;
  for (const Fixed& f : fixed_) {
    const Value& v = row[f.value];
    if (v.kind == Value::Kind::kInteger && v.i >= f.lo && v.i <= f.hi) [[likely]] {
      // Byte, Integer and Long: written here.
      uint8_t* p = area + f.offset;
      if (f.width == 4) {
        PutU32(p, uint32_t(int32_t(v.i)));
      } else if (f.width == 2) {
        PutU16(p, uint16_t(int16_t(v.i)));
      } else {
        p[0] = uint8_t(v.i);
      }
      null_mask_[f.mask_byte] |= f.mask_bit;
      continue;
    }
    if (v.is_null()) continue;  // a Null Boolean reads back as False
    const ColumnDef& c = *f.column;
    if (c.type == ColumnType::kBoolean) {
      bool bit = false;
      KP_RETURN_IF_ERROR(EncodeBoolean(c, v, &bit));
      if (bit) Mark(c);
      continue;
    }
    KP_RETURN_IF_ERROR(EncodeFixedValue(c, v, area + c.fixed_offset));
    Mark(c);
  }
  return Status::OK();
}

Status RowEncoder::EncodeVariableValues(const Row& row, size_t* row_size) {
  // Text is encoded into `text_`; binary values are used where they are.
  text_.clear();
  for (Slot& slot : slots_) {
    slot.present = false;
    slot.bytes = VariableBytes();
    const ColumnDef* c = slot.column;
    if (c == nullptr) continue;  // a deleted column's slot: zero length
    const Value& v = row[slot.value];
    if (v.is_null()) continue;
    KP_RETURN_IF_ERROR(EncodeVariableValue(*c, v, &text_, &slot.bytes));
    const size_t size = slot.bytes.size;
    if (c->is_long_value()) {
      if (size > kMaxLongValueBytes) return RefuseValue(*c, "long value is too large");
      *row_size += LongValueRowBytes(size);
    } else {
      *row_size += size;
    }
    slot.present = true;
  }
  return Status::OK();
}

Status RowEncoder::AppendVariableArea(LongValueSink* sink, size_t row_size, Bytes* out) {
  // The row's length is known: the variable area is written in place.
  size_t at = out->size();
  out->resize(row_size - null_mask_.size());
  uint8_t* base = out->data();
  for (Slot& slot : slots_) {
    slot.start = uint16_t(at);
    if (!slot.present) continue;
    const ColumnDef* c = slot.column;
    const VariableBytes& bytes = slot.bytes;
    const uint8_t* data = bytes.in_text ? text_.data() + bytes.offset : bytes.data;
    if (c->is_long_value()) {
      KP_RETURN_IF_ERROR(PutLongValue(*c, data, bytes.size, sink, &long_value_row_, base + at));
      at += LongValueRowBytes(bytes.size);
    } else {
      if (bytes.size != 0) std::memcpy(base + at, data, bytes.size);
      at += bytes.size;
    }
    Mark(*c);
  }
  PutU16(base + at, uint16_t(at));  // end of variable data
  at += 2;
  for (size_t k = slots_.size(); k-- > 0; at += 2) PutU16(base + at, slots_[k].start);  // offsets, last first
  PutU16(base + at, uint16_t(slots_.size()));  // variable column count
  return Status::OK();
}

}  // namespace kp::jet
