// The encoders the builder takes from the rest of the layer. Text keys and
// index leaves are provisional until the layer's own collation and index_leaf
// modules are in.
#include "export/jet/builder_parts.h"

#include <algorithm>
#include <cstring>

#include "export/jet/format.h"
#include "export/jet/props.h"
#include "export/jet/usage_map.h"

namespace kp::jet {

namespace {
constexpr size_t kPage = kPageSize;
}  // namespace

bool FitsInlineUsageMap(const std::set<uint32_t>& pages) { return UsageMap(pages).FitsInline(); }

size_t ReferenceMapSlots(const std::set<uint32_t>& pages) {
  return pages.empty() ? 0 : *pages.rbegin() / kUsageBitmapPageSpan + 1;
}

Status EncodeReferenceUsageMap(const std::set<uint32_t>& pages, const std::vector<uint32_t>& bitmap_pages,
                               Bytes* row, std::vector<Bytes>* bitmaps) {
  const size_t slots = ReferenceMapSlots(pages);
  if (slots > kUsageMapReferenceSlotCount) return Status::NotSupported("usage map beyond 17 bitmap pages");
  if (bitmap_pages.size() != slots) return Status::InvalidArgument("wrong number of bitmap pages");
  bitmaps->assign(slots, Bytes());
  for (size_t k = 0; k < slots; ++k) EncodeUsageBitmapPage(pages, uint32_t(k), &(*bitmaps)[k]);
  return EncodeReferenceUsageMapRow(bitmap_pages, row);
}

Status EncodeUsageMapRow(const std::set<uint32_t>& pages, Bytes* row) {
  return EncodeInlineUsageMap(pages, kUsageMapInlineBitmapBytes, row);
}

// The global map grows with the file as Access lets it: an inline row from
// page 0 whose bitmap covers at least 512 pages, lengthened in steps of 32
// pages (a 743-page Access file has a 96-byte bitmap).
Status EncodeGlobalMapRow(uint32_t page_count, Bytes* row) {
  const size_t bytes = std::max<size_t>(kUsageMapInlineBitmapBytes, (size_t(page_count) + 31) / 32 * 4);
  if (5 + bytes > kMaxDataRowBytes) return Status::NotSupported("file too large for an inline global map");
  return EncodeGlobalMap(page_count, bytes, row);
}

void AppendLongKey(int32_t value, Bytes* key) {
  const uint32_t v = uint32_t(value) ^ 0x80000000u;
  key->push_back(0x7F);
  key->push_back(uint8_t(v >> 24));
  key->push_back(uint8_t(v >> 16));
  key->push_back(uint8_t(v >> 8));
  key->push_back(uint8_t(v));
}

namespace {

// Index codes of one character, as the General Legacy sort order lists them:
// its inline code bytes, extra bytes (international characters) and, for the
// extended international kind, a two-bit flag (2 or 3).
struct CharCodes {
  uint16_t ch;
  const char* inline_hex;
  const char* extra_hex;
  uint8_t flag;  // 0: simple character
};

// The characters of the template's table names outside ASCII (a provisional
// subset: the full table covers every character).
constexpr CharCodes kNameCodes[] = {
    {0x307F, "7F33", "", 3}, {0x3081, "7F35", "", 3}, {0x30A1, "7F02", "", 2},
    {0x30A4, "7F03", "", 3}, {0x30AD, "7F0B", "", 3}, {0x30AF, "7F0C", "", 3},
    {0x30B3, "7F0E", "", 3}, {0x30B8, "7F13", "03", 3}, {0x30C8, "7F1E", "", 3},
    {0x30C9, "7F1E", "03", 3}, {0x30CF, "7F2A", "", 3}, {0x30D1, "7F2A", "04", 3},
    {0x30D5, "7F2C", "", 3}, {0x30DA, "7F2D", "04", 3}, {0x30DE, "7F32", "", 3},
    {0x30E1, "7F35", "", 3}, {0x30EA, "7F43", "", 3}, {0x30EB, "7F44", "", 3},
    {0x30EF, "7F4A", "", 3}, {0x30F3, "7F80", "", 3}, {0x30FC, "4A", "", 0},
    {0x4E00, "9F02", "", 0}, {0x56F2, "A838", "", 0}, {0x57CB, "A916", "", 0},
    {0x7BC4, "CD80", "", 0}, {0x89A7, "DB81", "", 0}, {0x8FBC, "E1A6", "", 0},
};

void AppendHex(const char* hex, Bytes* out) {
  auto nibble = [](char c) { return uint8_t(c <= '9' ? c - '0' : c - 'A' + 10); };
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) out->push_back(uint8_t(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
}

}  // namespace

// Text key: the inline codes of every character, 01; then, when there are
// international characters, their extra codes (02 standing for each plain
// character before one), trailing 00-02 bytes dropped; then, when there are
// extended international characters, 01 01, their flags packed three to a
// byte under 0x80 (trailing 3s dropped), FF 02 80 FF 80; finally 00.
Status AppendTextKey(const std::u16string& text, Bytes* key) {
  // General Legacy codes of the printable ASCII characters 0x20-0x7E (two-byte
  // codes as high << 8 | low; 0 = not simple).
  static const uint16_t kCodes[95] = {
      0x07, 0x09, 0x0A, 0x0C, 0x0E, 0x10, 0x12, 0, 0x14, 0x16, 0x18, 0x2C, 0x1A, 0, 0x1C, 0x1E,
      0x36, 0x38, 0x3A, 0x3C, 0x3E, 0x40, 0x42, 0x44, 0x46, 0x48, 0x20, 0x22, 0x2E, 0x30, 0x32, 0x24,
      0x26, 0x4A, 0x4C, 0x4D, 0x4F, 0x51, 0x53, 0x55, 0x57, 0x59, 0x5B, 0x5C, 0x5E, 0x60, 0x62, 0x64,
      0x66, 0x68, 0x69, 0x6B, 0x6D, 0x6F, 0x71, 0x73, 0x75, 0x76, 0x78, 0x27, 0x29, 0x2A, 0x2B02, 0x2B03,
      0x2B07, 0x4A, 0x4C, 0x4D, 0x4F, 0x51, 0x53, 0x55, 0x57, 0x59, 0x5B, 0x5C, 0x5E, 0x60, 0x62, 0x64,
      0x66, 0x68, 0x69, 0x6B, 0x6D, 0x6F, 0x71, 0x73, 0x75, 0x76, 0x78, 0x2B09, 0x2B0B, 0x2B0D, 0x2B0F};
  size_t n = text.size();
  while (n > 0 && text[n - 1] == u' ') --n;  // trailing spaces are dropped
  Bytes extra;
  size_t extra_chars = 0;  // characters the extra codes account for
  std::vector<uint8_t> flags;
  key->push_back(0x7F);
  for (size_t i = 0; i < n; ++i) {
    const char16_t c = text[i];
    if (c >= 0x20 && c <= 0x7E && kCodes[c - 0x20] != 0) {
      const uint16_t code = kCodes[c - 0x20];
      if (code > 0xFF) key->push_back(uint8_t(code >> 8));
      key->push_back(uint8_t(code));
      continue;
    }
    const CharCodes* cc = nullptr;
    for (const CharCodes& k : kNameCodes) {
      if (k.ch == c) cc = &k;
    }
    if (cc == nullptr) return Status::NotSupported("no index code for character " + Hex(c));
    AppendHex(cc->inline_hex, key);
    if (cc->flag == 0) continue;
    if (cc->extra_hex[0] != '\0') {
      while (extra_chars < i) {
        extra.push_back(0x02);
        ++extra_chars;
      }
      AppendHex(cc->extra_hex, &extra);
      ++extra_chars;
    }
    flags.push_back(cc->flag);
  }
  key->push_back(0x01);  // end of text
  while (!extra.empty() && extra.back() <= 0x02) extra.pop_back();
  key->insert(key->end(), extra.begin(), extra.end());
  if (!flags.empty()) {
    key->push_back(0x01);
    key->push_back(0x01);
    while (!flags.empty() && flags.back() == 3) flags.pop_back();
    for (size_t i = 0; i < flags.size(); i += 3) {
      uint8_t b = 0x80;
      for (size_t j = 0; j < 3 && i + j < flags.size(); ++j) b |= uint8_t(flags[i + j] << (2 * (2 - j)));
      key->push_back(b);
    }
    for (uint8_t b : {0xFF, 0x02, 0x80, 0xFF, 0x80}) key->push_back(b);
  }
  key->push_back(0x00);  // end of extra codes
  return Status::OK();
}

// Leaf: 04 01, u16 free, u32 TDEF page, u32 0, prev/next/tail 0, u16 prefix
// 0, u8 0, 453-byte entry-end mask at 27, entries from 480.
Status BuildSingleLeaf(uint32_t tdef_page, const std::vector<Bytes>& entries, Bytes* page) {
  page->assign(kPage, 0);
  Bytes& p = *page;
  p[0] = 0x04;
  p[1] = 0x01;
  PutU32(&p[4], tdef_page);
  size_t at = 480;
  for (const Bytes& e : entries) {
    if (at + e.size() > kPage) return Status::NotSupported("index does not fit one leaf page");
    std::memcpy(&p[at], e.data(), e.size());
    at += e.size();
    const size_t bit = at - 480;
    p[27 + bit / 8] |= uint8_t(1u << (bit % 8));
  }
  PutU16(&p[2], uint16_t(kPage - at));
  return Status::OK();
}

Status SerializePropertyBlob(const PropertySet& props, const std::vector<std::u16string>& column_order,
                             Bytes* blob) {
  return SerializePropertySet(props, blob, &column_order);
}

}  // namespace kp::jet
