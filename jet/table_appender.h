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
// Every index of the table gets the row's entry (index_update.h): the keys
// of its columns (collation.h) and the row pointer. A row whose index
// columns are all Null has no entry in an index that ignores Nulls; a
// primary key or a required index refuses a Null in any of its columns; a
// unique index (or primary key) refuses a key it holds already, unless every
// column is Null. These checks come before anything of the row is stored,
// so a refused row leaves the file as it was. The unique-key count of each
// index (its 12-byte block in the TDEF) follows the distinct keys.
//
// On the referencing side of a relationship, a row whose key columns are
// not all Null must find its key in the referenced table's index (through
// that table's own appender, so rows appended to it count at once); the
// check comes with the others, before anything is stored.
//
// The page being filled is kept aside; Sync() puts it, the changed index
// pages and the TDEF counts into the pager, and must be called before the
// pager flushes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/data_page.h"
#include "jet/index_update.h"
#include "jet/map_editor.h"
#include "jet/pager.h"
#include "jet/row_write.h"
#include "jet/schema.h"

namespace kp::jet {

class TableAppender : public LongValueSink {
 public:
  // `def` as read from the file: TDEF page, map pointers, counts, indexes.
  // `general_legacy`: the database sorts text in the General Legacy order,
  // the only one whose text keys this layer computes; otherwise a table
  // with an index over a Text or Memo column is refused.
  static Status Open(Pager* pager, const TableDef& def, bool general_legacy,
                     std::unique_ptr<TableAppender>* result);

  const TableDef& def() const { return def_; }
  uint32_t row_count() const { return row_count_; }
  // The value the next autonumber takes.
  uint32_t next_autonumber() const { return autonumber_ + 1; }

  // Rows appended from now on must find the key of this table's physical
  // index `physical` in the logical index `other_index` of `other`: the
  // relationship `name` (`other` may be this appender). The key columns
  // must pair up in number and type.
  Status AddReference(const std::u16string& name, uint32_t physical, TableAppender* other, uint32_t other_index);
  void ClearReferences() { references_.clear(); }

  // Stores `row` (values already in their columns' types).
  Status Append(const Row& row);
  // Puts the pages being filled, the index pages and the TDEF counts into
  // the pager.
  Status Sync();
  // A row failed after part of it was stored (its data, not all its index
  // entries): the table is no longer consistent and must not be written.
  bool damaged() const { return damaged_; }

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

  struct Index {
    size_t physical = 0;  // in def_.physical_indexes
    std::string label;    // "index PrimaryKey"
    bool unique = false;
    bool ignore_nulls = false;
    bool no_nulls = false;         // primary key or required
    std::vector<size_t> columns;   // positions in def_.columns
    size_t whole_key_bytes = 0;    // the key's length when every column is an Integer or Long, else 0
    uint32_t unique_count = 0;
    std::unique_ptr<IndexUpdater> tree;
    Bytes entry;        // of the row being appended
    bool skip = false;  // the row has no entry
  };

  struct Reference {
    std::string label;            // "relationship Table2Table1"
    std::vector<size_t> columns;  // positions in def_.columns, in key order
    TableAppender* other = nullptr;
    size_t other_index = 0;  // in other->indexes_
    Bytes key;               // of the row being appended
  };

  TableAppender(Pager* pager, const TableDef& def) : pager_(pager), def_(def), encoder_(def_) {}
  Status OpenIndexes(bool general_legacy);
  // Computes the row's entry of `ix` (keys only) and checks it.
  Status PrepareEntry(const Row& row, Index* ix);
  Status CheckReference(const Row& row, Reference* r);
  // "(A, B) = (1, "x")" for the row's values of `columns`.
  std::string KeyText(const Row& row, const std::vector<size_t>& columns) const;
  Status PutUniqueCount(size_t physical, uint32_t count);
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
  std::vector<Index> indexes_;
  std::vector<Reference> references_;
  bool damaged_ = false;
};

}  // namespace kp::jet
