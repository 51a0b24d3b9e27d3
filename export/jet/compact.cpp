#include "export/jet/compact.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "export/jet/catalog_write.h"
#include "export/jet/reader.h"
#include "export/jet/values.h"
#include "model/durable_file.h"
#include "model/file_io.h"

namespace kp::jet {

namespace {

// What an MSysObjects row that is neither the engine's nor a local table is.
std::string ObjectKind(const CatalogEntry& e) {
  switch (e.type) {
    case 1: return e.is_system() ? "system table" : "table";
    case 2: return "database object";
    case 3: return "container";
    case 4: return "linked ODBC table";
    case 5: return "saved query";
    case 6: return "linked table";
    case 8: return "relationship";
    case -32768: return "form";
    case -32766: return "macro";
    case -32764: return "report";
    case -32761: return "module";
    case -32758: return "data access page";
    case -32757: return "Access document";
    default: return "object of type " + std::to_string(e.type);
  }
}

Status CannotCarry(const std::string& what) {
  return Status::NotSupported("compaction cannot carry over " + what);
}

// The value of column `name` of a catalog row.
const Value* Field(const TableDef& catalog, const Row& row, const char16_t* name) {
  for (size_t i = 0; i < catalog.columns.size() && i < row.size(); ++i) {
    if (catalog.columns[i].name == name) return &row[i];
  }
  return nullptr;
}

// Whether a source catalog row holds exactly what the builder writes for
// `expected` (dates aside).
bool SameObject(const TableDef& catalog, const Row& row, const CatalogObject& expected) {
  const Row want = CatalogObjectRow(expected);
  const TableDef reference = MSysObjectsDef();
  for (size_t i = 0; i < reference.columns.size() && i < want.size(); ++i) {
    const std::u16string& name = reference.columns[i].name;
    if (name == u"DateCreate" || name == u"DateUpdate") continue;
    const Value* have = Field(catalog, row, name.c_str());
    if (have == nullptr ? !want[i].is_null() : !(*have == want[i])) return false;
  }
  return true;
}

using AceKey = std::tuple<int32_t, Bytes, int32_t, bool>;

bool KnownColumnType(ColumnType t) {
  switch (t) {
    case ColumnType::kBoolean: case ColumnType::kByte: case ColumnType::kInteger: case ColumnType::kLong:
    case ColumnType::kCurrency: case ColumnType::kSingle: case ColumnType::kDouble: case ColumnType::kDateTime:
    case ColumnType::kBinary: case ColumnType::kText: case ColumnType::kOle: case ColumnType::kMemo:
    case ColumnType::kGuid: case ColumnType::kNumeric:
      return true;
    default:
      return false;
  }
}

Status ReadSystemRows(const DatabaseReader& reader, const std::u16string& name, std::vector<Row>* rows,
                      TableDef* def) {
  const CatalogEntry* e = reader.FindTable(name);
  if (e == nullptr) return Status::Corruption("the catalog has no " + Utf8Of(name));
  KP_RETURN_IF_ERROR(reader.ReadTableDefAt(e->tdef_page(), def));
  return reader.ReadRows(*def, rows);
}

Status ReadSpec(const DatabaseReader& reader, DatabaseSpec* layout) {
  const TableDef& catalog = reader.catalog_def();
  // The engine's objects, found by Id, and the local tables.
  std::map<int32_t, const CatalogEntry*> engine;
  std::vector<const CatalogEntry*> tables;
  const std::map<int32_t, std::u16string> engine_ids = {
      {kTablesContainerId, u"Tables"}, {kDatabasesContainerId, u"Databases"},
      {kRelationshipsContainerId, u"Relationships"}, {kMSysDbId, u"MSysDb"}, {2, u"MSysObjects"},
      {3, u"MSysACEs"}, {4, u"MSysQueries"}, {5, u"MSysRelationships"}};
  for (const CatalogEntry& e : reader.catalog()) {
    auto it = engine_ids.find(e.id);
    if (it != engine_ids.end() && it->second == e.name) {
      engine[e.id] = &e;
    } else if (e.type == kObjectTypeTable && !e.is_system() && e.parent_id == kTablesContainerId &&
               e.flags == 0) {
      tables.push_back(&e);
    } else {
      return CannotCarry(ObjectKind(e) + " \"" + Utf8Of(e.name) + "\"");
    }
  }
  if (engine.size() != engine_ids.size()) return Status::Corruption("the catalog lacks some of the engine's objects");

  // Owner and SID values, from the rows that carry them.
  SecurityIds ids;
  ids.engine = engine[2]->owner;
  ids.admin = engine[kMSysDbId]->owner;
  std::vector<Row> ace_rows;
  TableDef aces_def;
  KP_RETURN_IF_ERROR(ReadSystemRows(reader, u"MSysACEs", &ace_rows, &aces_def));
  std::multiset<AceKey> have;
  for (const Row& r : ace_rows) {
    if (r.size() < 4) return Status::Corruption("MSysACEs row with too few columns");
    const AceKey key{int32_t(r[0].i), r[1].binary, int32_t(r[2].i), r[3].kind == Value::Kind::kBoolean && r[3].i != 0};
    if (std::get<0>(key) == kTablesContainerId && std::get<2>(key) == 0x0F00FE && std::get<3>(key)) {
      ids.creator = std::get<1>(key);
    }
    if (std::get<0>(key) == kMSysDbId && std::get<2>(key) == 0x00000E) ids.users = std::get<1>(key);
    have.insert(key);
  }
  // Engine objects exactly as the builder writes them, with one date.
  const double catalog_date = engine[2]->date_create;
  for (const CatalogObject& o : EngineObjects(ids, catalog_date)) {
    const CatalogEntry* e = engine[o.id];
    if (!SameObject(catalog, e->row, o)) {
      return CannotCarry("the catalog row of \"" + Utf8Of(o.name) + "\" (" +
                         (e->has_props ? "it has properties" : "it differs from the engine's") + ")");
    }
    if (e->date_create != catalog_date || e->date_update != catalog_date) {
      return CannotCarry("the dates of the catalog row \"" + Utf8Of(o.name) + "\"");
    }
  }
  std::vector<Row> rows;
  TableDef def;
  KP_RETURN_IF_ERROR(ReadSystemRows(reader, u"MSysQueries", &rows, &def));
  if (!rows.empty()) return CannotCarry("saved queries (" + std::to_string(rows.size()) + " rows in MSysQueries)");
  KP_RETURN_IF_ERROR(ReadSystemRows(reader, u"MSysRelationships", &rows, &def));
  if (!rows.empty()) return CannotCarry("relationships (" + std::to_string(rows.size()) + " rows in MSysRelationships)");

  // Local tables in Id order, so that a second compaction lays them out the same.
  std::sort(tables.begin(), tables.end(), [](auto* a, auto* b) { return a->tdef_page() < b->tdef_page(); });
  std::multiset<AceKey> want;
  for (const AceRow& a : EngineAces(ids)) want.insert({a.object_id, a.sid, a.acm, a.inheritable});
  layout->tables.clear();
  for (const CatalogEntry* e : tables) {
    const std::string label = "table \"" + Utf8Of(e->name) + "\"";
    if (uint32_t(e->id) != e->tdef_page()) return CannotCarry(label + " (its Id is not its definition page)");
    CatalogObject o;
    o.id = e->id;
    o.parent_id = kTablesContainerId;
    o.name = e->name;
    o.type = 1;
    o.owner = ids.admin;
    o.lv_prop = e->props;
    if (!SameObject(catalog, e->row, o)) return CannotCarry("the catalog row of " + label);
    if (e->date_create != tables[0]->date_create || e->date_update != tables[0]->date_update) {
      return CannotCarry("the dates of " + label + ", which differ from those of the other tables");
    }
    for (const AceRow& a : NewTableAces(ids, e->id)) want.insert({a.object_id, a.sid, a.acm, a.inheritable});
    TableSpec t;
    KP_RETURN_IF_ERROR(reader.ReadTableDefAt(e->tdef_page(), &t.def).WithContext(label));
    if (!t.def.physical_indexes.empty() || !t.def.logical_indexes.empty()) {
      return CannotCarry("the indexes of " + label);
    }
    if (t.def.properties.has_unknown_chunks) return CannotCarry("the properties of " + label);
    for (const ColumnDef& c : t.def.columns) {
      if (!KnownColumnType(c.type)) {
        return CannotCarry(label + " column \"" + Utf8Of(c.name) + "\" of type code " + std::to_string(int(c.type)));
      }
      if ((c.flags & (kColumnAutoGuid)) != 0) return CannotCarry(label + " column \"" + Utf8Of(c.name) + "\"");
    }
    KP_RETURN_IF_ERROR(reader.ReadRows(t.def, &t.rows).WithContext(label));
    layout->tables.push_back(std::move(t));
  }
  if (have != want) return CannotCarry("security rows (MSysACEs) other than the engine's own");

  layout->header_page.assign(reader.file().Page(0), reader.file().Page(0) + kPageSize);
  layout->security = ids;
  layout->catalog_date = catalog_date;
  if (!tables.empty()) layout->table_date = tables[0]->date_create;
  return Status::OK();
}

}  // namespace

Status ReadCompactionSpec(const std::string& source, DatabaseSpec* layout) {
  std::unique_ptr<DatabaseReader> reader;
  KP_RETURN_IF_ERROR(DatabaseReader::Open(source, &reader));
  return ReadSpec(*reader, layout);
}

Status CompactDatabase(const std::string& source, const std::string& destination) {
  if (Files()->Exists(destination)) {
    return Status::InvalidArgument("cannot compact into " + destination + ": it already exists");
  }
  std::unique_ptr<DatabaseReader> reader;
  KP_RETURN_IF_ERROR(DatabaseReader::Open(source, &reader));
  DatabaseSpec layout;
  KP_RETURN_IF_ERROR(ReadSpec(*reader, &layout).WithContext("compacting " + source));
  Bytes built;
  KP_RETURN_IF_ERROR(BuildDatabase(layout, &built).WithContext("compacting " + source));
  const Bytes& source_bytes = reader->file().data();
  const Bytes& bytes = built.size() <= source_bytes.size() ? built : source_bytes;
  return WriteNewFile(destination, bytes.data(), bytes.size());
}

}  // namespace kp::jet
