#include "jet/pager.h"

#include <algorithm>
#include <cstring>

#include "jet/format.h"
#include "jet/usage_map.h"

namespace kp::jet {

namespace {

constexpr size_t kCopyBatchPages = 256;

std::string PageText(uint32_t n) { return "page " + std::to_string(n); }

}  // namespace

Pager::Pager(std::unique_ptr<File> file, std::string path, uint32_t pages)
    : file_(std::move(file)), path_(std::move(path)), page_count_(pages), file_pages_(pages) {}

Pager::~Pager() = default;

Status Pager::Open(const std::string& path, std::unique_ptr<Pager>* result) {
  std::unique_ptr<File> file;
  KP_RETURN_IF_ERROR(Files()->Open(PathFromUtf8(path), OpenMode::kReadWrite, &file));
  uint64_t size = 0;
  KP_RETURN_IF_ERROR(file->Size(&size));
  if (size % kPageSize != 0 || size < 2 * kPageSize || size / kPageSize > 0xFFFFFF) {
    return Status::Corruption(path + ": size " + std::to_string(size) +
                              " is not a whole number of pages of a Jet 4 file");
  }
  std::unique_ptr<Pager> pager(new Pager(std::move(file), path, uint32_t(size / kPageSize)));
  KP_RETURN_IF_ERROR(pager->LoadGlobalMap().WithContext(path));
  *result = std::move(pager);
  return Status::OK();
}

Pager::CachedPage* Pager::Lookup(uint32_t n) {
  auto it = cache_.find(n);
  return it == cache_.end() ? nullptr : it->second.get();
}

std::unique_ptr<Pager::CachedPage> Pager::NewPage() {
  if (spare_.empty()) return std::make_unique<CachedPage>();
  std::unique_ptr<CachedPage> p = std::move(spare_.back());
  spare_.pop_back();
  p->dirty = false;
  p->write_class = WriteClass::kRows;
  return p;
}

Status Pager::Get(uint32_t n, uint8_t** page) {
  if (CachedPage* p = Lookup(n)) {
    *page = p->data;
    return Status::OK();
  }
  if (n >= page_count_) {
    return Status::Corruption(PageText(n) + " is beyond the end of the file (" +
                              std::to_string(page_count_) + " pages)");
  }
  auto entry = NewPage();
  if (n < file_pages_) {
    KP_RETURN_IF_ERROR(file_->ReadAt(uint64_t(n) * kPageSize, entry->data, kPageSize).WithContext(PageText(n)));
  } else {
    std::memset(entry->data, 0, kPageSize);
  }
  *page = entry->data;
  cache_.emplace(n, std::move(entry));
  return Status::OK();
}

void Pager::MarkDirty(uint32_t n, WriteClass write_class) {
  CachedPage* p = Lookup(n);
  if (p == nullptr) return;  // REQUIRES: Get(n) first
  if (!p->dirty) {
    p->dirty = true;
    p->write_class = write_class;
    ++dirty_count_;
  } else {
    p->write_class = std::max(p->write_class, write_class);
  }
}

Status Pager::Put(uint32_t n, const uint8_t* data, WriteClass write_class) {
  if (n >= page_count_) {
    return Status::InvalidArgument(PageText(n) + " is beyond the end of the file");
  }
  CachedPage* p = Lookup(n);
  if (p == nullptr) {
    auto entry = NewPage();
    p = entry.get();
    cache_.emplace(n, std::move(entry));
  }
  std::memcpy(p->data, data, kPageSize);
  MarkDirty(n, write_class);
  return Status::OK();
}

Status Pager::Allocate(WriteClass write_class, uint32_t* n) {
  if (page_count_ >= 0xFFFFFF) return Status::NotSupported("the file has reached the largest page number");
  const uint32_t page = page_count_++;
  auto entry = NewPage();
  std::memset(entry->data, 0, kPageSize);
  cache_[page] = std::move(entry);
  MarkDirty(page, write_class);
  Status s = MarkUsedInGlobalMap(page);
  if (!s.ok()) {
    // Give the page back when it is still the last one: nothing refers to it.
    if (page_count_ == page + 1) {
      cache_.erase(page);
      --dirty_count_;
      --page_count_;
    }
    return s;
  }
  *n = page;
  return Status::OK();
}

// ---- global usage map ----

Status Pager::LoadGlobalMap() {
  uint8_t* p = nullptr;
  KP_RETURN_IF_ERROR(Get(kGlobalMapPageNumber, &p));
  if (p[0] != kPageTypeData) return Status::Corruption("page 1: the global usage map page is not a data page");
  const uint16_t rows = GetU16(p + 12);
  if (rows == 0 || rows > 255) return Status::Corruption("page 1: bad row count " + std::to_string(rows));
  const uint16_t raw = GetU16(p + kDataRowOffsetsOffset);
  const uint16_t offset = raw & kRowOffsetMask;
  if ((raw & kRowOffsetFlagBits) != 0 || offset < kDataRowOffsetsOffset + 2 * rows ||
      offset > kPageSize - kUsageMapInlineHeaderBytes) {
    return Status::Corruption("page 1: bad offset " + std::to_string(raw) + " of the global map row");
  }
  global_row_offset_ = offset;
  global_row_length_ = uint16_t(kPageSize - offset);
  const uint8_t type = p[offset];
  if (type == 0) {
    global_start_ = GetU32(p + offset + 1);
    global_reference_ = false;
  } else if (type == 1) {
    global_reference_ = true;
  } else {
    return Status::Corruption("page 1: unknown global usage map type " + std::to_string(type));
  }
  return Status::OK();
}

Status Pager::MarkUsedInGlobalMap(uint32_t n) {
  uint8_t* p = nullptr;
  if (!global_reference_ && global_start_ != 0) {
    KP_RETURN_IF_ERROR(RebaseGlobalMap(n));
    return MarkUsedInGlobalMap(n);
  }
  if (!global_reference_) {
    const size_t bits = 8 * (size_t(global_row_length_) - kUsageMapInlineHeaderBytes);
    if (n < bits) {
      KP_RETURN_IF_ERROR(Get(kGlobalMapPageNumber, &p));
      p[global_row_offset_ + kUsageMapInlineHeaderBytes + n / 8] &= uint8_t(~(1u << (n % 8)));  // in use
      MarkDirty(kGlobalMapPageNumber, WriteClass::kMaps);
      return Status::OK();
    }
    if (size_t(n) < 8 * kGlobalMapMaxInlineBitmapBytes) {
      Status grown = GrowGlobalMap(n + 1);
      if (grown.ok()) return MarkUsedInGlobalMap(n);
      if (!grown.IsNotSupported()) return grown;
    }
    // Page 1 has no room for a longer row: the map becomes a reference map.
    return ConvertGlobalMapToReference();
  }
  KP_RETURN_IF_ERROR(CoverWithGlobalBitmaps({}));
  return ClearGlobalBitmapBit(n);
}

// Rewrites an inline global map whose window starts past page 0 (another
// writer moves the window along as its file grows, leaving the pages before
// it out of the map) as one from page 0: the free pages the window listed
// below `end` stay free, every other page before `end` is in use, the pages
// from `end` on are free. The row grows to cover the file, or becomes a
// reference map when page 1 has no room for that.
Status Pager::RebaseGlobalMap(uint32_t end) {
  uint8_t* p = nullptr;
  KP_RETURN_IF_ERROR(Get(kGlobalMapPageNumber, &p));
  uint8_t* row = p + global_row_offset_;
  uint8_t* bitmap = row + kUsageMapInlineHeaderBytes;
  size_t bits = 8 * (size_t(global_row_length_) - kUsageMapInlineHeaderBytes);
  std::set<uint32_t> free_pages;
  for (size_t i = 0; i < bits; ++i) {
    const uint64_t page = uint64_t(global_start_) + i;
    if (page < end && (bitmap[i / 8] >> (i % 8)) & 1) free_pages.insert(uint32_t(page));
  }
  std::memset(row + 1, 0, global_row_length_ - 1u);  // start page 0, every page in use
  for (size_t page = end; page < bits; ++page) bitmap[page / 8] |= uint8_t(1u << (page % 8));
  global_start_ = 0;
  MarkDirty(kGlobalMapPageNumber, WriteClass::kMaps);
  if (end > bits) {
    Status grown = size_t(end) <= 8 * kGlobalMapMaxInlineBitmapBytes
                       ? GrowGlobalMap(end)
                       : Status::NotSupported("the global usage map cannot stay inline");
    if (grown.IsNotSupported()) return ConvertGlobalMapToReference(free_pages);
    KP_RETURN_IF_ERROR(grown);
    KP_RETURN_IF_ERROR(Get(kGlobalMapPageNumber, &p));
    bitmap = p + global_row_offset_ + kUsageMapInlineHeaderBytes;
    bits = 8 * (size_t(global_row_length_) - kUsageMapInlineHeaderBytes);
  }
  for (uint32_t page : free_pages) {
    if (page < bits) bitmap[page / 8] |= uint8_t(1u << (page % 8));
  }
  return Status::OK();
}

// Clears page `n`'s bit (in use) on the bitmap page of its slot.
Status Pager::ClearGlobalBitmapBit(uint32_t n) {
  uint8_t* p = nullptr;
  KP_RETURN_IF_ERROR(Get(kGlobalMapPageNumber, &p));
  const uint32_t bitmap = GetU32(p + global_row_offset_ + 1 + 4 * (n / kUsageBitmapPageSpan));
  if (bitmap == 0 || bitmap >= page_count_) {
    return Status::Corruption("the global usage map has bitmap page " + std::to_string(bitmap) + " for " + PageText(n));
  }
  uint8_t* b = nullptr;
  KP_RETURN_IF_ERROR(Get(bitmap, &b));
  if (b[0] != kPageTypeUsageBitmap) return Status::Corruption(PageText(bitmap) + ": not a usage-map bitmap page");
  const uint32_t bit = n % kUsageBitmapPageSpan;
  b[kUsageBitmapPageHeaderBytes + bit / 8] &= uint8_t(~(1u << (bit % 8)));
  MarkDirty(bitmap, WriteClass::kMaps);
  return Status::OK();
}

// A reference global map covers every page of the file: appends a bitmap
// page for each slot up to the last page that has none. A new bitmap page
// marks the pages before it in use (except those in `free_pages`), itself
// too, and the pages after it free.
Status Pager::CoverWithGlobalBitmaps(const std::set<uint32_t>& free_pages) {
  uint8_t* p = nullptr;
  for (;;) {
    KP_RETURN_IF_ERROR(Get(kGlobalMapPageNumber, &p));
    uint8_t* row = p + global_row_offset_;
    const size_t slots = std::min(kUsageMapReferenceSlotCount, (global_row_length_ - size_t(1)) / 4);
    const size_t last_slot = (page_count_ - 1) / kUsageBitmapPageSpan;
    size_t slot = 0;
    while (slot <= last_slot && slot < slots && GetU32(row + 1 + 4 * slot) != 0) ++slot;
    if (slot > last_slot) return Status::OK();
    if (slot >= slots || page_count_ >= 0xFFFFFF) {
      return Status::NotSupported("the global usage map cannot describe a file of " + std::to_string(page_count_ + 1) +
                                  " pages");
    }
    const uint32_t bitmap = page_count_++;
    Bytes image;
    EncodeGlobalBitmapPage(uint32_t(slot), bitmap + 1, free_pages, &image);
    auto entry = NewPage();
    std::memcpy(entry->data, image.data(), kPageSize);
    cache_[bitmap] = std::move(entry);
    MarkDirty(bitmap, WriteClass::kMaps);
    PutU32(row + 1 + 4 * slot, bitmap);
    MarkDirty(kGlobalMapPageNumber, WriteClass::kMaps);
    const size_t own_slot = bitmap / kUsageBitmapPageSpan;
    if (own_slot != slot && own_slot < slots && GetU32(row + 1 + 4 * own_slot) != 0) {
      KP_RETURN_IF_ERROR(ClearGlobalBitmapBit(bitmap));
    }
  }
}

// Rewrites the inline global map of page 1 as a 69-byte reference row (the
// other rows move up into the room it leaves) and appends its bitmap pages.
// The pages the inline map had free, and `free_pages`, stay free; every
// other page of the file up to the one just allocated is in use.
Status Pager::ConvertGlobalMapToReference(std::set<uint32_t> free_pages) {
  uint8_t* p = nullptr;
  KP_RETURN_IF_ERROR(Get(kGlobalMapPageNumber, &p));
  const size_t bits = 8 * (size_t(global_row_length_) - kUsageMapInlineHeaderBytes);
  const uint8_t* bitmap = p + global_row_offset_ + kUsageMapInlineHeaderBytes;
  for (size_t page = 0; page < bits && page + 1 < page_count_; ++page) {
    if (bitmap[page / 8] & (1u << (page % 8))) free_pages.insert(uint32_t(page));
  }
  if (global_row_length_ < kUsageMapReferenceRowBytes) {
    return Status::Corruption("page 1: the global map row is shorter than a reference map");
  }
  const size_t shrink = global_row_length_ - kUsageMapReferenceRowBytes;
  const uint16_t rows = GetU16(p + kDataRowCountOffset);
  size_t lowest = global_row_offset_;
  for (uint16_t i = 1; i < rows; ++i) {
    lowest = std::min<size_t>(lowest, GetU16(p + kDataRowOffsetsOffset + 2 * i) & kRowOffsetMask);
  }
  // The other rows (all below row 0, as GrowGlobalMap checked) move up.
  std::memmove(p + lowest + shrink, p + lowest, global_row_offset_ - lowest);
  std::memset(p + lowest, 0, shrink);
  for (uint16_t i = 0; i < rows; ++i) {
    uint8_t* slot = p + kDataRowOffsetsOffset + 2 * i;
    PutU16(slot, uint16_t(GetU16(slot) + shrink));  // flags kept
  }
  PutU16(p + kDataFreeSpaceOffset, uint16_t(GetU16(p + kDataFreeSpaceOffset) + shrink));
  global_row_offset_ = uint16_t(global_row_offset_ + shrink);
  global_row_length_ = uint16_t(kUsageMapReferenceRowBytes);
  Bytes row;
  KP_RETURN_IF_ERROR(EncodeReferenceUsageMapRow({}, &row));
  std::memcpy(p + global_row_offset_, row.data(), row.size());
  global_reference_ = true;
  MarkDirty(kGlobalMapPageNumber, WriteClass::kMaps);
  return CoverWithGlobalBitmaps(free_pages);
}

// Lengthens the inline global map row so that it covers `pages_needed`
// pages: the other rows of page 1 move down to make room.
Status Pager::GrowGlobalMap(uint32_t pages_needed) {
  const size_t old_bytes = global_row_length_ - kUsageMapInlineHeaderBytes;
  const size_t new_bytes = std::max(old_bytes, (size_t(pages_needed) + 31) / 32 * 4);
  if (kUsageMapInlineHeaderBytes + new_bytes > kMaxDataRowBytes) {
    return Status::NotSupported("the file outgrows its global usage map at " + PageText(pages_needed - 1));
  }
  const size_t grow = new_bytes - old_bytes;
  uint8_t* p = nullptr;
  KP_RETURN_IF_ERROR(Get(kGlobalMapPageNumber, &p));
  const uint16_t rows = GetU16(p + 12);
  const size_t table_end = kDataRowOffsetsOffset + 2 * size_t(rows);
  size_t lowest = global_row_offset_;
  for (uint16_t i = 1; i < rows; ++i) {
    const size_t o = GetU16(p + kDataRowOffsetsOffset + 2 * i) & kRowOffsetMask;
    if (o < table_end || o >= global_row_offset_) {
      return Status::Corruption("page 1: row " + std::to_string(i) + " is not below the global map row");
    }
    lowest = std::min(lowest, o);
  }
  if (lowest < table_end + grow) {
    return Status::NotSupported("page 1 has no room to lengthen the global usage map");
  }
  const Bytes old_row(p + global_row_offset_, p + kPageSize);
  // The other rows move down by `grow` bytes; their offsets follow.
  std::memmove(p + lowest - grow, p + lowest, global_row_offset_ - lowest);
  for (uint16_t i = 0; i < rows; ++i) {
    uint8_t* slot = p + kDataRowOffsetsOffset + 2 * i;
    PutU16(slot, uint16_t(GetU16(slot) - grow));  // flags kept
  }
  global_row_offset_ = uint16_t(global_row_offset_ - grow);
  global_row_length_ = uint16_t(global_row_length_ + grow);
  uint8_t* row = p + global_row_offset_;
  std::memcpy(row, old_row.data(), old_row.size());
  for (size_t page = 8 * old_bytes; page < 8 * new_bytes; ++page) {
    uint8_t& byte = row[kUsageMapInlineHeaderBytes + page / 8];
    const uint8_t bit = uint8_t(1u << (page % 8));
    if (page >= page_count_) byte |= bit; else byte &= uint8_t(~bit);  // set = free
  }
  PutU16(p + 2, uint16_t(GetU16(p + 2) - grow));  // free space
  MarkDirty(kGlobalMapPageNumber, WriteClass::kMaps);
  return Status::OK();
}

// ---- writing ----

Status Pager::WritePage(uint32_t n, const uint8_t* data, size_t count) {
  return file_->WriteAt(uint64_t(n) * kPageSize, data, count * kPageSize).WithContext(PageText(n));
}

Status Pager::Flush() {
  if (dirty_count_ == 0) return Status::OK();
  std::vector<uint32_t> appended, existing;
  for (const auto& [n, page] : cache_) {
    if (!page->dirty) continue;
    (n >= file_pages_ ? appended : existing).push_back(n);
  }
  std::sort(appended.begin(), appended.end());
  std::sort(existing.begin(), existing.end(), [&](uint32_t a, uint32_t b) {
    const WriteClass ca = cache_[a]->write_class, cb = cache_[b]->write_class;
    return ca != cb ? ca < cb : a < b;
  });
  // New pages, in runs of consecutive pages, each written from the cache
  // in one call.
  std::vector<File::Piece> run;
  run.reserve(kCopyBatchPages);
  for (size_t i = 0; i < appended.size();) {
    const uint32_t first = appended[i];
    run.clear();
    size_t j = i;
    while (j < appended.size() && appended[j] == first + (j - i) && j - i < kCopyBatchPages) {
      run.push_back({cache_[appended[j]]->data, kPageSize});
      ++j;
    }
    KP_RETURN_IF_ERROR(
        file_->WritePiecesAt(uint64_t(first) * kPageSize, run.data(), run.size()).WithContext(PageText(first)));
    for (size_t k = i; k < j; ++k) {
      cache_[appended[k]]->dirty = false;
      --dirty_count_;
    }
    i = j;
  }
  if (!appended.empty()) {
    file_pages_ = std::max(file_pages_, appended.back() + 1);
    // The new pages go to the disk while the rows after them are made, so
    // the sync at the end waits for little.
    file_->StartWriteback(uint64_t(appended.front()) * kPageSize,
                          uint64_t(appended.back() + 1 - appended.front()) * kPageSize);
  }
  for (uint32_t n : existing) {
    CachedPage* p = cache_[n].get();
    KP_RETURN_IF_ERROR(WritePage(n, p->data, 1));
    p->dirty = false;
    --dirty_count_;
  }
  return Status::OK();
}

Status Pager::Sync() {
  KP_RETURN_IF_ERROR(Flush());
  return file_->Sync();
}

void Pager::DropClean() {
  for (auto it = cache_.begin(); it != cache_.end();) {
    if (it->second->dirty) {
      ++it;
      continue;
    }
    spare_.push_back(std::move(it->second));
    it = cache_.erase(it);
  }
}

}  // namespace kp::jet
