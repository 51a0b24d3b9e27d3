// The encoders the builder takes from the rest of the layer.
#include "export/jet/builder_parts.h"

#include <algorithm>
#include <cstring>

#include "export/jet/collation.h"
#include "export/jet/format.h"
#include "export/jet/index_leaf.h"
#include "export/jet/props.h"
#include "export/jet/usage_map.h"

namespace kp::jet {

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
  key->push_back(kIndexEntryPresent);
  AppendIntegerKeyBytes(value, 4, /*ascending=*/true, key);
}

Status AppendTextKey(const std::u16string& text, Bytes* key) {
  key->push_back(kIndexEntryPresent);
  AppendGeneralLegacyTextKeyBytes(text, /*ascending=*/true, key);
  return Status::OK();
}

Status BuildSingleLeaf(uint32_t tdef_page, const std::vector<Bytes>& entries, Bytes* page) {
  return BuildLeafPage(tdef_page, entries, page);
}

Status SerializePropertyBlob(const PropertySet& props, const std::vector<std::u16string>& column_order,
                             Bytes* blob) {
  return SerializePropertySet(props, blob, &column_order);
}

}  // namespace kp::jet
