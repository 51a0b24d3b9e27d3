#include "jet/column_codec.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define KP_SSE2 1
#endif

namespace kp::jet {

namespace {

// Writes the low bytes of `t[0..n)` to `p`: false when a character is
// outside U+0001..U+00FF (what `p` then holds is of no use).
bool NarrowText(const char16_t* t, size_t n, uint8_t* p) {
  size_t k = 0;
#ifdef KP_SSE2
  const __m128i high = _mm_set1_epi16(int16_t(0xFF00));
  const __m128i zero = _mm_setzero_si128();
  for (; k + 16 <= n; k += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + k));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + k + 8));
    const __m128i nul = _mm_or_si128(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
    const __m128i low = _mm_cmpeq_epi16(_mm_and_si128(_mm_or_si128(a, b), high), zero);
    if (_mm_movemask_epi8(nul) != 0 || _mm_movemask_epi8(low) != 0xFFFF) return false;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + k), _mm_packus_epi16(a, b));
  }
  if (k + 8 <= n) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + k));
    const __m128i low = _mm_cmpeq_epi16(_mm_and_si128(a, high), zero);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(a, zero)) != 0 || _mm_movemask_epi8(low) != 0xFFFF) return false;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p + k), _mm_packus_epi16(a, zero));
    k += 8;
  }
#endif
  unsigned outside = 0;
  for (; k < n; ++k) {
    outside |= unsigned(uint16_t(t[k] - 1u) > 0xFEu);
    p[k] = uint8_t(t[k]);
  }
  return outside == 0;
}

// "column Name", the name in UTF-8 (each UTF-16 unit on its own).
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

bool IsIntegerKind(const Value& v) { return v.kind == Value::Kind::kInteger; }

Status IntegerIn(const ColumnDef& c, const Value& v, int64_t lo, int64_t hi, int64_t* out) {
  if (!IsIntegerKind(v)) return RefuseValue(c, "needs a whole number");
  if (v.i < lo || v.i > hi) {
    return RefuseValue(c, "value " + std::to_string(v.i) + " is outside " + std::to_string(lo) +
                              ".." + std::to_string(hi));
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
    return RefuseValue(c, "needs a number");
  }
  if (!std::isfinite(*out)) return RefuseValue(c, "needs a finite number");
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
        return RefuseValue(c, "needs a currency value");
      }
      PutU32(p, uint32_t(uint64_t(v.i)));
      PutU32(p + 4, uint32_t(uint64_t(v.i) >> 32));
      return Status::OK();
    case ColumnType::kSingle: {
      KP_RETURN_IF_ERROR(FloatOf(c, v, &d));
      if (std::fabs(d) > std::numeric_limits<float>::max())
        return RefuseValue(c, "value is too large");
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
        return RefuseValue(c, "needs exactly " + std::to_string(c.length) + " bytes");
      }
      std::memcpy(p, v.binary.data(), c.length);
      return Status::OK();
    default:
      return RefuseValue(c,
                         std::string("type ") + ColumnTypeName(c.type) + " cannot be fixed-length");
  }
}

}  // namespace

// ---- encoding -----------------------------------------------------------------

Status RefuseValue(const ColumnDef& column, const std::string& what) {
  return Status::InvalidArgument(ColumnName(column) + ": " + what);
}

size_t FixedTypeSize(ColumnType type) {
  switch (type) {
    case ColumnType::kByte:
      return 1;
    case ColumnType::kInteger:
      return 2;
    case ColumnType::kLong:
    case ColumnType::kSingle:
      return 4;
    case ColumnType::kCurrency:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      return 8;
    case ColumnType::kGuid:
      return 16;
    case ColumnType::kNumeric:
      return 17;
    default:
      return 0;
  }
}

Status EncodeBoolean(const ColumnDef& c, const Value& v, bool* bit) {
  if (v.kind != Value::Kind::kBoolean && v.kind != Value::Kind::kInteger) {
    return RefuseValue(c, "needs True or False");
  }
  *bit = v.i != 0;
  return Status::OK();
}

Status EncodeFixedValue(const ColumnDef& c, const Value& v, uint8_t* p) {
  const size_t size = FixedTypeSize(c.type);
  if (size != 0 && c.length != size) {
    return RefuseValue(c, "length " + std::to_string(c.length) + " does not fit its type");
  }
  return EncodeFixed(c, v, p);
}

void EncodeText(const ColumnDef& column, const std::u16string& text, Bytes* out) {
  const size_t n = text.size();
  const char16_t* t = text.data();
  const size_t at = out->size();
  if ((column.ext_flags & kColumnCompressedUnicode) != 0 && n > 2 && n <= kMaxCompressedTextChars) {
    out->resize(at + 2 + n);
    uint8_t* p = out->data() + at;
    p[0] = 0xFF;  // compressed-unicode marker
    p[1] = 0xFE;
    if (NarrowText(t, n, p + 2)) return;
  }
  out->resize(at + 2 * n);
  uint8_t* p = out->data() + at;
  if constexpr (std::endian::native == std::endian::little) {
    if (n != 0) std::memcpy(p, t, 2 * n);
  } else {
    for (size_t k = 0; k < n; ++k) PutU16(p + 2 * k, uint16_t(t[k]));
  }
}

