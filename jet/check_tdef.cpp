// The checker's table definitions: the bytes against what they describe.
#include <algorithm>

#include "jet/checker_internal.h"
#include "jet/format.h"

namespace kp::jet::check {

void CheckTdef(CheckContext* cx, const std::string& name, const TableDef& def,
               const TdefLayout& layout) {
  const uint32_t tp = layout.pages.front();
  const uint8_t* first = cx->file().Page(tp);
  if (layout.terminator_offset + 2 != layout.tdef_len) {
    cx->Problem(tp, "TDEF of " + name + ": the sections end at " +
                        std::to_string(layout.terminator_offset + 2) + ", its length says " +
                        std::to_string(layout.tdef_len));
  }
  if (GetU32(first + kTdefConstantOffset) != kTdefConstant) {
    cx->Problem(tp, "TDEF of " + name + ": no 1625 at offset 12");
  }
  if (layout.pages.size() == 1) {
    const uint16_t free_space = GetU16(first + kTdefFreeSpaceOffset);
    if (layout.tdef_len + kTdefPageHeaderBytes > kPageSize ||
        free_space != kPageSize - kTdefPageHeaderBytes - layout.tdef_len) {
      cx->Problem(tp, "TDEF of " + name + ": free space " + std::to_string(free_space) +
                          ", expected 4096 - 8 - " + std::to_string(layout.tdef_len));
    }
    for (size_t i = layout.tdef_len; i < kPageSize; ++i) {
      if (first[i] != 0) {
        cx->Problem(
            tp, "TDEF of " + name + ": non-zero byte at " + std::to_string(i) + ", after its end",
            true);
        break;
      }
    }
  }
  // Columns: variable indexes 0..n-1, fixed columns not overlapping.
  std::set<uint16_t> var_indexes;
  std::vector<std::pair<uint32_t, uint32_t>> fixed;
  uint16_t var_count = 0;
  for (const auto& c : def.columns) {
    if (c.is_fixed()) {
      if (c.type != ColumnType::kBoolean)
        fixed.emplace_back(c.fixed_offset, uint32_t(c.fixed_offset) + c.length);
    } else {
      ++var_count;
      if (!var_indexes.insert(c.var_index).second) {
        cx->Problem(tp, "TDEF of " + name + ": two variable columns with index " +
                            std::to_string(c.var_index));
      }
    }
  }
  // Deleted columns keep their numbers and variable slots: the header counts
  // them, the descriptors do not.
  const uint16_t header_var = GetU16(layout.logical.data() + kTdefVarColsOffset);
  if (!var_indexes.empty() && *var_indexes.rbegin() >= header_var) {
    cx->Problem(tp, "TDEF of " + name + ": variable index " +
                        std::to_string(*var_indexes.rbegin()) + " not below the header's " +
                        std::to_string(header_var) + " variable columns");
  }
  // Fewer descriptors than the header counts is a table with deleted
  // columns, a valid state; more is not.
  if (header_var < var_count || def.max_cols < def.columns.size()) {
    cx->Problem(tp, "TDEF of " + name + ": " + std::to_string(header_var) + " variable and " +
                        std::to_string(def.max_cols) + " columns in the header, " +
                        std::to_string(var_count) + " and " + std::to_string(def.columns.size()) +
                        " described");
  }
  std::sort(fixed.begin(), fixed.end());
  for (size_t k = 1; k < fixed.size(); ++k) {
    if (fixed[k].first < fixed[k - 1].second) {
      cx->Problem(tp, "TDEF of " + name + ": fixed columns overlap at offset " +
                          std::to_string(fixed[k].first));
      break;
    }
  }
}

}  // namespace kp::jet::check
