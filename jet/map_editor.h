// Edits one usage-map row of a table or of a memo column in place, through
// the pager: pages are added to or removed from the set it lists.
//
// A map row sits on a data page whose owner field is 0 (pointer = page << 8 |
// row); its two layouts and the bitmap pages are described in usage_map.h.
// An inline row's window may start at any page. A page outside it first
// moves the window to a multiple of 8 (when every listed page still fits
// it); otherwise a 69-byte inline row becomes a reference row in place, its
// bitmap pages appended as they are needed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/pager.h"

namespace kp::jet {

class UsageMapEditor {
 public:
  UsageMapEditor() = default;

  // Locates the row at `pointer`; `what` names it in error messages.
  Status Open(Pager* pager, uint32_t pointer, const std::string& what);

  Status Add(uint32_t page);
  Status Remove(uint32_t page);
  // The highest page listed; *found false when the map is empty.
  Status LastPage(uint32_t* page, bool* found);
  Status Contains(uint32_t page, bool* listed);

 private:
  // Where the row is on its page (re-fetched on every use: the pager may
  // have dropped its cached copy since).
  Status Row(uint8_t** row);
  Status BitmapPage(size_t slot, bool create, uint8_t** bitmap);
  // How many pages an inline row's window spans.
  size_t InlineBits() const;
  // The bit of `page` in the inline `row`; false when outside its window.
  bool InlineBit(const uint8_t* row, uint32_t page, size_t* bit) const;
  Status ListInline(uint8_t* row, std::vector<uint32_t>* pages);
  // Sets or clears `page` in a reference row, adding its bitmap page when
  // setting.
  Status SetReferenceBit(uint32_t page, bool listed);
  Status Error(const std::string& message) const;

  Pager* pager_ = nullptr;
  std::string what_;
  uint32_t page_ = 0;
  uint16_t offset_ = 0;
  uint16_t length_ = 0;
};

}  // namespace kp::jet
