// Appends encoded rows to one table of a database opened through a Pager.
//
// Rows go into the table's last data page (the highest page of its owned
// map) while they fit (free space, at most 255 rows a page), otherwise into
// a new page at the end of the file, which joins the table's owned and
// free-space maps; a page leaves the free-space map when a row did not fit
// in it or it is full. Long values that are not stored inline go the same
// way into the LVAL pages of their own column, listed in that column's
// owned and free-space maps. The row count and last autonumber of the TDEF
// (offsets 16 and 20 of its first page) follow the rows.
//
// The page being filled is kept aside; Sync() puts it and the TDEF counts
// into the pager, and must be called before the pager flushes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "base/status.h"
#include "export/jet/data_page.h"
#include "export/jet/map_editor.h"
#include "export/jet/pager.h"
#include "export/jet/row_write.h"
#include "export/jet/schema.h"

namespace kp::jet {

class TableAppender : public LongValueSink {
 public:
  // `def` as read from the file: TDEF page, map pointers, counts.
  static Status Open(Pager* pager, const TableDef& def, std::unique_ptr<TableAppender>* result);

  const TableDef& def() const { return def_; }
  uint32_t row_count() const { return row_count_; }
  // The value the next autonumber takes.
  uint32_t next_autonumber() const { return autonumber_ + 1; }

  // Stores `row` (values already in their columns' types).
  Status Append(const Row& row);
  // Puts the pages being filled and the TDEF counts into the pager.
  Status Sync();

  Status AddLongValueRow(const ColumnDef& column, const Bytes& row, uint32_t* pointer) override;

 private:
  // The pages of one owner: the table, or one memo/OLE column.
  struct Filler {
    uint32_t owner = 0;  // owner field of its pages
    UsageMapEditor owned;
    UsageMapEditor free;
    DataPageBuilder page;
    uint32_t number = 0;  // page being filled
    bool active = false;
  };

  TableAppender(Pager* pager, const TableDef& def) : pager_(pager), def_(def), encoder_(def_) {}
  Status OpenFiller(uint32_t owner, uint32_t owned_map, uint32_t free_map, const std::string& what, Filler* f);
  Status Place(Filler* f, const Bytes& row, uint32_t* pointer);
  Status Leave(Filler* f);

  Pager* pager_;
  TableDef def_;
  RowEncoder encoder_;  // over def_
  uint32_t row_count_ = 0;
  uint32_t autonumber_ = 0;
  int autonumber_column_ = -1;  // index into def_.columns
  Filler rows_;
  std::map<uint16_t, std::unique_ptr<Filler>> long_values_;  // by column number
  Bytes encoded_;
};

}  // namespace kp::jet
