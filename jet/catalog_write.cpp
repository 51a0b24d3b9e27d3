#include "jet/catalog_write.h"

#include "jet/tdef_write.h"

namespace kp::jet {

namespace {

// Bytes 0x00-0x9F of page 0 of adox_jet4.mdb exactly as stored (0x18-0x97
// carry the fixed RC4 mask). Decoded: version 1 (Jet 4), code page 1252,
// page key 0, empty password under the date mask 59 A5 00 00, engine build
// 9756, sort order 0x0409 version 0 (General Legacy), creation date
// 42329.944803009 (2015-11-21 22:40:31); then 54 06 00 00 "4.0\0".
constexpr uint8_t kReferenceHeader[0xA0] = {
    0x00, 0x01, 0x00, 0x00, 0x53, 0x74, 0x61, 0x6e, 0x64, 0x61, 0x72, 0x64, 0x20, 0x4a, 0x65, 0x74,
    0x20, 0x44, 0x42, 0x00, 0x01, 0x00, 0x00, 0x00, 0xb5, 0x6e, 0x03, 0x62, 0x60, 0x09, 0xc2, 0x55,
    0xe9, 0xa9, 0x67, 0x72, 0x40, 0x3f, 0x00, 0x9c, 0x7e, 0x9f, 0x90, 0xff, 0x85, 0x9a, 0x31, 0xc5,
    0x79, 0xba, 0xed, 0x30, 0xbc, 0xdf, 0xcc, 0x9d, 0x63, 0xd9, 0xe4, 0xc3, 0x9f, 0x46, 0xfb, 0x8a,
    0xbc, 0x4e, 0xdf, 0x5e, 0xec, 0x37, 0x04, 0xe1, 0x9c, 0xfa, 0x9f, 0xfb, 0x28, 0xe6, 0x4a, 0x13,
    0x8a, 0x60, 0x0d, 0x31, 0x7b, 0x36, 0xac, 0xd7, 0xdf, 0xb1, 0x2e, 0x51, 0x13, 0x43, 0x96, 0x0a,
    0xb1, 0x33, 0x6d, 0xc4, 0x79, 0x5b, 0xcb, 0x10, 0x7c, 0x2a, 0x19, 0xd7, 0x7c, 0x99, 0x08, 0x1f,
    0x98, 0xfd, 0x2c, 0xca, 0x99, 0xaf, 0x52, 0x95, 0x84, 0x66, 0x5f, 0x95, 0xf8, 0xd0, 0x89, 0x24,
    0x85, 0x67, 0xc6, 0x1f, 0x27, 0x44, 0xd2, 0xee, 0xcf, 0x65, 0xed, 0xff, 0x07, 0xc7, 0x46, 0xa1,
    0x78, 0x16, 0x0c, 0xed, 0xe9, 0x2d, 0x62, 0xd4, 0x54, 0x06, 0x00, 0x00, 0x34, 0x2e, 0x30, 0x00,
};

// DateCreate/DateUpdate of every catalog row of adox_jet4.mdb (19 ms after
// the header date), as stored.
constexpr uint8_t kReferenceCatalogDate[8] = {0x4e, 0xfb, 0xd3, 0x3b, 0x3e, 0xab, 0xe4, 0x40};

constexpr uint8_t kFixed = kColumnFixedLength | kColumnCanBeNull | 0x10;  // 0x13, system column
constexpr uint8_t kVariable = kColumnCanBeNull | 0x10;                    // 0x12
constexpr uint8_t kSidColumn = kVariable | 0x20;                          // 0x32

// A catalog column; SystemTable numbers and places it.
ColumnDef SysCol(const char16_t* name, ColumnType type, uint16_t length, uint8_t flags) {
  ColumnDef c;
  c.name = name;
  c.type = type;
  c.length = length;
  c.flags = flags;
  c.misc[0] = 0x09;  // 0x0409 on every catalog column
  c.misc[1] = 0x04;
  return c;
}

PhysicalIndex Index(std::vector<uint16_t> columns, uint32_t map, uint32_t root, uint8_t flags) {
  PhysicalIndex p;
  for (uint16_t c : columns) p.columns.push_back({c, 0x01});
  p.usage_map = map;
  p.root_page = root;
  p.flags = flags;
  return p;
}

LogicalIndex Logical(const char16_t* name, uint32_t number, uint8_t kind) {
  LogicalIndex l;
  l.name = name;
  l.number = number;
  l.physical_index = number;
  l.kind = kind;
  return l;
}

TableDef SystemTable(const char16_t* name, uint32_t page, uint32_t owned, uint32_t free,
                     std::vector<ColumnDef> columns) {
  TableDef d;
  d.name = name;
  d.tdef_page = page;
  d.table_type = 0x53;
  d.owned_map = owned;
  d.free_map = free;
  d.columns = std::move(columns);
  PlaceColumns(&d.columns);
  d.max_cols = uint16_t(d.columns.size());
  return d;
}

}  // namespace

Bytes ReferenceHeaderPage() {
  Bytes page(kPageSize, 0);
  std::copy(std::begin(kReferenceHeader), std::end(kReferenceHeader), page.begin());
  // The unmasked block at 0xE00: 01 01, then 00 01 255 times.
  page[0xE00] = 0x01;
  page[0xE01] = 0x01;
  for (size_t i = 0xE02; i < kPageSize; i += 2) page[i + 1] = 0x01;
  return page;
}

SecurityIds ReferenceSecurityIds() {
  SecurityIds ids;
  ids.admin = {0x64, 0x8B};
  ids.engine = {0x65, 0x89};
  ids.users = {0x65, 0x8B};
  ids.creator = {0x65, 0x8E};
  return ids;
}

double ReferenceCatalogDate() { return GetF64(kReferenceCatalogDate); }

TableDef MSysObjectsDef() {
  TableDef d = SystemTable(u"MSysObjects", kCatalogTdefPage, kObjectsOwnedMap, kObjectsFreeMap, {
      SysCol(u"Id", ColumnType::kLong, 4, kFixed),
      SysCol(u"ParentId", ColumnType::kLong, 4, kFixed),
      SysCol(u"Name", ColumnType::kText, 510, kVariable),
      SysCol(u"Type", ColumnType::kInteger, 2, kFixed),
      SysCol(u"DateCreate", ColumnType::kDateTime, 8, kFixed),
      SysCol(u"DateUpdate", ColumnType::kDateTime, 8, kFixed),
      SysCol(u"Owner", ColumnType::kBinary, 510, kSidColumn),
      SysCol(u"Flags", ColumnType::kLong, 4, kFixed),
      SysCol(u"Database", ColumnType::kMemo, 0, kVariable),
      SysCol(u"Connect", ColumnType::kMemo, 0, kVariable),
      SysCol(u"ForeignName", ColumnType::kText, 510, kVariable),
      SysCol(u"RmtInfoShort", ColumnType::kBinary, 510, kVariable),
      SysCol(u"RmtInfoLong", ColumnType::kOle, 0, kVariable),
      SysCol(u"Lv", ColumnType::kOle, 0, kVariable),
      SysCol(u"LvProp", ColumnType::kOle, 0, kVariable),
      SysCol(u"LvModule", ColumnType::kOle, 0, kVariable),
      SysCol(u"LvExtra", ColumnType::kOle, 0, kVariable),
  });
  d.physical_indexes = {Index({1, 2}, kParentIdNameMap, kParentIdNameLeafPage, 0x81),
                        Index({0}, kObjectIdMap, kObjectIdLeafPage, 0x81)};
  d.logical_indexes = {Logical(u"ParentIdName", 0, 0), Logical(u"Id", 1, 1)};
  d.long_value_maps = {{8, 0x602, 0x603},  {9, 0x604, 0x605},  {12, 0x606, 0x607},
                       {13, 0x608, 0x609}, {14, 0x60A, 0x60B}, {15, 0x60C, 0x60D},
                       {16, 0x60E, 0x60F}};
  return d;
}

TableDef MSysAcesDef() {
  TableDef d = SystemTable(u"MSysACEs", kMSysAcesPage, kAcesOwnedMap, kAcesFreeMap, {
      SysCol(u"ObjectId", ColumnType::kLong, 4, kFixed),
      SysCol(u"SID", ColumnType::kBinary, 510, kSidColumn),
      SysCol(u"ACM", ColumnType::kLong, 4, kFixed),
      SysCol(u"FInheritable", ColumnType::kBoolean, 1, kFixed),
  });
  d.physical_indexes = {Index({0}, kAcesIndexMap, kAcesLeafPage, 0x88)};
  d.logical_indexes = {Logical(u"ObjectId", 0, 0)};
  return d;
}

TableDef MSysQueriesDef() {
  TableDef d = SystemTable(u"MSysQueries", kMSysQueriesPage, 0x615, 0x616, {
      SysCol(u"ObjectId", ColumnType::kLong, 4, kFixed),
      SysCol(u"Attribute", ColumnType::kByte, 1, kFixed),
      SysCol(u"Order", ColumnType::kBinary, 510, kVariable),
      SysCol(u"Name1", ColumnType::kText, 510, kVariable),
      SysCol(u"Name2", ColumnType::kText, 510, kVariable),
      SysCol(u"Expression", ColumnType::kMemo, 0, kVariable),
      SysCol(u"Flag", ColumnType::kInteger, 2, kFixed),
      SysCol(u"LvExtra", ColumnType::kLong, 4, kFixed),
  });
  d.physical_indexes = {Index({0, 1, 2}, 0x619, kQueriesLeafPage, 0x81)};
  d.logical_indexes = {Logical(u"ObjectIdAttribute", 0, 1)};
  d.long_value_maps = {{5, 0x617, 0x618}};
  return d;
}

TableDef MSysRelationshipsDef() {
  TableDef d = SystemTable(u"MSysRelationships", kMSysRelationshipsPage, 0x61A, 0x61B, {
      SysCol(u"szRelationship", ColumnType::kText, 510, kVariable),
      SysCol(u"grbit", ColumnType::kLong, 4, kFixed),
      SysCol(u"ccolumn", ColumnType::kLong, 4, kFixed),
      SysCol(u"icolumn", ColumnType::kLong, 4, kFixed),
      SysCol(u"szObject", ColumnType::kText, 510, kVariable),
      SysCol(u"szColumn", ColumnType::kText, 510, kVariable),
      SysCol(u"szReferencedObject", ColumnType::kText, 510, kVariable),
      SysCol(u"szReferencedColumn", ColumnType::kText, 510, kVariable),
  });
  d.physical_indexes = {Index({0}, 0x61C, kRelationshipsLeafPage, 0x82),
                        Index({4}, 0x61D, kRelationshipsLeafPage + 1, 0x82),
                        Index({6}, 0x61E, kRelationshipsLeafPage + 2, 0x82)};
  d.logical_indexes = {Logical(u"szRelationship", 0, 0), Logical(u"szObject", 1, 0),
                       Logical(u"szReferencedObject", 2, 0)};
  return d;
}

std::vector<CatalogObject> EngineObjects(const SecurityIds& ids, double date) {
  const int32_t kSystem = int32_t(0x80000000u);
  auto obj = [&](int32_t id, int32_t parent, const char16_t* name, int16_t type, const Bytes& owner) {
    CatalogObject o;
    o.id = id;
    o.parent_id = parent;
    o.name = name;
    o.type = type;
    o.date_create = date;
    o.date_update = date;
    o.owner = owner;
    o.flags = kSystem;
    return o;
  };
  return {
      obj(kTablesContainerId, kContainersParentId, u"Tables", kObjectTypeContainer, ids.engine),
      obj(kDatabasesContainerId, kContainersParentId, u"Databases", kObjectTypeContainer, ids.engine),
      obj(kRelationshipsContainerId, kContainersParentId, u"Relationships", kObjectTypeContainer, ids.engine),
      obj(kMSysDbId, kDatabasesContainerId, u"MSysDb", kObjectTypeDatabase, ids.admin),
      obj(kCatalogTdefPage, kTablesContainerId, u"MSysObjects", kObjectTypeTable, ids.engine),
      obj(kMSysAcesPage, kTablesContainerId, u"MSysACEs", kObjectTypeTable, ids.engine),
      obj(kMSysQueriesPage, kTablesContainerId, u"MSysQueries", kObjectTypeTable, ids.engine),
      obj(kMSysRelationshipsPage, kTablesContainerId, u"MSysRelationships", kObjectTypeTable, ids.engine),
  };
}

std::vector<AceRow> EngineAces(const SecurityIds& ids) {
  const Bytes& a = ids.admin;
  const Bytes& u = ids.users;
  const Bytes& c = ids.creator;
  // The access masks (ACM) as the engine writes them; object Ids as above.
  return {
      {kCatalogTdefPage, a, 0x060000, false},
      {kMSysAcesPage, a, 0x060000, false},
      {kMSysQueriesPage, a, 0x060000, false},
      {kMSysRelationshipsPage, a, 0x0E0000, false},
      {kTablesContainerId, c, 0x0F00FE, true},
      {kTablesContainerId, a, 0x060001, false},
      {kRelationshipsContainerId, c, 0x0F00FE, true},
      {kRelationshipsContainerId, a, 0x060001, false},
      {kDatabasesContainerId, a, 0x060000, false},
      {kMSysDbId, a, 0x06000E, false},
      {kMSysDbId, u, 0x00000E, false},
      {kMSysQueriesPage, u, 0x000014, false},
      {kMSysRelationshipsPage, u, 0x000014, false},
      {kCatalogTdefPage, u, 0x000014, false},
      {kTablesContainerId, u, 0x0FFEFF, true},
      {kRelationshipsContainerId, u, 0x0FFFFF, true},
  };
}

std::vector<AceRow> NewTableAces(const SecurityIds& ids, int32_t table_id) {
  // The inheritable rows on the Tables container, in their order: the
  // creator-owner's rights go to the creating user, the others are copied.
  std::vector<AceRow> rows;
  for (const AceRow& a : EngineAces(ids)) {
    if (a.object_id != kTablesContainerId || !a.inheritable) continue;
    rows.push_back({table_id, a.sid == ids.creator ? ids.admin : a.sid, a.acm, false});
  }
  return rows;
}

Row CatalogObjectRow(const CatalogObject& o) {
  Row r(17);
  r[0] = Value::Int(o.id);
  r[1] = Value::Int(o.parent_id);
  r[2] = Value::Str(o.name);
  r[3] = Value::Int(o.type);
  r[4] = Value::DateTime(o.date_create);
  r[5] = Value::DateTime(o.date_update);
  r[6] = Value::Blob(o.owner);
  r[7] = Value::Int(o.flags);
  if (!o.lv_prop.empty()) r[14] = Value::Blob(o.lv_prop);
  return r;
}

Row AceRowValues(const AceRow& a) {
  return {Value::Int(a.object_id), Value::Blob(a.sid), Value::Int(a.acm), Value::Bool(a.inheritable)};
}

}  // namespace kp::jet
