// The invariant checker's parts, one per structure it walks; private to the
// checker (checker.cpp and check_*.cpp). `Checker` (checker.cpp) runs them
// in turn over one file:
//
//   part                  file                     walks
//   CheckContext          check_pages.cpp          what every part shares: the
//                                                  report, each page's use, map rows
//   CheckHeader           check_pages.cpp          page 0
//   PageChecker           check_pages.cpp          the global map, every page's
//                                                  type, data-page layout
//   TableChecker          check_tables.cpp         a table: its data pages, rows,
//                                                  row count, long-value maps
//   CheckTdef             check_tdef.cpp           a table definition's bytes
//   IndexChecker          check_indexes.cpp        a physical index: tree, map,
//                                                  entries against the rows
//   RelationshipChecker   check_relationships.cpp  foreign keys against the
//                                                  referenced index's keys
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "jet/bytes.h"
#include "jet/checker.h"
#include "jet/page_file.h"
#include "jet/reader.h"
#include "jet/row_read.h"
#include "jet/schema.h"
#include "jet/tdef_read.h"
#include "jet/usage_map.h"

namespace kp::jet::check {

// "3, 4, 9, ... (12 in all)".
std::string Pages(const std::vector<uint32_t>& pages, size_t max = 8);
// The pages of `a` not in `b`, ascending.
std::vector<uint32_t> Minus(const std::set<uint32_t>& a, const std::set<uint32_t>& b);
// "0A 1B ...".
std::string HexBytes(const Bytes& b);
// The place of column number `number` in def.columns; -1 when none.
int ColumnAt(const TableDef& def, uint16_t number);

// What every part shares: the file, the report and what each page is used as.
class CheckContext {
 public:
  CheckContext(const PageFile& file, CheckReport* report) : file_(file), report_(report) {}

  const PageFile& file() const { return file_; }
  void Problem(uint32_t page, const std::string& message, bool tolerated = false);
  // Records what a page is used as; a second, different use is a problem.
  void Use(uint32_t page, const std::string& what);
  // Sets a page's use outright (the header, the global map).
  void SetUse(uint32_t page, const std::string& what) { use_[page] = what; }
  const std::map<uint32_t, std::string>& uses() const { return use_; }
  bool used(uint32_t page) const { return use_.count(page) != 0; }
  // Reads the map row at `pointer`; false (with a problem) when it cannot.
  bool ReadMap(uint32_t pointer, const std::string& what, uint32_t report_page,
               std::set<uint32_t>* pages);

  // False when the file's sort order is not the one text keys are made in.
  bool compare_text_keys = true;

 private:
  const PageFile& file_;
  CheckReport* report_;
  std::map<uint32_t, std::string> use_;
};

// Page 0: magic, version, fixed bytes, key, password area, sort order.
void CheckHeader(CheckContext* cx);

// The global map (page 1) and every page of the file.
class PageChecker {
 public:
  explicit PageChecker(CheckContext* cx) : cx_(cx), file_(cx->file()) {}
  // Page 1 and the bitmap pages of its map; first, before the tables.
  void CheckGlobalMapPage();
  // Every page's type and data-page layout, and the pages nothing uses;
  // after the tables.
  void CheckAllPages();
  // Pages in use against the global map; last.
  void CheckGlobalMap();

 private:
  void CheckDataPage(uint32_t n, const uint8_t* page);

  CheckContext* cx_;
  const PageFile& file_;
  std::set<uint32_t> global_free_;
  UsageMapLayout global_layout_;
  bool have_global_ = false;
};

// The definition's bytes against what it describes (`name` for messages).
void CheckTdef(CheckContext* cx, const std::string& name, const TableDef& def,
               const TdefLayout& layout);

// A relationship as its referencing table states it: a foreign-key logical
// index on the referencing side, naming a logical index of the referenced
// table. Every row whose key columns are not all Null must have its key
// among the referenced index's entries (Access enforces it).
struct Relationship {
  std::string name;       // the logical index's name
  TableDef from;          // the referencing table
  size_t from_index = 0;  // its physical index: the key columns
  TableDef to;            // the referenced table
  size_t to_index = 0;    // the physical index whose keys the rows need
  // Per key column, its place in from.columns and in to.columns.
  std::vector<std::pair<size_t, size_t>> columns;
  bool comparable = true;  // false once keys cannot be computed
  Row key_row;             // a row of `to` holding the key values, the rest Null
  // The distinct keys of the referencing rows (as the referenced index
  // stores them, without the row pointer): the first row with each, and
  // how many rows have it.
  struct Rows {
    uint32_t page = 0;
    uint8_t row = 0;
    size_t count = 0;
  };
  std::map<Bytes, Rows> keys;
};

// The relationships of every table: found before the tables are checked,
// fed with the referencing rows' keys and the referenced indexes' keys as
// the tables are, compared after.
class RelationshipChecker {
 public:
  explicit RelationshipChecker(CheckContext* cx) : cx_(cx), file_(cx->file()) {}
  // Reads the relationships from every table's TDEF.
  void Find(const std::vector<CatalogEntry>& catalog);
  // Those whose referencing table has its TDEF at `tdef_page`.
  std::vector<Relationship*> From(uint32_t tdef_page);
  // The key of referencing row `row` (slot `page`/`r`) computed with the
  // referenced index's columns, kept among `rel`'s keys unless it is all Null.
  void AddReferencingKey(Relationship* rel, const Row& row, uint32_t page, uint8_t r);
  // Whether a relationship needs the keys of physical index `index` of the
  // table at `tdef_page`; KeepKeys hands them over, sorted and distinct.
  bool Referenced(uint32_t tdef_page, size_t index) const {
    return referenced_.count({tdef_page, index}) != 0;
  }
  void KeepKeys(uint32_t tdef_page, size_t index, std::set<Bytes>* keys);
  // Each relationship's referencing keys against the referenced index's.
  void Check();

