// Compaction's table definitions: the fields it rewrites.
#include "jet/compact_internal.h"

namespace kp::jet::compaction {

Status LocateTdefFields(const Bytes& t, TdefFields* f) {
  auto fail = [] { return Status::Corruption("table definition sections run past its length"); };
  if (t.size() < kTdefHeaderBytes) return fail();
  const uint16_t columns = GetU16(t.data() + kTdefColumnCountOffset);
  const uint32_t logical = GetU32(t.data() + kTdefLogicalIndexCountOffset);
  const uint32_t physical = GetU32(t.data() + kTdefPhysicalIndexCountOffset);
  if (physical > 1000 || logical > 1000) return fail();
  size_t at = kTdefHeaderBytes;
  for (uint32_t i = 0; i < physical; ++i)
    f->unique_counts.push_back(at + kTdefIndexCountBlockBytes * i + kTdefIndexCountUniqueOffset);
  at += kTdefIndexCountBlockBytes * physical + kTdefColumnBytes * size_t(columns);
  auto skip_names = [&](size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (at + 2 > t.size()) return false;
      at += 2 + GetU16(t.data() + at);
    }
    return at <= t.size();
  };
  if (!skip_names(columns)) return fail();
  for (uint32_t i = 0; i < physical; ++i) f->physical.push_back(at + kTdefPhysicalIndexBytes * i);
  at += kTdefPhysicalIndexBytes * physical;
  for (uint32_t i = 0; i < logical; ++i) f->logical.push_back(at + kTdefLogicalIndexBytes * i);
  at += kTdefLogicalIndexBytes * logical;
  if (!skip_names(logical)) return fail();
  while (true) {
    if (at + 2 > t.size()) return fail();
    if (GetU16(t.data() + at) == kTdefTerminator) break;
    if (at + kTdefLongValueMapBytes > t.size()) return fail();
    f->long_value_maps.push_back(at);
    at += kTdefLongValueMapBytes;
  }
  return Status::OK();
}

}  // namespace kp::jet::compaction
