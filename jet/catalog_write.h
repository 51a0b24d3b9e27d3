// The system catalog of a new database as the Jet 4 engine writes it for a
// blank database: the definitions of MSysObjects, MSysACEs, MSysQueries and
// MSysRelationships, their fixed page layout, the engine's catalog rows and
// security rows, and the reference header and security identifiers.
//
// Fixed pages of the catalog (0-2 in every file, format.h):
//   0  header            1  global usage map
//   2  MSysObjects TDEF  3  MSysACEs TDEF  4  MSysQueries TDEF  5  MSysRelationships TDEF
//   6  usage-map rows 0x600-0x61E (owned/free maps of the four tables, of their
//      memo/OLE columns, and of their indexes)
//   7  MSysObjects.ParentIdName leaf   8  MSysObjects.Id leaf
//   9  MSysACEs.ObjectId leaf          10 MSysQueries.ObjectIdAttribute leaf
//   11-13 MSysRelationships leaves (szRelationship, szObject, szReferencedObject)
//   14 MSysObjects data  15 MSysACEs data
// The first page after the catalog is 16.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/bytes.h"
#include "jet/catalog_object.h"
#include "jet/format.h"
#include "jet/schema.h"

namespace kp::jet {

constexpr uint32_t kMSysAcesPage = 3;
constexpr uint32_t kMSysQueriesPage = 4;
constexpr uint32_t kMSysRelationshipsPage = 5;
constexpr uint32_t kCatalogMapPage = 6;
constexpr uint32_t kParentIdNameLeafPage = 7;
constexpr uint32_t kObjectIdLeafPage = 8;
constexpr uint32_t kAcesLeafPage = 9;
constexpr uint32_t kQueriesLeafPage = 10;
constexpr uint32_t kRelationshipsLeafPage = 11;  // and the next two
constexpr uint32_t kCatalogDataPage = 14;
constexpr uint32_t kAcesDataPage = 15;
constexpr uint32_t kFirstFreePage = 16;
constexpr int kCatalogMapRows = 31;  // rows 0x600..0x61E on page 6

// Usage-map rows on page 6 (pointer = page << 8 | row).
constexpr uint32_t kObjectsOwnedMap = 0x600;
constexpr uint32_t kObjectsFreeMap = 0x601;
constexpr uint32_t kObjectsLvPropOwnedMap = 0x60A;
constexpr uint32_t kObjectsLvPropFreeMap = 0x60B;
constexpr uint32_t kParentIdNameMap = 0x610;
constexpr uint32_t kObjectIdMap = 0x611;
constexpr uint32_t kAcesOwnedMap = 0x612;
constexpr uint32_t kAcesFreeMap = 0x613;
constexpr uint32_t kAcesIndexMap = 0x614;

// The per-file Owner/SID values. They are masked with a key nobody has
// explained, so they are only meaningful together with the header page of
// the file they come from.
struct SecurityIds {
  Bytes admin;    // the creating user: owner of MSysDb and of new tables
  Bytes engine;   // owner of the engine's own objects
  Bytes users;    // the Users group
  Bytes creator;  // the creator-owner placeholder on the containers
};

// Header page and security identifiers of adox_jet4.mdb (a blank database the
// Jet 4.0 engine wrote on its own, build 9756, 2015-11-21 22:40:31): one
// consistent set, creation date kept.
Bytes ReferenceHeaderPage();
SecurityIds ReferenceSecurityIds();
// DateCreate/DateUpdate of the engine's catalog rows in that file.
double ReferenceCatalogDate();

// Definitions of the four system tables, with their fixed usage maps and
// index root pages (row and unique counts 0).
TableDef MSysObjectsDef();
TableDef MSysAcesDef();
TableDef MSysQueriesDef();
TableDef MSysRelationshipsDef();

// The engine's eight objects of a blank database, in the engine's order.
std::vector<CatalogObject> EngineObjects(const SecurityIds& ids, double date);

// One row of MSysACEs.
struct AceRow {
  int32_t object_id = 0;
  Bytes sid;
  int32_t acm = 0;
  bool inheritable = false;
};
// The engine's sixteen security rows of a blank database, in its order.
std::vector<AceRow> EngineAces(const SecurityIds& ids);
// The rows the engine gives a new table: the creator gets the rights of the
// creator-owner placeholder, the other inheritable rights on the Tables
// container are copied; none is inheritable.
std::vector<AceRow> NewTableAces(const SecurityIds& ids, int32_t table_id);

// Row values for the two tables, in their column order.
Row CatalogObjectRow(const CatalogObject& o);
Row AceRowValues(const AceRow& a);

}  // namespace kp::jet
