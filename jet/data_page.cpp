#include "jet/data_page.h"

#include <algorithm>
#include <cstring>

namespace kp::jet {

void DataPageBuilder::Reset(uint32_t owner) {
  page_.assign(kPageSize, 0);
  page_[0] = kPageTypeData;                       // page type: data
  page_[1] = 0x01;
  PutU16(&page_[kDataFreeSpaceOffset], kDataPageEmptyFreeSpace);     // free space
  PutU32(&page_[kDataOwnerOffset], owner);                       // owner
  PutU16(&page_[kDataRowCountOffset], 0);                          // row count
  free_ = kDataPageEmptyFreeSpace;
  lowest_ = kPageSize;
  rows_ = 0;
}

Status DataPageBuilder::Load(const uint8_t* page, uint32_t page_number) {
  const std::string where = "page " + std::to_string(page_number) + ": ";
  if (page[0] != kPageTypeData) return Status::Corruption(where + "not a data page");
  const int rows = GetU16(page + kDataRowCountOffset);
  if (rows > kDataPageMaxRows) {
    return Status::Corruption(where + std::to_string(rows) + " rows on one page");
  }
  const size_t table_end = kDataPageHeaderBytes + 2 * size_t(rows);
  size_t lowest = kPageSize;
  for (int i = 0; i < rows; ++i) {
    const size_t offset = GetU16(page + kDataPageHeaderBytes + 2 * i) & kRowOffsetMask;
    if (offset < table_end || offset >= kPageSize) {
      return Status::Corruption(where + "row " + std::to_string(i) + " offset " +
                                std::to_string(offset) + " is out of range");
    }
    lowest = std::min(lowest, offset);
  }
  page_.assign(page, page + kPageSize);
  rows_ = rows;
  lowest_ = lowest;
  free_ = lowest - table_end;
  PutU16(&page_[kDataFreeSpaceOffset], uint16_t(free_));
  return Status::OK();
}

bool DataPageBuilder::Fits(size_t size) const {
  return rows_ < kDataPageMaxRows && size > 0 && size + 2 <= free_;
}

Status DataPageBuilder::AddRow(const Bytes& row, uint8_t* row_number) {
  if (!Fits(row.size())) {
    return Status::InvalidArgument("row of " + std::to_string(row.size()) +
                                   " bytes does not fit in the page (" + std::to_string(free_) +
                                   " bytes free, " + std::to_string(rows_) + " rows)");
  }
  lowest_ -= row.size();
  std::memcpy(&page_[lowest_], row.data(), row.size());
  PutU16(&page_[kDataPageHeaderBytes + 2 * rows_], uint16_t(lowest_));  // row offset
  *row_number = uint8_t(rows_);
  ++rows_;
  free_ -= row.size() + 2;
  PutU16(&page_[kDataRowCountOffset], uint16_t(rows_));  // row count
  PutU16(&page_[kDataFreeSpaceOffset], uint16_t(free_));   // free space
  return Status::OK();
}

}  // namespace kp::jet
