// The checker's shared context, page 0, the global map and every page.
#include <algorithm>
#include <cstring>

#include "jet/checker_internal.h"
#include "jet/format.h"
#include "jet/header.h"

namespace kp::jet::check {

std::string Pages(const std::vector<uint32_t>& pages, size_t max) {
  std::string s;
  for (size_t i = 0; i < pages.size() && i < max; ++i)
    s += (i ? ", " : "") + std::to_string(pages[i]);
  if (pages.size() > max) s += ", ... (" + std::to_string(pages.size()) + " in all)";
  return s;
}

std::vector<uint32_t> Minus(const std::set<uint32_t>& a, const std::set<uint32_t>& b) {
  std::vector<uint32_t> out;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

std::string HexBytes(const Bytes& b) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (uint8_t x : b) {
    if (!s.empty()) s += ' ';
    s += d[x >> 4];
    s += d[x & 15];
  }
  return s;
}

int ColumnAt(const TableDef& def, uint16_t number) {
  for (size_t c = 0; c < def.columns.size(); ++c) {
    if (def.columns[c].number == number) return int(c);
  }
  return -1;
}

void CheckContext::Problem(uint32_t page, const std::string& message, bool tolerated) {
  report_->problems.push_back(CheckProblem{page, message, tolerated});
}

void CheckContext::Use(uint32_t page, const std::string& what) {
  auto [it, inserted] = use_.emplace(page, what);
  if (!inserted && it->second != what) {
    Problem(page, "used both as " + it->second + " and as " + what);
  }
}

bool CheckContext::ReadMap(uint32_t pointer, const std::string& what, uint32_t report_page,
                           std::set<uint32_t>* pages) {
  pages->clear();
  const uint32_t page_number = PointerPage(pointer);
  const uint8_t* row;
  size_t size;
  Status s = ReadRowBytes(file_, page_number, PointerRow(pointer), &row, &size);
  if (!s.ok()) {
    Problem(report_page, what + " at " + Hex(pointer) + ": " + s.message());
    return false;
  }
  const uint32_t owner = GetU32(file_.Page(page_number) + kDataOwnerOffset);
  if (page_number != kGlobalMapPageNumber) {
    if (owner != 0) {
      Problem(page_number, "holds " + what + " but its owner field is " + Hex(owner) + ", not 0");
    }
    Use(page_number, "usage-map rows");
  }
  UsageMapLayout layout;
  s = DecodeUsageMap(row, size, &file_, pages, &layout);
  if (!s.ok()) {
    Problem(page_number, what + " at " + Hex(pointer) + ": " + s.message());
    return false;
  }
  for (uint32_t bp : layout.bitmap_pages) {
    if (bp != 0) Use(bp, "usage-map bitmap");
  }
  return true;
}

namespace {

constexpr uint8_t kHeaderFixed[24] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,
                                      0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
                                      0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
constexpr uint8_t kHeaderTrailer[8] = {0x54, 0x06, 0x00, 0x00, '4', '.', '0', 0x00};

}  // namespace

void CheckHeader(CheckContext* cx) {
  const uint8_t* raw = cx->file().Page(0);
  Bytes page(raw, raw + kPageSize);
  ToggleHeaderMask(page.data());
  if (page[0] != 0x00 || page[1] != 0x01 || page[2] != 0x00 || page[3] != 0x00) {
    cx->Problem(0, "header does not start 00 01 00 00");
  }
  if (std::memcmp(page.data() + kHeaderEngineNameOffset, "Standard Jet DB", 16) != 0) {
    cx->Problem(0, "no \"Standard Jet DB\" at offset 0x04");
  }
  if (std::memcmp(page.data() + kHeaderMaskOffset, kHeaderFixed, sizeof kHeaderFixed) != 0) {
    cx->Problem(0, "the fixed bytes at 0x18-0x2F differ from 00 01 00 00 01 01 00 00 02 00 ...");
  }
  if (std::memcmp(page.data() + kHeaderTrailerOffset, kHeaderTrailer, sizeof kHeaderTrailer) != 0) {
    cx->Problem(0, "the bytes at 0x98 are not 54 06 00 00 \"4.0\"");
  }
  HeaderInfo h;
  if (!DecodeHeader(raw, &h).ok()) return;
  if (h.version != kJet4Version)
    cx->Problem(0, "version " + std::to_string(h.version) + " at 0x14, not 1 (Jet 4)");
  if (h.db_key != 0) cx->Problem(0, "page-encryption key " + Hex(h.db_key) + " at 0x3E is not 0");
  if (!h.password.empty()) {
    cx->Problem(0,
                "the password area at 0x42 does not match the creation date's mask (a password, or "
                "a stale mask)");
  }
  if (h.sort_order != kSortOrderGeneral || h.sort_version != kSortVersionGeneralLegacy) {
    cx->Problem(0, "sort order " + Hex(h.sort_order) + " version " +
                       std::to_string(h.sort_version) +
                       ", not General Legacy 0x409/0: text index keys are not compared");
    cx->compare_text_keys = false;
  }
  if (h.code_page == 0) cx->Problem(0, "code page 0 at 0x3C");
}

void PageChecker::CheckGlobalMapPage() {
  cx_->SetUse(kGlobalMapPageNumber, "global usage map");
  const uint8_t* page = file_.Page(kGlobalMapPageNumber);
  if (page == nullptr) {
    cx_->Problem(kGlobalMapPageNumber, "missing: the file has one page");
    return;
  }
  if (page[0] != kPageTypeData || GetU32(page + kDataOwnerOffset) != kGlobalMapOwner) {
    cx_->Problem(kGlobalMapPageNumber, "not the global-map page (data page with owner 1)");
    return;
  }
  const uint8_t* row;
  size_t size;
  Status s = ReadRowBytes(file_, kGlobalMapPageNumber, 0, &row, &size);
  if (!s.ok()) {
    cx_->Problem(kGlobalMapPageNumber, "global map row 0: " + s.message());
    return;
  }
  s = DecodeUsageMap(row, size, &file_, &global_free_, &global_layout_);
  if (!s.ok()) {
    cx_->Problem(kGlobalMapPageNumber, "global map: " + s.message());
    return;
  }
  have_global_ = true;
  for (uint32_t bp : global_layout_.bitmap_pages) {
    if (bp != 0) cx_->Use(bp, "usage-map bitmap");
  }
}

void PageChecker::CheckGlobalMap() {
  if (!have_global_) return;
  std::vector<uint32_t> used_but_free;
  for (const auto& [page, what] : cx_->uses()) {
    if (global_free_.count(page)) used_but_free.push_back(page);
  }
  if (!used_but_free.empty()) {
    cx_->Problem(kGlobalMapPageNumber,
                 "the global map marks pages in use as free: " + Pages(used_but_free));
  }
  // The pages the map describes past the end of the file: the inline
  // window, or the ranges of the reference map's bitmap pages.
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  if (global_layout_.type == kUsageMapTypeInline) {
    ranges.emplace_back(global_layout_.start_page,
                        uint64_t(global_layout_.start_page) + global_layout_.window_pages);
  } else {
    for (size_t k = 0; k < global_layout_.bitmap_pages.size(); ++k) {
      if (global_layout_.bitmap_pages[k] != 0)
        ranges.emplace_back(k * kUsageBitmapPageSpan, (k + 1) * kUsageBitmapPageSpan);
    }
  }
  {
    std::vector<uint32_t> not_free;
    for (const auto& [begin, end] : ranges) {
      for (uint64_t p = std::max<uint64_t>(file_.page_count(), begin); p < end; ++p) {
        if (!global_free_.count(uint32_t(p))) not_free.push_back(uint32_t(p));
      }
    }
    if (!not_free.empty()) {
      cx_->Problem(kGlobalMapPageNumber,
                   "the global map does not mark pages past the end of the file (" +
                       std::to_string(file_.page_count()) + " pages) as free: " + Pages(not_free));
    }
  }
}

void PageChecker::CheckAllPages() {
  std::vector<uint32_t> unused;
  for (uint32_t n = 1; n < file_.page_count(); ++n) {
    const uint8_t* page = file_.Page(n);
    const uint8_t type = page[0];
    if (type > kPageTypeUsageBitmap || type == kPageTypeHeader) {
      // Pages nothing refers to may hold anything; others are checked by their users.
      if (cx_->used(n)) cx_->Problem(n, "page type " + Hex(type) + " is not a Jet 4 page type");
    } else if (type == kPageTypeData && cx_->used(n)) {
      CheckDataPage(n, page);
    }
    if (!cx_->used(n) && !(have_global_ && global_free_.count(n))) unused.push_back(n);
  }
  if (!unused.empty()) {
    // Access leaves the pages of deleted data in use until a compaction.
    cx_->Problem(
        unused.front(),
        "pages that nothing refers to and the global map does not mark free: " + Pages(unused),
        true);
  }
}

void PageChecker::CheckDataPage(uint32_t n, const uint8_t* page) {
  uint16_t count;
  if (!DataPageRowCount(page, n, &count).ok()) {
    cx_->Problem(n, "row count " + std::to_string(GetU16(page + kDataRowCountOffset)) +
                        " does not fit the page");
    return;
  }
  if (count > kMaxRowsPerDataPage) cx_->Problem(n, std::to_string(count) + " rows, more than 255");
  size_t used = 0;
  size_t lowest = kPageSize;
  uint16_t previous = uint16_t(kPageSize);
  for (uint16_t r = 0; r < count; ++r) {
    const uint16_t start = GetU16(page + kDataRowOffsetsOffset + 2 * r) & kRowOffsetMask;
    if (start > previous || start < kDataRowOffsetsOffset + 2 * size_t(count)) {
      cx_->Problem(n, "row " + std::to_string(r) + " starts at " + std::to_string(start) +
                          ", out of order or inside the offset table");
      return;
    }
    used += size_t(previous - start) + 2;
    previous = start;
    lowest = start;
  }
  const uint16_t free_space = GetU16(page + kDataFreeSpaceOffset);
  if (free_space != kDataUsableBytes - used) {
    cx_->Problem(n, "free space " + std::to_string(free_space) + ", the rows leave " +
                        std::to_string(kDataUsableBytes - used));
  }
  for (size_t i = kDataRowOffsetsOffset + 2 * size_t(count); i < lowest; ++i) {
    if (page[i] != 0) {
      // Access leaves the bytes of removed rows behind.
      cx_->Problem(
          n, "non-zero byte at " + std::to_string(i) + ", between the offset table and the rows",
          true);
      break;
    }
  }
}

}  // namespace kp::jet::check
