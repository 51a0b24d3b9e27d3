#include "export/jet/row_write.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kp::jet {

namespace {

std::string ColumnName(const ColumnDef& c) {
  std::string s;
  for (char16_t ch : c.name) {
    if (ch < 0x80) {
      s.push_back(char(ch));
    } else if (ch < 0x800) {
      s.push_back(char(0xC0 | (ch >> 6)));
      s.push_back(char(0x80 | (ch & 0x3F)));
    } else {
      s.push_back(char(0xE0 | (ch >> 12)));
      s.push_back(char(0x80 | ((ch >> 6) & 0x3F)));
      s.push_back(char(0x80 | (ch & 0x3F)));
    }
  }
  return "column " + s;
}

Status Bad(const ColumnDef& c, const std::string& what) {
  return Status::InvalidArgument(ColumnName(c) + ": " + what);
}

bool IsIntegerKind(const Value& v) { return v.kind == Value::Kind::kInteger; }

Status IntegerIn(const ColumnDef& c, const Value& v, int64_t lo, int64_t hi, int64_t* out) {
  if (!IsIntegerKind(v)) return Bad(c, "needs a whole number");
  if (v.i < lo || v.i > hi) {
    return Bad(c, "value " + std::to_string(v.i) + " is outside " + std::to_string(lo) + ".." +
                      std::to_string(hi));
  }
  *out = v.i;
  return Status::OK();
}

Status FloatOf(const ColumnDef& c, const Value& v, double* out) {
  if (v.kind == Value::Kind::kDouble || v.kind == Value::Kind::kDateTime) {
    *out = v.d;
  } else if (v.kind == Value::Kind::kInteger) {
    *out = double(v.i);
  } else {
    return Bad(c, "needs a number");
  }
  if (!std::isfinite(*out)) return Bad(c, "needs a finite number");
  return Status::OK();
}

// Writes a non-null fixed-length value at `p` (column.length bytes).
Status EncodeFixed(const ColumnDef& c, const Value& v, uint8_t* p) {
  int64_t n = 0;
  double d = 0;
  switch (c.type) {
    case ColumnType::kByte:
      KP_RETURN_IF_ERROR(IntegerIn(c, v, 0, 255, &n));
      p[0] = uint8_t(n);
      return Status::OK();
    case ColumnType::kInteger:
      KP_RETURN_IF_ERROR(IntegerIn(c, v, -32768, 32767, &n));
      PutU16(p, uint16_t(int16_t(n)));
      return Status::OK();
    case ColumnType::kLong:
      KP_RETURN_IF_ERROR(IntegerIn(c, v, std::numeric_limits<int32_t>::min(),
                                   std::numeric_limits<int32_t>::max(), &n));
      PutU32(p, uint32_t(int32_t(n)));
      return Status::OK();
    case ColumnType::kCurrency:
      if (v.kind != Value::Kind::kCurrency && v.kind != Value::Kind::kInteger) {
        return Bad(c, "needs a currency value");
      }
      PutU32(p, uint32_t(uint64_t(v.i)));
      PutU32(p + 4, uint32_t(uint64_t(v.i) >> 32));
      return Status::OK();
    case ColumnType::kSingle: {
      KP_RETURN_IF_ERROR(FloatOf(c, v, &d));
      if (std::fabs(d) > std::numeric_limits<float>::max()) return Bad(c, "value is too large");
      float f = float(d);
      uint32_t bits;
      std::memcpy(&bits, &f, 4);
      PutU32(p, bits);
      return Status::OK();
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      KP_RETURN_IF_ERROR(FloatOf(c, v, &d));
      PutF64(p, d);
      return Status::OK();
    case ColumnType::kGuid:
    case ColumnType::kNumeric:
    case ColumnType::kComplex:
      if (v.kind != Value::Kind::kBinary || v.binary.size() != c.length) {
        return Bad(c, "needs exactly " + std::to_string(c.length) + " bytes");
      }
      std::memcpy(p, v.binary.data(), c.length);
      return Status::OK();
    default:
      return Bad(c, std::string("type ") + ColumnTypeName(c.type) + " cannot be fixed-length");
  }
}

size_t FixedBytes(const ColumnDef& c) { return c.type == ColumnType::kBoolean ? 0 : c.length; }

// The stored size of a fixed-length type; 0 when any length goes.
size_t TypeSize(ColumnType type) {
  switch (type) {
    case ColumnType::kByte: return 1;
    case ColumnType::kInteger: return 2;
    case ColumnType::kLong:
    case ColumnType::kSingle: return 4;
    case ColumnType::kCurrency:
    case ColumnType::kDouble:
    case ColumnType::kDateTime: return 8;
    case ColumnType::kGuid: return 16;
    case ColumnType::kNumeric: return 17;
    default: return 0;
  }
}

}  // namespace

size_t FixedAreaSize(const TableDef& def) {
  size_t end = 0;
  for (const auto& c : def.columns) {
    if (c.is_fixed()) end = std::max(end, size_t(c.fixed_offset) + FixedBytes(c));
  }
  return end;
}

void EncodeText(const ColumnDef& column, const std::u16string& text, Bytes* out) {
  bool compress = (column.ext_flags & kColumnCompressedUnicode) != 0 && text.size() > 2 &&
                  text.size() <= kMaxCompressedTextChars;
  if (compress) {
    for (char16_t ch : text) {
      if (ch < 0x01 || ch > 0xFF) { compress = false; break; }
    }
  }
  const size_t at = out->size();
  if (compress) {
    out->resize(at + 2 + text.size());
    uint8_t* p = out->data() + at;
    p[0] = 0xFF;  // compressed-unicode marker
    p[1] = 0xFE;
    for (size_t k = 0; k < text.size(); ++k) p[2 + k] = uint8_t(text[k]);
  } else {
    out->resize(at + 2 * text.size());
    uint8_t* p = out->data() + at;
    for (size_t k = 0; k < text.size(); ++k) PutU16(p + 2 * k, uint16_t(text[k]));
  }
}

Status EncodeLongValue(const ColumnDef& column, const Bytes& data, LongValueSink* sink, Bytes* out) {
  Bytes scratch;
  return EncodeLongValue(column, data.data(), data.size(), sink, out, &scratch);
}

Status EncodeLongValue(const ColumnDef& column, const uint8_t* data, size_t size, LongValueSink* sink,
                       Bytes* out, Bytes* scratch) {
  if (size > kMaxLongValueBytes) return Bad(column, "long value is too large");
  const uint32_t length = uint32_t(size);
  if (size <= kMaxInlineLongValueBytes) {
    AppendU32(out, length | kLongValueFlagInline);  // length | flags
    AppendU32(out, 0);                          // pointer: none
    AppendU32(out, 0);
    AppendBytes(out, data, size);
    return Status::OK();
  }
  if (sink == nullptr) return Bad(column, "long value needs an LVAL page but there is none");
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
        layout_ = Status::InvalidArgument(ColumnName(c) + ": variable index " + std::to_string(c.var_index) +
                                          " is used twice");
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
  uint8_t* const mask = null_mask_.data();
  auto mark = [mask](const ColumnDef& c) { mask[c.number / 8] |= uint8_t(1u << (c.number % 8)); };

  out->clear();
  out->resize(2 + fixed_size_, 0);
  PutU16(out->data(), column_count_);  // column count

  // Fixed area.
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    if (!c.is_fixed()) continue;
    const Value& v = row[i];
    if (c.type == ColumnType::kBoolean) {
      if (v.is_null()) continue;  // Null reads back as False
      if (v.kind != Value::Kind::kBoolean && v.kind != Value::Kind::kInteger) {
        return Bad(c, "needs True or False");
      }
      if (v.i != 0) mark(c);
      continue;
    }
    if (v.is_null()) continue;
    const size_t size = TypeSize(c.type);
    if (size != 0 && c.length != size) {
      return Bad(c, "length " + std::to_string(c.length) + " does not fit its type");
    }
    KP_RETURN_IF_ERROR(EncodeFixed(c, v, out->data() + 2 + c.fixed_offset));
    mark(c);
  }

