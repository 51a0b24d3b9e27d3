// The encoders the builder takes from the rest of the layer: usage-map rows,
// index keys and leaves, property blobs.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "export/jet/bytes.h"
#include "export/jet/schema.h"
#include "model/status.h"

namespace kp::jet {

// Whether `pages` fit one inline map row (a 512-page window).
bool FitsInlineUsageMap(const std::set<uint32_t>& pages);
// An inline usage-map row listing `pages`.
Status EncodeUsageMapRow(const std::set<uint32_t>& pages, Bytes* row);
// A reference usage-map row listing `pages`: bitmap page k covers pages
// [k * 32736, (k + 1) * 32736); `bitmap_pages[k]` is its page number, or 0
// when no page in its range is listed. Fills the bitmap pages' images.
Status EncodeReferenceUsageMap(const std::set<uint32_t>& pages, const std::vector<uint32_t>& bitmap_pages,
                               Bytes* row, std::vector<Bytes>* bitmaps);
// How many bitmap pages a reference map of `pages` has (including unused
// slots before the last one used).
size_t ReferenceMapSlots(const std::set<uint32_t>& pages);
// The global map row of a file of `page_count` pages: pages past the end free.
Status EncodeGlobalMapRow(uint32_t page_count, Bytes* row);
// Index key parts: 0x7F, then the key bytes of the value.
void AppendLongKey(int32_t value, Bytes* key);
Status AppendTextKey(const std::u16string& text, Bytes* key);
// A single index leaf page holding `entries` (sorted, each key + pointer).
Status BuildSingleLeaf(uint32_t tdef_page, const std::vector<Bytes>& entries, Bytes* page);
// The LvProp blob of `props`, column chunks in `column_order`.
Status SerializePropertyBlob(const PropertySet& props, const std::vector<std::u16string>& column_order,
                             Bytes* blob);

}  // namespace kp::jet