Status EncodeVariableValue(const ColumnDef& c, const Value& v, Bytes* text, VariableBytes* out) {
  switch (c.type) {
    case ColumnType::kText:
      if (v.kind != Value::Kind::kText) return RefuseValue(c, "needs text");
      if (v.text.size() * 2 > c.length) {
        return RefuseValue(c, "text of " + std::to_string(v.text.size()) +
                                  " characters is longer than " + std::to_string(c.length / 2));
      }
      out->in_text = true;
      out->offset = text->size();
      EncodeText(c, v.text, text);
      out->size = text->size() - out->offset;
      return Status::OK();
    case ColumnType::kBinary:
      if (v.kind != Value::Kind::kBinary) return RefuseValue(c, "needs binary data");
      if (v.binary.size() > c.length) {
        return RefuseValue(c, std::to_string(v.binary.size()) + " bytes is longer than " +
                                  std::to_string(c.length));
      }
      out->data = v.binary.data();
      out->size = v.binary.size();
      return Status::OK();
    case ColumnType::kMemo:
      if (v.kind != Value::Kind::kText) return RefuseValue(c, "needs text");
      out->in_text = true;
      out->offset = text->size();
      EncodeText(c, v.text, text);
      out->size = text->size() - out->offset;
      return Status::OK();
    case ColumnType::kOle:
      if (v.kind != Value::Kind::kBinary) return RefuseValue(c, "needs binary data");
      out->data = v.binary.data();
      out->size = v.binary.size();
      return Status::OK();
    default:
      return RefuseValue(
          c, std::string("type ") + ColumnTypeName(c.type) + " cannot be variable-length");
  }
}

// ---- decoding -----------------------------------------------------------------

std::u16string DecodeText(const uint8_t* data, size_t size) {
  std::u16string s;
  DecodeTextInto(data, size, &s);
  return s;
}

void DecodeTextInto(const uint8_t* data, size_t size, std::u16string* out) {
  std::u16string& s = *out;
  s.clear();
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    bool compressed = true;
    size_t start = 2;
    auto segment = [&](size_t from, size_t to) {
      if (compressed) {
        for (size_t i = from; i < to; ++i) s.push_back(char16_t(data[i]));
      } else {
        for (size_t i = from; i + 1 < to; i += 2) s.push_back(char16_t(GetU16(data + i)));
      }
    };
    for (size_t i = 2; i < size; ++i) {
      if (data[i] == 0x00) {
        segment(start, i);
        compressed = !compressed;
        start = i + 1;
      }
    }
    segment(start, size);
    return;
  }
  s.resize(size / 2);
  for (size_t i = 0; i + 1 < size; i += 2) s[i / 2] = char16_t(GetU16(data + i));
}

Status DecodeValue(const ColumnDef& c, const uint8_t* p, size_t n, Value* value) {
  Value& v = *value;
  switch (c.type) {
    case ColumnType::kByte:
      if (n < 1) return Status::Corruption("row: short Byte value");
      v = Value::Int(p[0]);
      break;
    case ColumnType::kInteger:
      if (n < 2) return Status::Corruption("row: short Integer value");
      v = Value::Int(GetI16(p));
      break;
    case ColumnType::kLong:
      if (n < 4) return Status::Corruption("row: short Long value");
      v = Value::Int(GetI32(p));
      break;
    case ColumnType::kCurrency:
      if (n < 8) return Status::Corruption("row: short Currency value");
      v.kind = Value::Kind::kCurrency;
      v.i = int64_t(uint64_t(GetU32(p)) | (uint64_t(GetU32(p + 4)) << 32));
      break;
    case ColumnType::kSingle: {
      if (n < 4) return Status::Corruption("row: short Single value");
      float f;
      uint32_t bits = GetU32(p);
      std::memcpy(&f, &bits, 4);
      v = Value::Double(f);
      break;
    }
    case ColumnType::kDouble:
      if (n < 8) return Status::Corruption("row: short Double value");
      v = Value::Double(GetF64(p));
      break;
    case ColumnType::kDateTime:
      if (n < 8) return Status::Corruption("row: short DateTime value");
      v = Value::DateTime(GetF64(p));
      break;
    case ColumnType::kText:
      v.kind = Value::Kind::kText;
      DecodeTextInto(p, n, &v.text);
      break;
    default:  // Binary, GUID, Numeric and Access's own binary types: raw bytes
      v.kind = Value::Kind::kBinary;
      v.binary.assign(p, p + n);
      break;
  }
  return Status::OK();
}

void DecodeLongValue(const ColumnDef& c, Bytes bytes, Value* v) {
  if (c.type == ColumnType::kMemo) {
    v->kind = Value::Kind::kText;
    DecodeTextInto(bytes.data(), bytes.size(), &v->text);
  } else {
    v->kind = Value::Kind::kBinary;
    v->binary = std::move(bytes);
  }
}

}  // namespace kp::jet
