#include "jet/index_leaf.h"

#include <algorithm>
#include <cstring>

#include "jet/format.h"

namespace kp::jet {

bool IndexPage::is_leaf() const { return type == kPageTypeIndexLeaf; }

Status DecodeIndexPage(const uint8_t* page, uint32_t page_number, IndexPage* out) {
  // Built only for a message: the decoding of a page allocates nothing once
  // `out` has held a page of as many entries.
  auto where = [page_number] { return "index page " + std::to_string(page_number); };
  size_t count = 0;
  if ((page[0] != kPageTypeIndexLeaf && page[0] != kPageTypeIndexNode) || page[1] != 0x01) {
    *out = IndexPage();
    return Status::Corruption(where() + " has type " + Hex(page[0]) + ", not an index page");
  }
  out->type = page[0];
  out->free_space = GetU16(page + kIndexFreeSpaceOffset);
  out->tdef_page = GetU32(page + kIndexTdefOffset);
  out->prev_page = GetU32(page + kIndexPrevPageOffset);
  out->next_page = GetU32(page + kIndexNextPageOffset);
  out->tail_page = GetU32(page + kIndexTailPageOffset);
  out->prefix_length = GetU16(page + kIndexPrefixLengthOffset);
  out->entries_end = 0;
  const bool node = page[0] == kPageTypeIndexNode;
  const size_t min_entry = kIndexRowPointerBytes + (node ? kIndexChildPointerBytes : 0);
  const size_t room = kPageSize - kIndexEntriesOffset;
  const uint8_t* base = page + kIndexEntriesOffset;
  size_t last = 0;
  // Whole entries go into the entries already there (keeping their
  // buffers); the list is cut to its length at the end, or on a failure.
  auto fail = [&](const std::string& what) {
    out->entries.resize(count);
    return Status::Corruption(where() + what);
  };
  for (size_t n = 1; n <= room && n < kIndexMaskBytes * 8; ++n) {
    if (!(page[kIndexMaskOffset + n / 8] & (1u << (n % 8)))) continue;
    if (count == 0 && out->prefix_length > n - last) {
      return fail(": prefix length " + std::to_string(out->prefix_length) + " is longer than its first entry");
    }
    if (count == out->entries.size()) out->entries.emplace_back();
    Bytes& entry = out->entries[count];
    const size_t prefix = count == 0 ? 0 : out->prefix_length;
    entry.resize(prefix + (n - last));
    if (prefix > 0) std::memcpy(entry.data(), base, prefix);  // the first entry's first bytes
    std::memcpy(entry.data() + prefix, base + last, n - last);
    if (entry.size() < min_entry + 1) {
      return fail(": entry " + std::to_string(count) + " of " + std::to_string(entry.size()) + " bytes is too short");
    }
    ++count;
    last = n;
  }
  out->entries.resize(count);
  // Mask bits past the room for entries.
  for (size_t n = room + 1; n < kIndexMaskBytes * 8; ++n) {
    if (page[kIndexMaskOffset + n / 8] & (1u << (n % 8))) {
      return Status::Corruption(where() + ": entry mask marks an end past the page (" + std::to_string(n) + ")");
    }
  }
  if (out->entries.empty() && out->prefix_length != 0) {
    return Status::Corruption(where() + ": prefix length without entries");
  }
  out->entries_end = uint32_t(last);
  return Status::OK();
}

bool LeafFits(size_t total_entry_bytes) { return total_entry_bytes <= kPageSize - kIndexEntriesOffset; }

Status BuildLeafPage(uint32_t tdef_page, const std::vector<Bytes>& entries, Bytes* page) {
  size_t total = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].size() <= kIndexRowPointerBytes) {
      return Status::InvalidArgument("index entry " + std::to_string(i) + " has no key");
    }
    if (i > 0 && !(entries[i - 1] < entries[i])) {
      return Status::InvalidArgument("index entries are not in strictly ascending order at entry " +
                                     std::to_string(i));
    }
    total += entries[i].size();
  }
  if (!LeafFits(total)) {
    return Status::NotSupported("index entries of " + std::to_string(total) + " bytes do not fit one leaf page");
  }
  page->assign(kPageSize, 0);
  uint8_t* p = page->data();
  p[0] = kPageTypeIndexLeaf;                                         // page type
  p[1] = 0x01;
  PutU16(p + kIndexFreeSpaceOffset, uint16_t(kPageSize - kIndexEntriesOffset - total));  // free space
  PutU32(p + kIndexTdefOffset, tdef_page);                           // owning table
  // prev / next / tail pages and prefix length stay 0
  size_t end = 0;
  for (const Bytes& e : entries) {
    std::copy(e.begin(), e.end(), p + kIndexEntriesOffset + end);    // entry
    end += e.size();
    p[kIndexMaskOffset + end / 8] |= uint8_t(1u << (end % 8));      // entry-end mask bit
  }
  return Status::OK();
}

bool IndexEntryRow(const Bytes& entry, bool node, uint32_t* page, uint8_t* row) {
  const size_t tail = kIndexRowPointerBytes + (node ? kIndexChildPointerBytes : 0);
  if (entry.size() < tail) return false;
  const uint8_t* r = entry.data() + entry.size() - tail;
  *page = uint32_t(r[0]) << 16 | uint32_t(r[1]) << 8 | r[2];
  *row = r[3];
  return true;
}

bool IndexEntryChild(const Bytes& entry, uint32_t* child) {
  if (entry.size() < kIndexChildPointerBytes) return false;
  const uint8_t* c = entry.data() + entry.size() - kIndexChildPointerBytes;
  *child = uint32_t(c[0]) << 24 | uint32_t(c[1]) << 16 | uint32_t(c[2]) << 8 | c[3];
  return true;
}

}  // namespace kp::jet
