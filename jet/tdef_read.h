// Reading a table definition (TDEF) into a TableDef.
//
// The TDEF starts on a page of type 0x02 (02 01, u16 free space, u32 next
// TDEF page) and may continue on further pages linked through "next page";
// the logical buffer is the first page whole plus every continuation page
// without its 8-byte header, and tdef_len (offset 8) is its length. The
// layout of the buffer is described in tdef_write.h and format.h.
#pragma once

#include <cstdint>
#include <vector>

#include "base/status.h"
#include "jet/bytes.h"
#include "jet/schema.h"

namespace kp::jet {

class PageFile;

// Where the pieces of a TDEF were found, for the checker.
struct TdefLayout {
  std::vector<uint32_t> pages;   // the TDEF pages, first one first
  uint32_t tdef_len = 0;
  size_t terminator_offset = 0;  // offset of FF FF in the logical buffer
  Bytes logical;                 // the logical buffer (tdef_len bytes)
};

// Reads the TDEF starting at `tdef_page` into `def` (columns sorted by
// column number). `def->name` and `def->properties` are left empty: they
// live in the catalog. Loops in the page chain, pages of another type, and
// sections running past tdef_len are Corruption errors naming the page.
Status ReadTableDef(const PageFile& file, uint32_t tdef_page, TableDef* def, TdefLayout* layout = nullptr);

}  // namespace kp::jet
