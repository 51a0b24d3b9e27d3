// Provisional encoders, to be replaced by the layer's own usage_map, props,
// collation and index_leaf modules.
#include "export/jet/builder_parts.h"

#include <algorithm>
#include <cstring>

namespace kp::jet {

namespace {
constexpr size_t kPage = 4096;
constexpr size_t kInlineBitmapBytes = 64;
constexpr uint32_t kInlinePages = 8 * kInlineBitmapBytes;
}  // namespace

bool FitsInlineUsageMap(const std::set<uint32_t>& pages) {
  if (pages.empty() || *pages.rbegin() < kInlinePages) return true;
  return *pages.rbegin() - (*pages.begin() & ~7u) < kInlinePages;
}

// Reference map row: u8 1, 17 x u32 bitmap page (0 = none). Bitmap page:
// 05 01 00 00, then 4092 bytes, bit n = page k * 32736 + n.
constexpr uint32_t kPagesPerBitmapPage = 8 * 4092;
constexpr size_t kReferenceSlots = 17;

size_t ReferenceMapSlots(const std::set<uint32_t>& pages) {
  return pages.empty() ? 0 : *pages.rbegin() / kPagesPerBitmapPage + 1;
}

Status EncodeReferenceUsageMap(const std::set<uint32_t>& pages, const std::vector<uint32_t>& bitmap_pages,
                               Bytes* row, std::vector<Bytes>* bitmaps) {
  const size_t slots = ReferenceMapSlots(pages);
  if (slots > kReferenceSlots) return Status::NotSupported("usage map beyond 17 bitmap pages");
  if (bitmap_pages.size() != slots) return Status::InvalidArgument("wrong number of bitmap pages");
  bitmaps->assign(slots, Bytes());
  for (size_t k = 0; k < slots; ++k) {
    (*bitmaps)[k].assign(kPage, 0);
    Bytes& b = (*bitmaps)[k];
    b[0] = 0x05;  // page type: usage-map bitmap
    b[1] = 0x01;
  }
  for (uint32_t p : pages) {
    const uint32_t bit = p % kPagesPerBitmapPage;
    (*bitmaps)[p / kPagesPerBitmapPage][4 + bit / 8] |= uint8_t(1u << (bit % 8));
  }
  row->assign(1 + 4 * kReferenceSlots, 0);
  (*row)[0] = 0x01;  // map type: reference
  for (size_t k = 0; k < slots; ++k) PutU32(row->data() + 1 + 4 * k, bitmap_pages[k]);
  return Status::OK();
}

// Inline map row: u8 0, u32 start page (a multiple of 8), 64-byte bitmap,
// bit n = page start + n.
Status EncodeUsageMapRow(const std::set<uint32_t>& pages, Bytes* row) {
  uint32_t start = 0;
  if (!pages.empty() && *pages.rbegin() >= kInlinePages) start = *pages.begin() & ~7u;
  if (!pages.empty() && *pages.rbegin() - start >= kInlinePages) {
    return Status::NotSupported("usage map spanning more than 512 pages");
  }
  row->assign(5 + kInlineBitmapBytes, 0);
  (*row)[0] = 0x00;             // map type: inline
  PutU32(row->data() + 1, start);  // start page
  for (uint32_t p : pages) (*row)[5 + (p - start) / 8] |= uint8_t(1u << ((p - start) % 8));
  return Status::OK();
}

// The global map grows with the file as Access lets it: an inline row from
// page 0 whose bitmap covers at least 512 pages, lengthened in steps of 32
// pages (a 743-page Access file has a 96-byte bitmap).
Status EncodeGlobalMapRow(uint32_t page_count, Bytes* row) {
  size_t bytes = std::max<size_t>(kInlineBitmapBytes, (size_t(page_count) + 31) / 32 * 4);
  if (5 + bytes > 4060) return Status::NotSupported("file too large for an inline global map");
  row->assign(5 + bytes, 0);
  for (size_t p = page_count; p < 8 * bytes; ++p) (*row)[5 + p / 8] |= uint8_t(1u << (p % 8));
  return Status::OK();
}

void AppendLongKey(int32_t value, Bytes* key) {
  const uint32_t v = uint32_t(value) ^ 0x80000000u;
  key->push_back(0x7F);
  key->push_back(uint8_t(v >> 24));
  key->push_back(uint8_t(v >> 16));
  key->push_back(uint8_t(v >> 8));
  key->push_back(uint8_t(v));
}

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
  key->push_back(0x7F);
  for (size_t i = 0; i < n; ++i) {
    const char16_t c = text[i];
    const uint16_t code = (c >= 0x20 && c <= 0x7E) ? kCodes[c - 0x20] : 0;
    if (code == 0) return Status::NotSupported("no index code for this character");
    if (code > 0xFF) key->push_back(uint8_t(code >> 8));
    key->push_back(uint8_t(code));
  }
  key->push_back(0x01);  // end of text
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

Status SerializePropertyBlob(const PropertySet& props, Bytes* blob) {
  std::vector<std::u16string> names;
  auto index_of = [&](const std::u16string& n) {
    for (size_t i = 0; i < names.size(); ++i) if (names[i] == n) return i;
    names.push_back(n);
    return names.size() - 1;
  };
  for (const auto& [n, p] : props.table) index_of(n);
  for (const auto& [c, m] : props.columns) for (const auto& [n, p] : m) index_of(n);
  auto chunk = [&](uint16_t type, const Bytes& body) {
    AppendU32(blob, uint32_t(6 + body.size()));
    AppendU16(blob, type);
    AppendBytes(blob, body.data(), body.size());
  };
  auto value_chunk = [&](uint16_t type, const std::u16string& name, const PropertyMap& m) {
    Bytes body;
    AppendU32(&body, uint32_t(6 + 2 * name.size()));
    AppendU16(&body, uint16_t(2 * name.size()));
    for (char16_t ch : name) AppendU16(&body, ch);
    for (const auto& [n, p] : m) {
      AppendU16(&body, uint16_t(8 + p.value.size()));
      AppendU8(&body, p.ddl_flag);
      AppendU8(&body, p.type);
      AppendU16(&body, uint16_t(index_of(n)));
      AppendU16(&body, uint16_t(p.value.size()));
      AppendBytes(&body, p.value.data(), p.value.size());
    }
    chunk(type, body);
  };
  blob->assign({'M', 'R', '2', 0});
  Bytes list;
  for (const auto& n : names) {
    AppendU16(&list, uint16_t(2 * n.size()));
    for (char16_t ch : n) AppendU16(&list, ch);
  }
  chunk(0x80, list);
  if (!props.table.empty()) value_chunk(0x00, u"", props.table);
  for (const auto& [c, m] : props.columns) if (!m.empty()) value_chunk(0x01, c, m);
  return Status::OK();
}

}  // namespace kp::jet
