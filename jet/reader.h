// DatabaseReader: opens a Jet 4 file and reads its catalog, table
// definitions and rows.
//
// The catalog is the table MSysObjects, whose TDEF is always page 2. A
// table's Id is its TDEF page (low 24 bits); its LvProp column holds the
// property blob of the table and its columns (props.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/bytes.h"
#include "jet/catalog_object.h"
#include "jet/format.h"
#include "jet/header.h"
#include "jet/page_file.h"
#include "jet/schema.h"

namespace kp::jet {

// One row of MSysObjects as read from a file: its fields, and also where
// the row is and every column of it.
struct CatalogEntry : CatalogObject {
  uint32_t row_pointer = 0;  // page << 8 | row
  Row row;                   // every column, in the catalog TDEF's column order
};

class DatabaseReader {
 public:
  // Opens `path` read-only; refuses files that are not Jet 4, are
  // encrypted or have a password.
  static Status Open(const std::string& path, std::unique_ptr<DatabaseReader>* out);
  // The same over the file mapped, not read (PageFile::OpenMapped).
  static Status OpenMapped(const std::string& path, std::unique_ptr<DatabaseReader>* out);
  // The same over a file image in memory.
  static Status OpenBytes(Bytes image, std::unique_ptr<DatabaseReader>* out);

  const PageFile& file() const { return *file_; }
  const HeaderInfo& header() const { return header_; }
  const TableDef& catalog_def() const { return catalog_def_; }

  // Every row of MSysObjects, in page order.
  const std::vector<CatalogEntry>& catalog() const { return catalog_; }
  // The local tables (Type 1), system tables included when asked.
  std::vector<CatalogEntry> ListTables(bool include_system = false) const;
  // The catalog row of the table `name` (exact match first, then ignoring
  // ASCII case, as Access names are case-insensitive).
  const CatalogEntry* FindTable(const std::u16string& name) const;

  // The definition of a table, with its name and property set.
  Status ReadTableDef(const std::u16string& name, TableDef* def) const;
  Status ReadTableDefAt(uint32_t tdef_page, TableDef* def) const;

  // Calls `fn` with each live row of the table, in page order, with its
  // pointer (page << 8 | row of its slot: an overflowed row keeps the
  // pointer of the slot that points at its data, as index entries do);
  // stops early when `fn` returns a failed status (returned as is). Deleted
  // rows are skipped, overflow slots followed.
  using RowCallback = std::function<Status(uint32_t pointer, const Row& row)>;
  Status ForEachRow(const TableDef& def, const RowCallback& fn) const;
  Status ReadRows(const TableDef& def, std::vector<Row>* rows) const;

  // The table's data pages as its owned-pages map lists them.
  Status OwnedPages(const TableDef& def, std::vector<uint32_t>* pages) const;
  // Reads the usage-map row at `pointer` into `pages`.
  Status ReadUsageMap(uint32_t pointer, std::vector<uint32_t>* pages) const;

 private:
  DatabaseReader() = default;
  Status Load();

  std::unique_ptr<PageFile> file_;
  HeaderInfo header_;
  TableDef catalog_def_;
  std::vector<CatalogEntry> catalog_;
};

}  // namespace kp::jet
