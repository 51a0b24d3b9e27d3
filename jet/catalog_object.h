// One row of MSysObjects, the catalog: a table, container, database or other
// object. The builder writes these (catalog_write.h, CatalogObjectRow); the
// reader reads them back with where each row is (reader.h, CatalogEntry).
// A table's Id is its TDEF page (low 24 bits).
#pragma once

#include <cstdint>
#include <string>

#include "jet/bytes.h"
#include "jet/format.h"

namespace kp::jet {

struct CatalogObject {
  int32_t id = 0;
  int32_t parent_id = 0;
  std::u16string name;
  int16_t type = 0;
  double date_create = 0;
  double date_update = 0;
  Bytes owner;
  int32_t flags = 0;
  Bytes lv_prop;  // property blob of the object and its columns (props.h); empty = null

  uint32_t tdef_page() const { return uint32_t(id) & 0x00FFFFFF; }
  bool is_table() const { return type == kObjectTypeTable; }
  bool is_system() const { return (uint32_t(flags) & kSystemObjectFlags) != 0; }
};

}  // namespace kp::jet