  const size_t var_slots = slots_.size();
  if (var_slots > 0) {
    KP_RETURN_IF_ERROR(layout_);
    // First encode every value, so that the row length is known before any
    // long value goes to an LVAL page (a refused row leaves nothing behind).
    // Text is encoded into `text_`; binary values are used where they are.
    text_.clear();
    size_t row_size = out->size() + 2 + 2 * var_slots + 2 + null_mask_.size();
    for (Slot& slot : slots_) {
      slot.present = false;
      slot.in_text = false;
      slot.data = nullptr;
      slot.offset = 0;
      slot.size = 0;
      const ColumnDef* c = slot.column;
      if (c == nullptr) continue;  // a deleted column's slot: zero length
      const Value& v = row[slot.value];
      if (v.is_null()) continue;
      switch (c->type) {
        case ColumnType::kText:
          if (v.kind != Value::Kind::kText) return Bad(*c, "needs text");
          if (v.text.size() * 2 > c->length) {
            return Bad(*c, "text of " + std::to_string(v.text.size()) + " characters is longer than " +
                               std::to_string(c->length / 2));
          }
          slot.in_text = true;
          slot.offset = text_.size();
          EncodeText(*c, v.text, &text_);
          slot.size = text_.size() - slot.offset;
          break;
        case ColumnType::kBinary:
          if (v.kind != Value::Kind::kBinary) return Bad(*c, "needs binary data");
          if (v.binary.size() > c->length) {
            return Bad(*c, std::to_string(v.binary.size()) + " bytes is longer than " +
                               std::to_string(c->length));
          }
          slot.data = v.binary.data();
          slot.size = v.binary.size();
          break;
        case ColumnType::kMemo:
          if (v.kind != Value::Kind::kText) return Bad(*c, "needs text");
          slot.in_text = true;
          slot.offset = text_.size();
          EncodeText(*c, v.text, &text_);
          slot.size = text_.size() - slot.offset;
          break;
        case ColumnType::kOle:
          if (v.kind != Value::Kind::kBinary) return Bad(*c, "needs binary data");
          slot.data = v.binary.data();
          slot.size = v.binary.size();
          break;
        default:
          return Bad(*c, std::string("type ") + ColumnTypeName(c->type) + " cannot be variable-length");
      }
      if (c->is_long_value()) {
        if (slot.size > kMaxLongValueBytes) return Bad(*c, "long value is too large");
        row_size += kLongValueHeaderBytes + (slot.size <= kMaxInlineLongValueBytes ? slot.size : 0);
      } else {
        row_size += slot.size;
      }
      slot.present = true;
    }
    if (row_size > kMaxRowBytes) {
      return Status::InvalidArgument("row of " + std::to_string(row_size) + " bytes is longer than " +
                                     std::to_string(kMaxRowBytes));
    }
    for (Slot& slot : slots_) {
      slot.start = uint16_t(out->size());
      if (!slot.present) continue;
      const ColumnDef* c = slot.column;
      const uint8_t* data = slot.in_text ? text_.data() + slot.offset : slot.data;
      if (c->is_long_value()) {
        KP_RETURN_IF_ERROR(EncodeLongValue(*c, data, slot.size, sink, out, &long_value_row_));
      } else {
        AppendBytes(out, data, slot.size);
      }
      mark(*c);
    }
    const size_t end = out->size();
    AppendU16(out, uint16_t(end));  // end of variable data
    for (size_t k = var_slots; k-- > 0;) AppendU16(out, slots_[k].start);  // offsets, last first
    AppendU16(out, uint16_t(var_slots));                                  // variable column count
  }
  AppendBytes(out, null_mask_.data(), null_mask_.size());
  if (out->size() > kMaxRowBytes) {
    return Status::InvalidArgument("row of " + std::to_string(out->size()) +
                                   " bytes is longer than " + std::to_string(kMaxRowBytes));
  }
  return Status::OK();
}

}  // namespace kp::jet
