// Jet 4 file format constants: page size, page types and the byte offsets of
// every structure the layer reads or writes. Integers are little-endian unless
// stated. Other modules may append constants here; keep existing ones.
//
// A "pointer" is a u32 with the page number in the upper 24 bits and the row
// number in the low byte (PointerPage / PointerRow below).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kp::jet {

// ---- Pages ----------------------------------------------------------------
constexpr size_t kPageSize = 4096;

// Page type, byte 0 of every page; byte 1 is 0x01 on every page but page 0.
constexpr uint8_t kPageTypeHeader = 0x00;
constexpr uint8_t kPageTypeData = 0x01;        // table rows, LVAL rows, usage-map rows
constexpr uint8_t kPageTypeTdef = 0x02;
constexpr uint8_t kPageTypeIndexNode = 0x03;
constexpr uint8_t kPageTypeIndexLeaf = 0x04;
constexpr uint8_t kPageTypeUsageBitmap = 0x05;  // bitmap of a reference usage map

inline uint32_t PointerPage(uint32_t pointer) { return pointer >> 8; }
inline uint8_t PointerRow(uint32_t pointer) { return uint8_t(pointer & 0xFF); }
inline uint32_t MakePointer(uint32_t page, uint8_t row) { return (page << 8) | row; }

// ---- Page 0: the header ---------------------------------------------------
//   0x00  00 01 00 00
//   0x04  "Standard Jet DB\0"
//   0x14  u32 version (1 = Jet 4)
//   0x18  128 bytes masked with the RC4 keystream of key C7 DA 39 6B:
//         0x3C u16 code page, 0x3E u32 page-encryption key (must be 0),
//         0x42 40-byte password area (XORed with the whole-day part of the
//         creation date as an int32, repeated), 0x6A u32 engine build,
//         0x6E u16 sort order LCID, 0x71 u8 sort-order version,
//         0x72 double creation date
//   0x98  54 06 00 00 "4.0\0" (not masked)
constexpr size_t kHeaderMagicOffset = 0x00;
constexpr size_t kHeaderEngineNameOffset = 0x04;
constexpr size_t kHeaderVersionOffset = 0x14;
constexpr size_t kHeaderMaskOffset = 0x18;
constexpr size_t kHeaderMaskBytes = 128;
constexpr size_t kHeaderCodePageOffset = 0x3C;
constexpr size_t kHeaderDbKeyOffset = 0x3E;
constexpr size_t kHeaderPasswordOffset = 0x42;
constexpr size_t kHeaderPasswordBytes = 40;
constexpr size_t kHeaderBuildOffset = 0x6A;
constexpr size_t kHeaderSortOrderOffset = 0x6E;
constexpr size_t kHeaderSortVersionOffset = 0x71;
constexpr size_t kHeaderCreationDateOffset = 0x72;
constexpr size_t kHeaderTrailerOffset = 0x98;  // 54 06 00 00 "4.0\0"
constexpr uint32_t kJet4Version = 1;
constexpr uint16_t kCodePage1252 = 1252;
constexpr uint16_t kSortOrderGeneral = 0x0409;
constexpr uint8_t kSortVersionGeneralLegacy = 0;

// ---- Fixed pages and rows of the catalog -------------------------------------
// Every file has these three pages; the rest of a blank database's fixed
// layout is listed in catalog_write.h.
constexpr uint32_t kHeaderPageNumber = 0;
constexpr uint32_t kGlobalMapPageNumber = 1;   // row 0: the global usage map
constexpr uint32_t kCatalogTdefPage = 2;       // MSysObjects

// MSysObjects rows: Type, the system flags, and the Ids of the engine's own
// objects (a table's Id is its TDEF page, so MSysObjects is 2).
constexpr int16_t kObjectTypeTable = 1;
constexpr int16_t kObjectTypeDatabase = 2;
constexpr int16_t kObjectTypeContainer = 3;
constexpr uint32_t kSystemObjectFlags = 0x80000002u;  // either bit marks a system object
constexpr int32_t kContainersParentId = 0x0F000000;
constexpr int32_t kTablesContainerId = 0x0F000001;
constexpr int32_t kDatabasesContainerId = 0x0F000002;
constexpr int32_t kRelationshipsContainerId = 0x0F000003;
constexpr int32_t kMSysDbId = 0x10000000;

