#include "export/jet/row_write.h"

#include <algorithm>

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

Status EncodeLongValue(const ColumnDef& column, const uint8_t* data, size_t size, LongValueSink* sink,
                       Bytes* out, Bytes* scratch) {
  if (size > kMaxLongValueBytes) return RefuseValue(column, "long value is too large");
  const uint32_t length = uint32_t(size);
  if (size <= kMaxInlineLongValueBytes) {
    AppendU32(out, length | kLongValueFlagInline);  // length | flags
    AppendU32(out, 0);                          // pointer: none
    AppendU32(out, 0);
    AppendBytes(out, data, size);
    return Status::OK();
  }
  if (sink == nullptr)
    return RefuseValue(column, "long value needs an LVAL page but there is none");
  if (size <= kMaxLongValueRowBytes) {
    uint32_t pointer = 0;
    scratch->assign(data, data + size);
    KP_RETURN_IF_ERROR(sink->AddLongValueRow(column, *scratch, &pointer));
    AppendU32(out, length | kLongValueFlagSingleRow);
    AppendU32(out, pointer);
    AppendU32(out, 0);
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
  AppendU32(out, length);  // flags 0: chain
  AppendU32(out, next);    // first chunk
  AppendU32(out, 0);
  return Status::OK();
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
    KP_RETURN_IF_ERROR(AppendVariableArea(sink, out));
  }
  AppendBytes(out, null_mask_.data(), null_mask_.size());
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
  for (size_t i = 0; i < def_.columns.size(); ++i) {
    const ColumnDef& c = def_.columns[i];
    if (!c.is_fixed()) continue;
    const Value& v = row[i];
    if (c.type == ColumnType::kBoolean) {
      if (v.is_null()) continue;  // Null reads back as False
      bool bit = false;
      KP_RETURN_IF_ERROR(EncodeBoolean(c, v, &bit));
      if (bit) Mark(c);
      continue;
    }
    if (v.is_null()) continue;
    KP_RETURN_IF_ERROR(EncodeFixedValue(c, v, out->data() + 2 + c.fixed_offset));
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
      *row_size += kLongValueHeaderBytes + (size <= kMaxInlineLongValueBytes ? size : 0);
    } else {
      *row_size += size;
    }
    slot.present = true;
  }
  return Status::OK();
}

Status RowEncoder::AppendVariableArea(LongValueSink* sink, Bytes* out) {
  for (Slot& slot : slots_) {
    slot.start = uint16_t(out->size());
    if (!slot.present) continue;
    const ColumnDef* c = slot.column;
    const VariableBytes& bytes = slot.bytes;
    const uint8_t* data = bytes.in_text ? text_.data() + bytes.offset : bytes.data;
    if (c->is_long_value()) {
      KP_RETURN_IF_ERROR(EncodeLongValue(*c, data, bytes.size, sink, out, &long_value_row_));
    } else {
      AppendBytes(out, data, bytes.size);
    }
    Mark(*c);
  }
  const size_t end = out->size();
  AppendU16(out, uint16_t(end));                                             // end of variable data
  for (size_t k = slots_.size(); k-- > 0;) AppendU16(out, slots_[k].start);  // offsets, last first
  AppendU16(out, uint16_t(slots_.size()));  // variable column count
  return Status::OK();
}

}  // namespace kp::jet