 private:
  std::string KeyValues(const Relationship& rel, const Relationship::Rows& rows, const Bytes& key);

  CheckContext* cx_;
  const PageFile& file_;
  std::vector<Relationship> relationships_;
  // The referenced indexes (TDEF page, physical index) and their keys in
  // order, kept from their check to the relationships'.
  std::set<std::pair<uint32_t, size_t>> referenced_;
  std::map<std::pair<uint32_t, size_t>, std::vector<Bytes>> referenced_keys_;
};

// One physical index: its tree, usage map, entries and unique count.
class IndexChecker {
 public:
  IndexChecker(CheckContext* cx, RelationshipChecker* relationships)
      : cx_(cx), file_(cx->file()), relationships_(relationships) {}
  // The entry of `row` (slot `page`/`r`) in index `pi`: false when the row
  // has none (all columns null in an index that ignores nulls) or when keys
  // cannot be computed (`*trouble` says why: "unsupported" or an error).
  static bool ExpectedEntry(const TableDef& def, const PhysicalIndex& pi, const Row& row,
                            uint32_t page, uint8_t r, Bytes* entry, std::string* trouble);
  // Index `i` of table `name`, against the entries its rows call for.
  void Check(const std::string& name, const TableDef& def, size_t i,
             std::vector<Bytes>* expected_entries, const std::string& key_trouble);

 private:
  // Visits the index page `n` and its children; collects leaf entries in
  // order. False when the tree cannot be walked (reported).
  bool Walk(const std::string& iname, uint32_t tp, uint32_t n, int depth,
            std::set<uint32_t>* visited, std::vector<uint32_t>* leaves,
            std::vector<Bytes>* entries);

  CheckContext* cx_;
  const PageFile& file_;
  RelationshipChecker* relationships_;
};

// One table of the catalog: its TDEF, data pages, rows and row count,
// long-value maps, then its indexes.
class TableChecker {
 public:
  TableChecker(CheckContext* cx, RelationshipChecker* relationships)
      : cx_(cx), file_(cx->file()), relationships_(relationships), indexes_(cx, relationships) {}
  void Check(const CatalogEntry& e);

 private:
  // A table whose rows are being checked.
  struct TableContext {
    std::string name;
    const TableDef* def = nullptr;
    const std::set<uint32_t>* data_pages = nullptr;  // pages whose owner field names it
    uint16_t var_cols = 0;                           // variable columns described
    uint16_t header_var = 0;                         // variable columns the TDEF header counts
    std::vector<Relationship*> relationships;        // those it is the referencing table of
  };
  // What a table's rows call for, checked after them.
  struct TableRows {
    // Per physical index, the entries the rows call for (keyed by the row's
    // slot, where index entries point), or why they cannot be computed.
    std::vector<std::vector<Bytes>> expected;
    std::vector<std::string> key_trouble;
    std::map<uint16_t, std::set<uint32_t>> lval_pages;  // per memo/OLE column number
    size_t live_rows = 0;
  };

  std::set<uint32_t> CheckDataPages(const std::string& name, const TableDef& def);
  TableRows CheckRows(const TableContext& t);
  void CheckRow(const TableContext& t, uint32_t n, uint16_t r, const RowSlot& slot,
                TableRows* rows);
  bool FollowOverflow(const TableContext& t, uint32_t n, uint16_t r, const uint8_t** data,
                      size_t* size, uint32_t* at);
  void CheckRowLayout(const TableContext& t, const std::string& where, uint32_t at,
                      const uint8_t* data, const RowLayout& rl,
                      std::map<uint16_t, std::set<uint32_t>>* lval_pages);
  void CheckLongValueMaps(const std::string& name, const TableDef& def,
                          std::map<uint16_t, std::set<uint32_t>>* lval_pages_inout);

  CheckContext* cx_;
  const PageFile& file_;
  RelationshipChecker* relationships_;
  IndexChecker indexes_;
};

}  // namespace kp::jet::check