// ---- TDEF pages ---------------------------------------------------------------
// Page header: 02 01, u16 free space, u32 next TDEF page (0 = none). The
// logical TDEF (continuation headers left out) then holds, from offset 8:
constexpr size_t kTdefPageHeaderBytes = 8;
constexpr size_t kTdefFreeSpaceOffset = 2;
constexpr size_t kTdefNextPageOffset = 4;
constexpr size_t kTdefLengthOffset = 8;           // u32 tdef_len, whole logical TDEF
constexpr size_t kTdefConstantOffset = 12;        // u32 1625
constexpr size_t kTdefRowCountOffset = 16;        // u32
constexpr size_t kTdefAutonumberOffset = 20;      // u32 last autonumber
constexpr size_t kTdefTableTypeOffset = 40;       // u8 0x4E user, 0x53 system
constexpr size_t kTdefMaxColsOffset = 41;         // u16
constexpr size_t kTdefVarColsOffset = 43;         // u16
constexpr size_t kTdefColumnCountOffset = 45;     // u16
constexpr size_t kTdefLogicalIndexCountOffset = 47;   // u32
constexpr size_t kTdefPhysicalIndexCountOffset = 51;  // u32
constexpr size_t kTdefOwnedMapOffset = 55;        // u32 pointer
constexpr size_t kTdefFreeMapOffset = 59;         // u32 pointer
constexpr size_t kTdefHeaderBytes = 63;           // sections start here
constexpr uint32_t kTdefConstant = 1625;
constexpr uint8_t kTableTypeUser = 0x4E;
constexpr uint8_t kTableTypeSystem = 0x53;

// Section 1: one block per physical index: u32 ?, u32 unique count, u32 ?.
constexpr size_t kTdefIndexCountBlockBytes = 12;
constexpr size_t kTdefIndexCountUniqueOffset = 4;

// Section 2: one 25-byte descriptor per column.
constexpr size_t kTdefColumnBytes = 25;
constexpr size_t kColumnTypeOffset = 0;
constexpr size_t kColumnConstantOffset = 1;    // u32 1625
constexpr size_t kColumnNumberOffset = 5;
constexpr size_t kColumnVarIndexOffset = 7;
constexpr size_t kColumnMiscOffset = 11;       // 4 bytes: sort order / precision, scale
constexpr size_t kColumnFlagsOffset = 15;
constexpr size_t kColumnExtFlagsOffset = 16;
constexpr size_t kColumnZeroOffset = 17;       // 4 zero bytes
constexpr size_t kColumnFixedOffsetOffset = 21;
constexpr size_t kColumnLengthOffset = 23;

// Section 3 and 6: names, u16 byte length + UCS-2LE.

// Section 4: one 52-byte block per physical index.
constexpr size_t kTdefPhysicalIndexBytes = 52;
constexpr uint32_t kTdefPhysicalIndexConstant = 1923;
constexpr size_t kPhysicalIndexColumnsOffset = 4;    // 10 x (u16 column, u8 flags)
constexpr size_t kPhysicalIndexColumnSlots = 10;
constexpr uint16_t kPhysicalIndexUnusedColumn = 0xFFFF;
constexpr size_t kPhysicalIndexUsageMapOffset = 34;  // u32 pointer
constexpr size_t kPhysicalIndexRootOffset = 38;      // u32 page
constexpr size_t kPhysicalIndexFlagsOffset = 46;     // u8
constexpr uint8_t kIndexFlagUnique = 0x01;
constexpr uint8_t kIndexFlagIgnoreNulls = 0x02;
constexpr uint8_t kIndexFlagRequired = 0x08;
constexpr uint8_t kIndexColumnAscending = 0x01;

// Section 5: one 28-byte block per logical index.
constexpr size_t kTdefLogicalIndexBytes = 28;
constexpr size_t kLogicalIndexNumberOffset = 4;     // u32
constexpr size_t kLogicalIndexPhysicalOffset = 8;   // u32
constexpr size_t kLogicalIndexKindOffset = 23;      // u8 1 primary key, 2 foreign key
constexpr uint8_t kIndexKindPrimaryKey = 1;
constexpr uint8_t kIndexKindForeignKey = 2;
// A relationship's side of the table (foreign-key logical indexes): 1 the
// referenced table, 2 the referencing one, whose new rows must find theirs.
constexpr size_t kLogicalIndexReferenceTypeOffset = 12;  // u8
constexpr uint8_t kReferencingTable = 2;
// The other side: its logical index number (kNoOtherIndex: none) and the
// first TDEF page of its table.
constexpr size_t kLogicalIndexOtherIndexOffset = 13;  // u32
constexpr size_t kLogicalIndexOtherTableOffset = 17;  // u32
constexpr uint32_t kNoOtherIndex = 0xFFFFFFFF;

// Section 7: per memo/OLE column: u16 column number, u32 owned map, u32 free map.
constexpr size_t kTdefLongValueMapBytes = 10;
// Section 8: terminator.
constexpr uint16_t kTdefTerminator = 0xFFFF;

