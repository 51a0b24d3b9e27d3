// The texts of the page list and of the eight totals, as the window and the
// command line show them after a load. Widget-free: a view asks for one
// row's texts when it draws that row.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "model/control_document.h"

namespace kp {

// The number of columns of the page list.
inline constexpr int kPageListColumns = 8;

// The eight column texts of page number `number` (1-based) in the page list:
// number, tag mark and name, the four counts, image file, size in KB.
using PageRowTexts = std::array<std::u16string, kPageListColumns>;
PageRowTexts PageRow(const PageRecord& page, int64_t number);
// One column of that row (0-based), without building the others.
std::u16string PageRowCell(const PageRecord& page, int64_t number, int column);

// "@@@@@@": the number right-aligned in 6 characters; longer numbers in full.
std::u16string FormatPageNumber(int64_t number);
// ImageLen / 1024 as "###,###,###,###,##0.000" (halves round up).
std::u16string FormatKilobytes(int64_t bytes);

// The eight counts shown after a load, 64-bit so that no sum wraps.
struct DocumentTotals {
  int64_t TotalKPE = 0;
  int64_t TotalSetKPE = 0;
  int64_t TotalPage = 0;
  int64_t TotalTag = 0;
  int64_t TotalComment = 0;
  int64_t TotalKeyWord = 0;
  int64_t TotalSquare = 0;
  int64_t TotalHyperLink = 0;
};
DocumentTotals ComputeTotals(const ControlDocument& doc);
// Label name and count in the order the labels are set.
std::vector<std::pair<std::string, int64_t>> TotalLabels(const DocumentTotals& totals);

}  // namespace kp
