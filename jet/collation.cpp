#include "jet/collation.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "jet/format.h"

namespace kp::jet {

// The generated table (collation_table.cpp): one record per UTF-16 code unit
// but the surrogates, see tools/collation_gen/gen_collation.py.
extern const uint8_t kGeneralLegacyCodes[];
extern const size_t kGeneralLegacyCodesSize;

namespace {

enum class CodeKind : uint8_t {
  kIgnored,        // X
  kSimple,         // S
  kInternational,  // I, and surrogates
  kUnprintable,    // U
  kModifier,       // P: unprintable, modifies the last extra code
  kInternationalExt,  // Z
};

struct CharCode {
  CodeKind kind = CodeKind::kIgnored;
  uint8_t inline_len = 0;
  uint8_t inline_bytes[4] = {0, 0, 0, 0};
  uint8_t extra_len = 0;
  uint8_t extra[2] = {0, 0};
  uint8_t aux = 0;  // unprintable code, modifier, or the two-bit flag (2 or 3)
};

constexpr char16_t kFirstSurrogate = 0xD800;
constexpr char16_t kFirstLowSurrogate = 0xDC00;
constexpr char16_t kLastSurrogate = 0xDFFF;

// Decodes the generated table into one CharCode per code unit.
std::vector<CharCode> LoadCodes() {
  std::vector<CharCode> codes(0x10000);
  size_t pos = 0;
  uint32_t ch = 0;
  uint16_t last_s2 = 0;
  auto next_char = [&ch]() {
    if (ch == kFirstSurrogate) ch = kLastSurrogate + 1;
  };
  auto byte = [&pos]() { return pos < kGeneralLegacyCodesSize ? kGeneralLegacyCodes[pos++] : uint8_t(0); };
  while (pos < kGeneralLegacyCodesSize && ch < 0x10000) {
    next_char();
    const uint8_t tag = byte();
    if (tag & 0x80) {
      last_s2 = uint16_t(last_s2 + (tag & 0x7F));
      CharCode& c = codes[ch++];
      c.kind = CodeKind::kSimple;
      c.inline_len = 2;
      c.inline_bytes[0] = uint8_t(last_s2 >> 8);
      c.inline_bytes[1] = uint8_t(last_s2);
      continue;
    }
    if (tag == 0) {  // a run of ignored code units
      for (uint8_t n = byte(); n > 0 && ch < 0x10000; --n) {
        next_char();
        ++ch;
      }
      continue;
    }
    CharCode& c = codes[ch++];
    auto read_bytes = [&byte](uint8_t* out, uint8_t* len, uint8_t max) {
      *len = byte();
      for (uint8_t i = 0; i < *len; ++i) {
        const uint8_t b = byte();
        if (i < max) out[i] = b;
      }
      if (*len > max) *len = max;
    };
    switch (tag) {
      case 1:
        c.kind = CodeKind::kSimple;
        read_bytes(c.inline_bytes, &c.inline_len, 4);
        if (c.inline_len == 2) last_s2 = uint16_t(c.inline_bytes[0] << 8 | c.inline_bytes[1]);
        break;
      case 2:
        c.kind = CodeKind::kInternational;
        read_bytes(c.inline_bytes, &c.inline_len, 4);
        read_bytes(c.extra, &c.extra_len, 2);
        break;
      case 3:
        c.kind = CodeKind::kUnprintable;
        c.aux = byte();
        break;
      case 4:
        c.kind = CodeKind::kModifier;
        c.aux = byte();
        break;
      case 5:
        c.kind = CodeKind::kInternationalExt;
        read_bytes(c.inline_bytes, &c.inline_len, 4);
        read_bytes(c.extra, &c.extra_len, 2);
        c.aux = byte();
        break;
      default:
        break;  // cannot happen with the generated table
    }
  }
  return codes;
}

const std::vector<CharCode>& Codes() {
  static const std::vector<CharCode> codes = LoadCodes();
  return codes;
}

// Surrogate code units are not in the table: their codes are computed.
CharCode SurrogateCode(char16_t c) {
  int index;
  if (c < kFirstLowSurrogate) {
    index = int(c) - 10238;
  } else {
    const int offset = (int(c) - kFirstLowSurrogate) % 1024;
    int base;
    if (offset < 8) base = 9992;
    else if (offset < 8 + 254) base = 9990;
    else if (offset < 8 + 2 * 254) base = 9988;
    else if (offset < 8 + 3 * 254) base = 9986;
    else base = 9984;
    index = int(c) - base;
  }
  CharCode code;
  code.kind = CodeKind::kInternational;
  code.inline_len = 2;
  code.inline_bytes[0] = uint8_t(index >> 8);
  code.inline_bytes[1] = uint8_t(index);
  code.extra_len = 1;
  code.extra[0] = 0x3F;
  return code;
}

constexpr size_t kMaxIndexedChars = 255;
constexpr uint8_t kEndText = 0x01;
constexpr uint8_t kEndExtraText = 0x00;
constexpr uint8_t kExtraPlaceholder = 0x02;
constexpr uint8_t kFlagByteStart = 0x80;
constexpr uint8_t kFlagTrimmed = 0x03;
constexpr uint8_t kFlagsSuffix[5] = {0xFF, 0x02, 0x80, 0xFF, 0x80};
constexpr uint8_t kFlagsBeforeUnprintable = 0xFF;
constexpr int kUnprintableStart = 7;
constexpr int kUnprintableStep = 4;
constexpr uint16_t kUnprintableFlag = 0x8000;
constexpr uint8_t kUnprintableMidfix = 0x06;

void InvertFrom(Bytes* key, size_t from) {
  for (size_t i = from; i < key->size(); ++i) (*key)[i] = uint8_t(~(*key)[i]);
}

}  // namespace

void AppendGeneralLegacyTextKeyBytes(const std::u16string& input, bool ascending, Bytes* key) {
  const size_t start = key->size();
  size_t n = std::min(input.size(), kMaxIndexedChars);
  while (n > 0 && input[n - 1] == u' ') --n;

  const auto& table = Codes();
  Bytes extra;                 // extra codes of international characters
  bool have_extra = false;     // whether the extra stream was started
  size_t extra_chars = 0;      // characters the extra stream accounts for
  size_t extra_prefix = 0;     // modifier bytes written before any extra code
  Bytes unprintable;
  std::vector<uint8_t> flags;
  size_t position = 0;         // characters with inline codes so far

  for (size_t i = 0; i < n; ++i) {
    const char16_t ch = input[i];
    const CharCode code = (ch >= kFirstSurrogate && ch <= kLastSurrogate) ? SurrogateCode(ch) : table[ch];
    const size_t here = position;
    if (code.inline_len > 0) {
      key->insert(key->end(), code.inline_bytes, code.inline_bytes + code.inline_len);
      ++position;
    }
    if (code.kind == CodeKind::kSimple || code.kind == CodeKind::kIgnored) continue;

    if (code.extra_len > 0 || code.kind == CodeKind::kModifier) {
      have_extra = true;
      if (extra_chars < here) {
        extra.insert(extra.end(), here - extra_chars, kExtraPlaceholder);
        extra_chars = here;
      }
      if (code.extra_len > 0) {
        extra.insert(extra.end(), code.extra, code.extra + code.extra_len);
        ++extra_chars;
      } else if (!extra.empty()) {
        extra.back() = uint8_t(extra.back() + code.aux);
      } else {
        extra.push_back(code.aux);
        extra_prefix = 1;
      }
    }
    if (code.kind == CodeKind::kUnprintable) {
      size_t at = here;
      if (have_extra) at = extra.size() + (here - extra_chars) - extra_prefix;
      const uint16_t offset = uint16_t((kUnprintableStart + kUnprintableStep * at) | kUnprintableFlag);
      unprintable.push_back(uint8_t(offset >> 8));
      unprintable.push_back(uint8_t(offset));
      unprintable.push_back(kUnprintableMidfix);
      unprintable.push_back(code.aux);
    }
    if (code.kind == CodeKind::kInternationalExt) flags.push_back(code.aux);
  }

  key->push_back(kEndText);
  while (!extra.empty() && extra.back() <= kExtraPlaceholder) extra.pop_back();
  key->insert(key->end(), extra.begin(), extra.end());
  const bool have_flags = !flags.empty();
  if (have_flags || !unprintable.empty()) {
    key->push_back(kEndText);
    key->push_back(kEndText);
    if (have_flags) {
      while (!flags.empty() && flags.back() == kFlagTrimmed) flags.pop_back();
      for (size_t i = 0; i < flags.size(); i += 3) {
        uint8_t b = kFlagByteStart;
        for (size_t j = 0; j < 3 && i + j < flags.size(); ++j) b |= uint8_t(flags[i + j] << ((2 - j) * 2));
        key->push_back(b);
      }
      key->insert(key->end(), kFlagsSuffix, kFlagsSuffix + sizeof kFlagsSuffix);
      if (!unprintable.empty()) key->push_back(kFlagsBeforeUnprintable);
    }
    if (!unprintable.empty()) {
      key->push_back(kEndText);
      key->insert(key->end(), unprintable.begin(), unprintable.end());
    }
  }
  if (!ascending) {
    key->push_back(kEndExtraText);
    InvertFrom(key, start);
  }
  key->push_back(kEndExtraText);
}

void AppendIntegerKeyBytes(int64_t value, int width, bool ascending, Bytes* key) {
  uint8_t k[8];
  const uint8_t invert = ascending ? 0x00 : 0xFF;
  for (int i = 0; i < width; ++i) k[i] = uint8_t(uint64_t(value) >> (8 * (width - 1 - i))) ^ invert;
  k[0] ^= 0x80;
  key->insert(key->end(), k, k + width);
}

void AppendByteKeyBytes(uint8_t value, bool ascending, Bytes* key) { key->push_back(ascending ? value : uint8_t(~value)); }

void AppendDoubleKeyBytes(double value, int width, bool ascending, Bytes* key) {
  const size_t start = key->size();
  if (width == 4) {
    const float f = float(value);
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    for (int i = 3; i >= 0; --i) key->push_back(uint8_t(bits >> (8 * i)));
  } else {
    uint64_t bits;
    std::memcpy(&bits, &value, 8);
    for (int i = 7; i >= 0; --i) key->push_back(uint8_t(bits >> (8 * i)));
  }
  const bool negative = ((*key)[start] & 0x80) != 0;
  if (!negative) (*key)[start] ^= 0x80;
  if (negative == ascending) InvertFrom(key, start);
}

void AppendBooleanKeyBytes(bool value, bool ascending, Bytes* key) {
  key->push_back(value == ascending ? 0x00 : 0xFF);
}

Status AppendIndexKey(const ColumnDef& column, const Value& value, bool ascending, Bytes* key) {
  const uint8_t start_flag = ascending ? 0x7F : 0x80;
  if (column.type == ColumnType::kBoolean) {
    key->push_back(start_flag);
    AppendBooleanKeyBytes(!value.is_null() && value.i != 0, ascending, key);
    return Status::OK();
  }
  if (value.is_null()) {
    key->push_back(ascending ? 0x00 : 0xFF);
    return Status::OK();
  }
  auto wrong_kind = [&] {
    return Status::InvalidArgument("index key of column " + std::string(column.name.begin(), column.name.end()) +
                                   ": value of the wrong kind");
  };
  switch (column.type) {
    case ColumnType::kByte:
      if (value.kind != Value::Kind::kInteger) return wrong_kind();
      key->push_back(start_flag);
      AppendByteKeyBytes(uint8_t(value.i), ascending, key);
      return Status::OK();
    case ColumnType::kInteger:
    case ColumnType::kLong:
      if (value.kind != Value::Kind::kInteger) return wrong_kind();
      {  // the common key, written in place
        const size_t at = key->size();
        const int width = column.type == ColumnType::kInteger ? 2 : 4;
        key->resize(at + 1 + size_t(width));
        PutWholeNumberKey(value.i, width, ascending, key->data() + at);
      }
      return Status::OK();
    case ColumnType::kCurrency:
      if (value.kind != Value::Kind::kCurrency && value.kind != Value::Kind::kInteger) return wrong_kind();
      key->push_back(start_flag);
      AppendIntegerKeyBytes(value.i, 8, ascending, key);
      return Status::OK();
    case ColumnType::kSingle:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      if (value.kind != Value::Kind::kDateTime && value.kind != Value::Kind::kDouble) return wrong_kind();
      key->push_back(start_flag);
      AppendDoubleKeyBytes(value.d, column.type == ColumnType::kSingle ? 4 : 8, ascending, key);
      return Status::OK();
    case ColumnType::kText:
    case ColumnType::kMemo:
      if (value.kind != Value::Kind::kText) return wrong_kind();
      key->push_back(start_flag);
      AppendGeneralLegacyTextKeyBytes(value.text, ascending, key);
      return Status::OK();
    default:
      return Status::NotSupported(std::string("index keys of ") + ColumnTypeName(column.type) + " columns");
  }
}

void AppendIndexRowPointer(uint32_t page, uint8_t row_number, Bytes* entry) {
  const size_t at = entry->size();
  entry->resize(at + 4);
  uint8_t* p = entry->data() + at;
  p[0] = uint8_t(page >> 16);  // data page, big-endian
  p[1] = uint8_t(page >> 8);
  p[2] = uint8_t(page);
  p[3] = row_number;  // row
}

Status BuildIndexEntry(const TableDef& def, const PhysicalIndex& index, const Row& row, uint32_t page,
                       uint8_t row_number, Bytes* entry) {
  entry->clear();
  for (const IndexColumn& ic : index.columns) {
    size_t at = def.columns.size();
    for (size_t i = 0; i < def.columns.size(); ++i) {
      if (def.columns[i].number == ic.column_number) at = i;
    }
    if (at == def.columns.size() || at >= row.size()) {
      return Status::Corruption("index names column " + std::to_string(ic.column_number) + ", which the table lacks");
    }
    KP_RETURN_IF_ERROR(AppendIndexKey(def.columns[at], row[at], (ic.flags & kIndexColumnAscending) != 0, entry));
  }
  AppendIndexRowPointer(page, row_number, entry);
  return Status::OK();
}

}  // namespace kp::jet
