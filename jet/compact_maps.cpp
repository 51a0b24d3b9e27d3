// Compaction's usage maps: the tables' map rows and the global map.
#include <algorithm>

#include "jet/compact_internal.h"

namespace kp::jet::compaction {

size_t MapRows::Reserve(size_t count) {
  const size_t first = rows_.size();
  rows_.resize(rows_.size() + count);
  return first;
}

void MapRows::AllocatePages() {
  for (size_t k = 0; k < (rows_.size() + kMapRowsPerPage - 1) / kMapRowsPerPage; ++k) {
    pages_.push_back(out_->AllocatePage());
  }
}

Status MapRows::Set(size_t slot, const std::set<uint32_t>& pages) {
  Bytes& row = rows_[slot];
  if (UsageMap(pages).FitsInline())
    return EncodeInlineUsageMap(pages, kUsageMapInlineBitmapBytes, &row);
  const size_t slots = *pages.rbegin() / kUsageBitmapPageSpan + 1;
  if (slots > kUsageMapReferenceSlotCount)
    return Status::NotSupported("usage map beyond 17 bitmap pages");
  std::vector<uint32_t> bitmap_pages;
  Bytes page;
  for (size_t k = 0; k < slots; ++k) {
    bitmap_pages.push_back(out_->AllocatePage());
    EncodeUsageBitmapPage(pages, uint32_t(k), &page);
    KP_RETURN_IF_ERROR(out_->WritePage(bitmap_pages.back(), page.data()));
  }
  return EncodeReferenceUsageMapRow(bitmap_pages, &row);
}

Status MapRows::WritePages() {
  for (size_t k = 0; k < pages_.size(); ++k) {
    DataPageBuilder page(0);
    for (size_t s = k * kMapRowsPerPage; s < std::min(rows_.size(), (k + 1) * kMapRowsPerPage);
         ++s) {
      uint8_t n;
      KP_RETURN_IF_ERROR(page.AddRow(rows_[s], &n));
    }
    KP_RETURN_IF_ERROR(out_->WritePage(pages_[k], page.page().data()));
  }
  return Status::OK();
}

Status WriteGlobalMap(OutputFile* out) {
  const uint32_t pages = out->page_count();
  const size_t bytes = GlobalMapBitmapBytes(pages);
  Bytes row;
  if (bytes <= kGlobalMapMaxInlineBitmapBytes) {
    KP_RETURN_IF_ERROR(EncodeGlobalMap(pages, bytes, &row));
  } else {
    const uint32_t count = GlobalBitmapPagesNeeded(pages);
    if (count > kUsageMapReferenceSlotCount) {
      return Status::NotSupported("file of " + std::to_string(pages) +
                                  " pages: too large for its global map");
    }
    std::vector<uint32_t> bitmap_pages;
    for (uint32_t k = 0; k < count; ++k) bitmap_pages.push_back(out->AllocatePage());
    Bytes image;
    for (uint32_t k = 0; k < count; ++k) {
      EncodeGlobalBitmapPage(k, out->page_count(), {}, &image);
      KP_RETURN_IF_ERROR(out->WritePage(bitmap_pages[k], image.data()));
    }
    KP_RETURN_IF_ERROR(EncodeReferenceUsageMapRow(bitmap_pages, &row));
  }
  DataPageBuilder page(kGlobalMapOwner);
  uint8_t n;
  KP_RETURN_IF_ERROR(page.AddRow(row, &n));
  KP_RETURN_IF_ERROR(page.AddRow(Bytes(kUsageMapInlineRowBytes, 0), &n));
  return out->WritePage(kGlobalMapPageNumber, page.page().data());
}

}  // namespace kp::jet::compaction