// ---- Data pages -----------------------------------------------------------------
// 01 01, u16 free space, u32 owner (TDEF page, "LVAL", 0 for usage maps, 1 on
// the global-map page), u32 0, u16 row count, u16 row offsets from 14.
constexpr size_t kDataFreeSpaceOffset = 2;
constexpr size_t kDataOwnerOffset = 4;
constexpr size_t kDataRowCountOffset = 12;
constexpr size_t kDataRowOffsetsOffset = 14;
constexpr size_t kDataUsableBytes = kPageSize - kDataRowOffsetsOffset;  // 4082
constexpr uint16_t kRowOffsetDeleted = 0x8000;
constexpr uint16_t kRowOffsetLookup = 0x4000;  // overflow row: holds a pointer
constexpr uint16_t kRowOffsetMask = 0x1FFF;
constexpr uint16_t kRowOffsetFlagBits = kRowOffsetDeleted | kRowOffsetLookup;
constexpr int kMaxRowsPerDataPage = 255;
constexpr size_t kMaxDataRowBytes = 4060;
constexpr uint32_t kLvalOwnerTag = 0x4C41564Cu;  // "LVAL" read as a u32
constexpr uint32_t kGlobalMapOwner = 1;

// ---- Rows -------------------------------------------------------------------------
// u16 column count; fixed area; variable data; u16 end of variable data;
// u16 variable offsets in reverse order; u16 variable column count; null
// mask of (column count + 7) / 8 bytes (bit n = column n, 1 = not null).

// ---- Long values (memo / OLE) ---------------------------------------------------------
// 12-byte header in the row: u32 length | flags, u32 pointer, u32 0.
constexpr size_t kLongValueHeaderSize = 12;
constexpr uint32_t kLongValueFlagInline = 0x80000000u;
constexpr uint32_t kLongValueFlagSingleRow = 0x40000000u;
constexpr uint32_t kLongValueLengthMask = 0x3FFFFFFFu;
constexpr size_t kLongValueInlineMax = 64;
constexpr size_t kLongValueRowMax = 4076;
constexpr size_t kLongValueChunkMax = 4072;  // after the 4-byte next pointer

// ---- Usage maps -------------------------------------------------------------------------
// Row layout of both map types and of bitmap pages: usage_map.h.
constexpr uint8_t kUsageMapTypeInline = 0;
constexpr uint8_t kUsageMapTypeReference = 1;
constexpr size_t kUsageMapInlineBitmapBytes = 64;
constexpr size_t kUsageMapInlineHeaderBytes = 5;  // u8 type, u32 start page
constexpr size_t kUsageMapInlineRowBytes = kUsageMapInlineHeaderBytes + kUsageMapInlineBitmapBytes;  // 69
constexpr uint32_t kUsageMapInlinePages = 8 * kUsageMapInlineBitmapBytes;  // 512
constexpr size_t kUsageMapReferenceSlotCount = 17;
constexpr size_t kUsageMapReferenceRowBytes = 1 + 4 * kUsageMapReferenceSlotCount;  // 69
constexpr size_t kUsageBitmapPageHeaderBytes = 4;
constexpr uint32_t kUsageBitmapPageSpan = 8 * (kPageSize - kUsageBitmapPageHeaderBytes);  // 32736

// ---- Index pages (leaf 0x04, node 0x03) ------------------------------------------------------
// Page and entry layout: index_leaf.h.
constexpr size_t kIndexFreeSpaceOffset = 2;
constexpr size_t kIndexTdefOffset = 4;
constexpr size_t kIndexPrevPageOffset = 12;
constexpr size_t kIndexNextPageOffset = 16;
constexpr size_t kIndexTailPageOffset = 20;
constexpr size_t kIndexPrefixLengthOffset = 24;
constexpr size_t kIndexMaskOffset = 27;
constexpr size_t kIndexMaskBytes = 453;
constexpr size_t kIndexEntriesOffset = 480;
constexpr size_t kIndexEmptyFreeSpace = kPageSize - kIndexEntriesOffset;  // 3616
constexpr uint8_t kIndexEntryPresent = 0x7F;
constexpr uint8_t kIndexEntryNull = 0x00;
constexpr size_t kIndexRowPointerBytes = 4;
constexpr size_t kIndexChildPointerBytes = 4;

// ---- Property blobs (MSysObjects.LvProp) ----------------------------------------------------------
// "MR2\0", then chunks: u32 length (with its 6-byte header), u16 type.
constexpr uint8_t kPropertyMagic[4] = {'M', 'R', '2', 0};
constexpr uint16_t kPropertyChunkNames = 0x80;
constexpr uint16_t kPropertyChunkObject = 0x00;
constexpr uint16_t kPropertyChunkColumn = 0x01;

}  // namespace kp::jet
