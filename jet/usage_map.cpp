#include "jet/usage_map.h"

#include "jet/format.h"
#include "jet/page_file.h"

namespace kp::jet {

Status DecodeUsageMap(const uint8_t* row, size_t size, const PageFile* file, std::set<uint32_t>* pages,
                      UsageMapLayout* layout) {
  UsageMapLayout local;
  if (layout == nullptr) layout = &local;
  *layout = UsageMapLayout();
  if (size < 1) return Status::Corruption("empty usage-map row");
  layout->type = row[0];
  if (row[0] == kUsageMapTypeInline) {
    if (size < 5) return Status::Corruption("inline usage-map row of " + std::to_string(size) + " bytes");
    const uint32_t start = GetU32(row + 1);
    const size_t bits = (size - 5) * 8;
    layout->start_page = start;
    layout->window_pages = uint32_t(bits);
    for (size_t i = 0; i < size - 5; ++i) {
      const uint8_t b = row[5 + i];
      if (b == 0) continue;
      for (int bit = 0; bit < 8; ++bit) {
        if (b & (1u << bit)) {
          const uint64_t page = uint64_t(start) + i * 8 + bit;
          if (page > 0xFFFFFF) return Status::Corruption("usage map names page " + std::to_string(page));
          pages->insert(uint32_t(page));
        }
      }
    }
    return Status::OK();
  }
  if (row[0] == kUsageMapTypeReference) {
    if (size < 1 + 4) return Status::Corruption("reference usage-map row of " + std::to_string(size) + " bytes");
    const size_t slots = (size - 1) / 4;
    for (size_t k = 0; k < slots; ++k) {
      const uint32_t bp = GetU32(row + 1 + 4 * k);
      layout->bitmap_pages.push_back(bp);
      if (bp == 0) continue;
      if (file == nullptr) return Status::InvalidArgument("reference usage map needs its file");
      const uint8_t* page = nullptr;
      KP_RETURN_IF_ERROR(file->CheckedPage(bp, kPageTypeUsageBitmap, "usage-map bitmap", &page));
      for (size_t i = kUsageBitmapPageHeaderBytes; i < kPageSize; ++i) {
        const uint8_t b = page[i];
        if (b == 0) continue;
        for (int bit = 0; bit < 8; ++bit) {
          if (b & (1u << bit)) {
            const uint64_t p = uint64_t(k) * kUsageBitmapPageSpan + (i - kUsageBitmapPageHeaderBytes) * 8 + bit;
            if (p > 0xFFFFFF) return Status::Corruption("usage map names page " + std::to_string(p));
            pages->insert(uint32_t(p));
            // A map names pages of its file and at most one bitmap page's span
            // beyond its end; more is a damaged or hostile map (1023 slots that
            // all name one full bitmap page would be 33 million pages).
            if (pages->size() > size_t(file->page_count()) + kUsageBitmapPageSpan) {
              return Status::Corruption("reference usage map names more pages than its file of " +
                                        std::to_string(file->page_count()) + " pages can hold (slot " +
                                        std::to_string(k) + ", bitmap page " + std::to_string(bp) + ")");
            }
          }
        }
      }
    }
    return Status::OK();
  }
  return Status::Corruption("unknown usage-map type " + Hex(row[0]));
}

Status EncodeInlineUsageMap(const std::set<uint32_t>& pages, size_t bitmap_bytes, Bytes* row) {
  const uint32_t window = uint32_t(bitmap_bytes * 8);
  uint32_t start = 0;
  if (!pages.empty() && *pages.rbegin() >= window) start = *pages.begin() & ~7u;
  if (!pages.empty() && *pages.rbegin() - start >= window) {
    return Status::InvalidArgument("pages " + std::to_string(*pages.begin()) + " to " +
                                   std::to_string(*pages.rbegin()) + " do not fit one inline usage map of " +
                                   std::to_string(window) + " pages");
  }
  row->assign(5 + bitmap_bytes, 0);
  (*row)[0] = kUsageMapTypeInline;   // map type
  PutU32(row->data() + 1, start);    // start page
  for (uint32_t p : pages) (*row)[5 + (p - start) / 8] |= uint8_t(1u << ((p - start) % 8));
  return Status::OK();
}

Status EncodeReferenceUsageMapRow(const std::vector<uint32_t>& bitmap_pages, Bytes* row) {
  if (bitmap_pages.size() > kUsageMapReferenceSlotCount) {
    return Status::NotSupported("reference usage map of more than 17 bitmap pages");
  }
  row->assign(kUsageMapReferenceRowBytes, 0);
  (*row)[0] = kUsageMapTypeReference;  // map type
  for (size_t k = 0; k < bitmap_pages.size(); ++k) PutU32(row->data() + 1 + 4 * k, bitmap_pages[k]);
  return Status::OK();
}

void EncodeUsageBitmapPage(const std::set<uint32_t>& pages, uint32_t k, Bytes* page) {
  page->assign(kPageSize, 0);
  (*page)[0] = kPageTypeUsageBitmap;  // page type
  (*page)[1] = 0x01;
  const uint64_t first = uint64_t(k) * kUsageBitmapPageSpan;
  for (auto it = pages.lower_bound(uint32_t(std::min<uint64_t>(first, 0xFFFFFFFF))); it != pages.end(); ++it) {
    const uint64_t bit = *it - first;
    if (bit >= kUsageBitmapPageSpan) break;
    (*page)[kUsageBitmapPageHeaderBytes + bit / 8] |= uint8_t(1u << (bit % 8));
  }
}

Status EncodeGlobalMap(uint32_t page_count, size_t bitmap_bytes, Bytes* row) {
  if (uint64_t(page_count) > uint64_t(bitmap_bytes) * 8) {
    return Status::InvalidArgument(std::to_string(page_count) + " pages do not fit a global map of " +
                                   std::to_string(bitmap_bytes) + " bytes");
  }
  row->assign(5 + bitmap_bytes, 0);
  (*row)[0] = kUsageMapTypeInline;  // map type; start page 0
  for (size_t p = page_count; p < bitmap_bytes * 8; ++p) (*row)[5 + p / 8] |= uint8_t(1u << (p % 8));
  return Status::OK();
}

uint32_t GlobalBitmapPagesNeeded(uint32_t pages) {
  uint32_t k = 1;
  while (uint64_t(pages) + k > uint64_t(k) * kUsageBitmapPageSpan) ++k;
  return k;
}

void EncodeGlobalBitmapPage(uint32_t k, uint32_t page_count, const std::set<uint32_t>& free_pages, Bytes* page) {
  EncodeUsageBitmapPage(free_pages, k, page);
  const uint64_t first = uint64_t(k) * kUsageBitmapPageSpan;
  for (uint64_t bit = page_count > first ? page_count - first : 0; bit < kUsageBitmapPageSpan; ++bit) {
    (*page)[kUsageBitmapPageHeaderBytes + bit / 8] |= uint8_t(1u << (bit % 8));
  }
}

bool UsageMap::FitsInline(size_t bitmap_bytes) const {
  const uint32_t window = uint32_t(bitmap_bytes * 8);
  if (pages_.empty() || *pages_.rbegin() < window) return true;
  return *pages_.rbegin() - (*pages_.begin() & ~7u) < window;
}

}  // namespace kp::jet
