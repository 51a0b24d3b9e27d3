#include "jet/map_editor.h"

#include <algorithm>
#include <cstring>

#include "jet/format.h"

namespace kp::jet {

namespace {


bool TestBit(const uint8_t* bits, size_t n) { return (bits[n / 8] >> (n % 8)) & 1; }
void SetBit(uint8_t* bits, size_t n) { bits[n / 8] |= uint8_t(1u << (n % 8)); }
void ClearBit(uint8_t* bits, size_t n) { bits[n / 8] &= uint8_t(~(1u << (n % 8))); }

// The highest set bit among `count` bytes, or -1.
long HighestBit(const uint8_t* bits, size_t count) {
  for (size_t i = count; i-- > 0;) {
    if (bits[i] == 0) continue;
    for (int b = 7; b >= 0; --b) {
      if ((bits[i] >> b) & 1) return long(8 * i + size_t(b));
    }
  }
  return -1;
}

}  // namespace

Status UsageMapEditor::Error(const std::string& message) const {
  return Status::Corruption(what_ + " (usage map at page " + std::to_string(page_) + "): " + message);
}

Status UsageMapEditor::Open(Pager* pager, uint32_t pointer, const std::string& what) {
  pager_ = pager;
  what_ = what;
  page_ = pointer >> 8;
  const uint32_t row = pointer & 0xFF;
  if (pointer == 0 || page_ >= pager->page_count()) return Error("pointer " + Hex(pointer) + " is out of range");
  uint8_t* p = nullptr;
  KP_RETURN_IF_ERROR(pager_->Get(page_, &p));
  if (p[0] != kPageTypeData) return Error("not a data page");
  const uint16_t rows = GetU16(p + 12);
  if (row >= rows || rows > 255) return Error("row " + std::to_string(row) + " is not on the page");
  const uint16_t raw = GetU16(p + kDataRowOffsetsOffset + 2 * row);
  const size_t start = raw & kRowOffsetMask;
  const size_t end = row == 0 ? kPageSize : (GetU16(p + kDataRowOffsetsOffset + 2 * (row - 1)) & kRowOffsetMask);
  if ((raw & kRowOffsetFlagBits) != 0 || start < kDataRowOffsetsOffset + 2 * size_t(rows) || end > kPageSize ||
      start + kUsageMapInlineHeaderBytes > end) {
    return Error("row " + std::to_string(row) + " has a bad offset");
  }
  offset_ = uint16_t(start);
  length_ = uint16_t(end - start);
  const uint8_t type = p[start];
  if (type > 1) return Error("unknown map type " + std::to_string(type));
  return Status::OK();
}

Status UsageMapEditor::Row(uint8_t** row) {
  uint8_t* p = nullptr;
  KP_RETURN_IF_ERROR(pager_->Get(page_, &p));
  *row = p + offset_;
  return Status::OK();
}

Status UsageMapEditor::BitmapPage(size_t slot, bool create, uint8_t** bitmap) {
  *bitmap = nullptr;
  uint8_t* row = nullptr;
  KP_RETURN_IF_ERROR(Row(&row));
  const size_t slots = std::min(kUsageMapReferenceSlotCount, (size_t(length_) - 1) / 4);
  if (slot >= slots) {
    if (!create) return Status::OK();
    return Status::NotSupported(what_ + ": a page beyond the reach of its usage map");
  }
  uint32_t n = GetU32(row + 1 + 4 * slot);
  if (n == 0) {
    if (!create) return Status::OK();
    KP_RETURN_IF_ERROR(pager_->Allocate(WriteClass::kMaps, &n));
    uint8_t* b = nullptr;
    KP_RETURN_IF_ERROR(pager_->Get(n, &b));
    b[0] = 0x05;  // page type: usage-map bitmap
    b[1] = 0x01;
    KP_RETURN_IF_ERROR(Row(&row));
    PutU32(row + 1 + 4 * slot, n);  // bitmap page of this slot
    pager_->MarkDirty(page_, WriteClass::kMaps);
    *bitmap = b;
    return Status::OK();
  }
  if (n >= pager_->page_count()) return Error("bitmap page " + std::to_string(n) + " is out of range");
  uint8_t* b = nullptr;
  KP_RETURN_IF_ERROR(pager_->Get(n, &b));
  if (b[0] != kPageTypeUsageBitmap) return Error("page " + std::to_string(n) + " is not a usage-map bitmap page");
  *bitmap = b;
  return Status::OK();
}

size_t UsageMapEditor::InlineBits() const { return 8 * (size_t(length_) - kUsageMapInlineHeaderBytes); }

bool UsageMapEditor::InlineBit(const uint8_t* row, uint32_t page, size_t* bit) const {
  const uint32_t start = GetU32(row + 1);
  if (page < start || page - start >= InlineBits()) return false;
  *bit = page - start;
  return true;
}

Status UsageMapEditor::ListInline(uint8_t* row, std::vector<uint32_t>* pages) {
  const uint32_t start = GetU32(row + 1);
  for (size_t n = 0; n < InlineBits(); ++n) {
    if (TestBit(row + kUsageMapInlineHeaderBytes, n)) pages->push_back(start + uint32_t(n));
  }
  return Status::OK();
}

Status UsageMapEditor::SetReferenceBit(uint32_t page, bool listed) {
  uint8_t* bitmap = nullptr;
  KP_RETURN_IF_ERROR(BitmapPage(page / kUsageBitmapPageSpan, listed, &bitmap));
  if (bitmap == nullptr) return Status::OK();  // no bitmap page: nothing to clear
  if (listed) {
    SetBit(bitmap + kUsageBitmapPageHeaderBytes, page % kUsageBitmapPageSpan);
  } else {
    ClearBit(bitmap + kUsageBitmapPageHeaderBytes, page % kUsageBitmapPageSpan);
  }
  // The bitmap page may have been fetched again: mark it through its number.
  uint8_t* row = nullptr;
  KP_RETURN_IF_ERROR(Row(&row));
  pager_->MarkDirty(GetU32(row + 1 + 4 * (page / kUsageBitmapPageSpan)), WriteClass::kMaps);
  return Status::OK();
}

Status UsageMapEditor::Add(uint32_t page) {
  uint8_t* row = nullptr;
  KP_RETURN_IF_ERROR(Row(&row));
  if (row[0] == 0) {
    size_t bit = 0;
    if (InlineBit(row, page, &bit)) {
      SetBit(row + kUsageMapInlineHeaderBytes, bit);
      pager_->MarkDirty(page_, WriteClass::kMaps);
      return Status::OK();
    }
    const size_t bits = InlineBits();
    std::vector<uint32_t> pages;
    KP_RETURN_IF_ERROR(ListInline(row, &pages));
    pages.push_back(page);
    const uint32_t lo = *std::min_element(pages.begin(), pages.end()) & ~7u;
    const uint32_t hi = *std::max_element(pages.begin(), pages.end());
    if (hi - lo >= bits && length_ != kUsageMapReferenceRowBytes) {
      return Status::NotSupported(what_ + ": an inline usage map of " + std::to_string(length_) +
                                  " bytes cannot list page " + std::to_string(page));
    }
    std::memset(row + 1, 0, length_ - 1u);
    if (hi - lo < bits) {  // move the window
      PutU32(row + 1, lo);
      for (uint32_t n : pages) SetBit(row + kUsageMapInlineHeaderBytes, n - lo);
      pager_->MarkDirty(page_, WriteClass::kMaps);
      return Status::OK();
    }
    row[0] = 1;  // map type: reference, no bitmap pages yet
    pager_->MarkDirty(page_, WriteClass::kMaps);
    for (uint32_t n : pages) KP_RETURN_IF_ERROR(Add(n));
    return Status::OK();
  }
  return SetReferenceBit(page, true);
}

Status UsageMapEditor::Remove(uint32_t page) {
  uint8_t* row = nullptr;
  KP_RETURN_IF_ERROR(Row(&row));
  if (row[0] == 0) {
    size_t bit = 0;
    if (InlineBit(row, page, &bit)) {
      ClearBit(row + kUsageMapInlineHeaderBytes, bit);
      pager_->MarkDirty(page_, WriteClass::kMaps);
    }
    return Status::OK();
  }
  return SetReferenceBit(page, false);
}

Status UsageMapEditor::Contains(uint32_t page, bool* listed) {
  *listed = false;
  uint8_t* row = nullptr;
  KP_RETURN_IF_ERROR(Row(&row));
  if (row[0] == 0) {
    size_t bit = 0;
    *listed = InlineBit(row, page, &bit) && TestBit(row + kUsageMapInlineHeaderBytes, bit);
    return Status::OK();
  }
  uint8_t* bitmap = nullptr;
  KP_RETURN_IF_ERROR(BitmapPage(page / kUsageBitmapPageSpan, false, &bitmap));
  *listed = bitmap != nullptr && TestBit(bitmap + kUsageBitmapPageHeaderBytes, page % kUsageBitmapPageSpan);
  return Status::OK();
}

Status UsageMapEditor::LastPage(uint32_t* page, bool* found) {
  *found = false;
  uint8_t* row = nullptr;
  KP_RETURN_IF_ERROR(Row(&row));
  if (row[0] == 0) {
    const long bit = HighestBit(row + kUsageMapInlineHeaderBytes, length_ - kUsageMapInlineHeaderBytes);
    if (bit >= 0) {
      *page = GetU32(row + 1) + uint32_t(bit);
      *found = true;
    }
    return Status::OK();
  }
  const size_t slots = std::min(kUsageMapReferenceSlotCount, (size_t(length_) - 1) / 4);
  for (size_t slot = slots; slot-- > 0;) {
    uint8_t* bitmap = nullptr;
    KP_RETURN_IF_ERROR(BitmapPage(slot, false, &bitmap));
    if (bitmap == nullptr) continue;
    const long bit = HighestBit(bitmap + kUsageBitmapPageHeaderBytes, kPageSize - kUsageBitmapPageHeaderBytes);
    if (bit >= 0) {
      *page = uint32_t(slot) * kUsageBitmapPageSpan + uint32_t(bit);
      *found = true;
      return Status::OK();
    }
  }
  return Status::OK();
}

}  // namespace kp::jet
