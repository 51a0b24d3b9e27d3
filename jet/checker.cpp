#include "jet/checker.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "base/text_util.h"
#include "jet/collation.h"
#include "jet/format.h"
#include "jet/header.h"
#include "jet/index_leaf.h"
#include "jet/page_file.h"
#include "jet/reader.h"
#include "jet/row_read.h"
#include "jet/tdef_read.h"
#include "jet/usage_map.h"
#include "jet/values.h"

namespace kp::jet {

std::string CheckProblem::ToString() const { return "page " + std::to_string(page) + ": " + message; }

bool CheckReport::ok() const {
  for (const auto& p : problems) {
    if (strict || !p.tolerated) return false;
  }
  return true;
}

std::string CheckReport::ToString() const {
  std::string out;
  for (const auto& p : problems) {
    out += p.ToString();
    if (p.tolerated && !strict) out += " (tolerated: Access does this)";
    out += "\n";
  }
  return out;
}

namespace {

std::string Pages(const std::vector<uint32_t>& pages, size_t max = 8) {
  std::string s;
  for (size_t i = 0; i < pages.size() && i < max; ++i) s += (i ? ", " : "") + std::to_string(pages[i]);
  if (pages.size() > max) s += ", ... (" + std::to_string(pages.size()) + " in all)";
  return s;
}

std::vector<uint32_t> Minus(const std::set<uint32_t>& a, const std::set<uint32_t>& b) {
  std::vector<uint32_t> out;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

constexpr uint8_t kHeaderFixed[24] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                                      0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
constexpr uint8_t kHeaderTrailer[8] = {0x54, 0x06, 0x00, 0x00, '4', '.', '0', 0x00};

class Checker {
 public:
  Checker(const PageFile& file, CheckReport* report) : file_(file), report_(report) {}

  void Run() {
    CheckHeader();
    use_[0] = "header";
    Status s = DatabaseReader::OpenBytes(Bytes(file_.bytes(), file_.bytes() + file_.size()), &reader_);
    if (!s.ok()) {
      Problem(kCatalogTdefPage, "cannot read the catalog: " + s.message());
      return;
    }
    CheckGlobalMapPage();
    // The tables come from every row on MSysObjects' data pages, found by
    // their owner field: a damaged owned map must not hide them.
    bool catalog_seen = false;
    const std::vector<CatalogEntry> catalog = CatalogFromPages();
    FindRelationships(catalog);
    for (const CatalogEntry& e : catalog) {
      if (!e.is_table()) continue;
      catalog_seen |= e.tdef_page() == kCatalogTdefPage;
      CheckTable(e);
    }
    if (!catalog_seen) {
      Problem(kCatalogTdefPage, "MSysObjects has no row of its own");
      CatalogEntry self;
      self.id = kCatalogTdefPage;
      self.name = u"MSysObjects";
      self.type = kObjectTypeTable;
      CheckTable(self);
    }
    CheckAllPages();
    CheckGlobalMap();
    CheckRelationships();
  }

 private:
  void Problem(uint32_t page, const std::string& message, bool tolerated = false) {
    report_->problems.push_back(CheckProblem{page, message, tolerated});
  }

  // Records what a page is used as; a second, different use is a problem.
  void Use(uint32_t page, const std::string& what) {
    auto [it, inserted] = use_.emplace(page, what);
    if (!inserted && it->second != what) {
      Problem(page, "used both as " + it->second + " and as " + what);
    }
  }

  // ---- header -------------------------------------------------------------
  void CheckHeader() {
    const uint8_t* raw = file_.Page(0);
    Bytes page(raw, raw + kPageSize);
    ToggleHeaderMask(page.data());
    if (page[0] != 0x00 || page[1] != 0x01 || page[2] != 0x00 || page[3] != 0x00) {
      Problem(0, "header does not start 00 01 00 00");
    }
    if (std::memcmp(page.data() + kHeaderEngineNameOffset, "Standard Jet DB", 16) != 0) {
      Problem(0, "no \"Standard Jet DB\" at offset 0x04");
    }
    if (std::memcmp(page.data() + kHeaderMaskOffset, kHeaderFixed, sizeof kHeaderFixed) != 0) {
      Problem(0, "the fixed bytes at 0x18-0x2F differ from 00 01 00 00 01 01 00 00 02 00 ...");
    }
    if (std::memcmp(page.data() + kHeaderTrailerOffset, kHeaderTrailer, sizeof kHeaderTrailer) != 0) {
      Problem(0, "the bytes at 0x98 are not 54 06 00 00 \"4.0\"");
    }
    HeaderInfo h;
    if (!DecodeHeader(raw, &h).ok()) return;
    if (h.version != kJet4Version) Problem(0, "version " + std::to_string(h.version) + " at 0x14, not 1 (Jet 4)");
    if (h.db_key != 0) Problem(0, "page-encryption key " + Hex(h.db_key) + " at 0x3E is not 0");
    if (!h.password.empty()) {
      Problem(0, "the password area at 0x42 does not match the creation date's mask (a password, or a stale mask)");
    }
    if (h.sort_order != kSortOrderGeneral || h.sort_version != kSortVersionGeneralLegacy) {
      Problem(0, "sort order " + Hex(h.sort_order) + " version " + std::to_string(h.sort_version) +
                     ", not General Legacy 0x409/0: text index keys are not compared");
      compare_text_keys_ = false;
    }
    if (h.code_page == 0) Problem(0, "code page 0 at 0x3C");
  }

  // Catalog rows decoded from every live row of MSysObjects' data pages.
  std::vector<CatalogEntry> CatalogFromPages() {
    const TableDef& def = reader_->catalog_def();
    auto column = [&def](const char16_t* name) {
      for (size_t i = 0; i < def.columns.size(); ++i) {
        if (def.columns[i].name == name) return int(i);
      }
      return -1;
    };
    const int id = column(u"Id"), name = column(u"Name"), type = column(u"Type");
    std::vector<CatalogEntry> out;
    if (id < 0 || name < 0 || type < 0) return out;
    for (uint32_t n = 1; n < file_.page_count(); ++n) {
      const uint8_t* page = file_.Page(n);
      if (page[0] != kPageTypeData || GetU32(page + kDataOwnerOffset) != kCatalogTdefPage) continue;
      uint16_t count;
      if (!DataPageRowCount(page, n, &count).ok()) continue;
      for (uint16_t r = 0; r < count; ++r) {
        RowSlot slot;
        if (!DataPageRowSlot(page, n, r, &slot).ok()) break;
        if (slot.deleted || slot.overflow) continue;  // overflowed rows: reported by the table check
        Row row;
        if (!DecodeRow(file_, def, page + slot.start, slot.end - slot.start, &row).ok()) continue;
        CatalogEntry e;
        e.id = int32_t(row[id].i);
        e.name = row[name].text;
        e.type = int16_t(row[type].i);
        e.row_pointer = MakePointer(n, uint8_t(r));
        out.push_back(std::move(e));
      }
    }
    return out;
  }

  // ---- the global map -------------------------------------------------------
  void CheckGlobalMapPage() {
    use_[kGlobalMapPageNumber] = "global usage map";
    const uint8_t* page = file_.Page(kGlobalMapPageNumber);
    if (page == nullptr) {
      Problem(kGlobalMapPageNumber, "missing: the file has one page");
      return;
    }
    if (page[0] != kPageTypeData || GetU32(page + kDataOwnerOffset) != kGlobalMapOwner) {
      Problem(kGlobalMapPageNumber, "not the global-map page (data page with owner 1)");
      return;
    }
    const uint8_t* row;
    size_t size;
    Status s = ReadRowBytes(file_, kGlobalMapPageNumber, 0, &row, &size);
    if (!s.ok()) {
      Problem(kGlobalMapPageNumber, "global map row 0: " + s.message());
      return;
    }
    s = DecodeUsageMap(row, size, &file_, &global_free_, &global_layout_);
    if (!s.ok()) {
      Problem(kGlobalMapPageNumber, "global map: " + s.message());
      return;
    }
    have_global_ = true;
    for (uint32_t bp : global_layout_.bitmap_pages) {
      if (bp != 0) Use(bp, "usage-map bitmap");
    }
  }

  void CheckGlobalMap() {
    if (!have_global_) return;
    std::vector<uint32_t> used_but_free;
    for (const auto& [page, what] : use_) {
      if (global_free_.count(page)) used_but_free.push_back(page);
    }
    if (!used_but_free.empty()) {
      Problem(kGlobalMapPageNumber, "the global map marks pages in use as free: " + Pages(used_but_free));
    }
    // The pages the map describes past the end of the file: the inline
    // window, or the ranges of the reference map's bitmap pages.
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    if (global_layout_.type == kUsageMapTypeInline) {
      ranges.emplace_back(global_layout_.start_page, uint64_t(global_layout_.start_page) + global_layout_.window_pages);
    } else {
      for (size_t k = 0; k < global_layout_.bitmap_pages.size(); ++k) {
        if (global_layout_.bitmap_pages[k] != 0) ranges.emplace_back(k * kUsageBitmapPageSpan, (k + 1) * kUsageBitmapPageSpan);
      }
    }
    {
      std::vector<uint32_t> not_free;
      for (const auto& [begin, end] : ranges) {
        for (uint64_t p = std::max<uint64_t>(file_.page_count(), begin); p < end; ++p) {
          if (!global_free_.count(uint32_t(p))) not_free.push_back(uint32_t(p));
        }
      }
      if (!not_free.empty()) {
        Problem(kGlobalMapPageNumber, "the global map does not mark pages past the end of the file (" +
                                          std::to_string(file_.page_count()) + " pages) as free: " + Pages(not_free));
      }
    }
  }

  // ---- every page ---------------------------------------------------------------
  void CheckAllPages() {
    std::vector<uint32_t> unused;
    for (uint32_t n = 1; n < file_.page_count(); ++n) {
      const uint8_t* page = file_.Page(n);
      const uint8_t type = page[0];
      if (type > kPageTypeUsageBitmap || type == kPageTypeHeader) {
        // Pages nothing refers to may hold anything; others are checked by their users.
        if (use_.count(n)) Problem(n, "page type " + Hex(type) + " is not a Jet 4 page type");
      } else if (type == kPageTypeData && use_.count(n)) {
        CheckDataPage(n, page);
      }
      if (!use_.count(n) && !(have_global_ && global_free_.count(n))) unused.push_back(n);
    }
    if (!unused.empty()) {
      // Access leaves the pages of deleted data in use until a compaction.
      Problem(unused.front(), "pages that nothing refers to and the global map does not mark free: " + Pages(unused),
              true);
    }
  }

  void CheckDataPage(uint32_t n, const uint8_t* page) {
    uint16_t count;
    if (!DataPageRowCount(page, n, &count).ok()) {
      Problem(n, "row count " + std::to_string(GetU16(page + kDataRowCountOffset)) + " does not fit the page");
      return;
    }
    if (count > kMaxRowsPerDataPage) Problem(n, std::to_string(count) + " rows, more than 255");
    size_t used = 0;
    size_t lowest = kPageSize;
    uint16_t previous = uint16_t(kPageSize);
    for (uint16_t r = 0; r < count; ++r) {
      const uint16_t start = GetU16(page + kDataRowOffsetsOffset + 2 * r) & kRowOffsetMask;
      if (start > previous || start < kDataRowOffsetsOffset + 2 * size_t(count)) {
        Problem(n, "row " + std::to_string(r) + " starts at " + std::to_string(start) +
                       ", out of order or inside the offset table");
        return;
      }
      used += size_t(previous - start) + 2;
      previous = start;
      lowest = start;
    }
    const uint16_t free_space = GetU16(page + kDataFreeSpaceOffset);
    if (free_space != kDataUsableBytes - used) {
      Problem(n, "free space " + std::to_string(free_space) + ", the rows leave " +
                     std::to_string(kDataUsableBytes - used));
    }
    for (size_t i = kDataRowOffsetsOffset + 2 * size_t(count); i < lowest; ++i) {
      if (page[i] != 0) {
        // Access leaves the bytes of removed rows behind.
        Problem(n, "non-zero byte at " + std::to_string(i) + ", between the offset table and the rows", true);
        break;
      }
    }
  }

  // ---- usage maps -------------------------------------------------------------------
  // Reads the map row at `pointer`; false (with a problem) when it cannot.
  bool ReadMap(uint32_t pointer, const std::string& what, uint32_t report_page, std::set<uint32_t>* pages) {
    pages->clear();
    const uint32_t page_number = PointerPage(pointer);
    const uint8_t* row;
    size_t size;
    Status s = ReadRowBytes(file_, page_number, PointerRow(pointer), &row, &size);
    if (!s.ok()) {
      Problem(report_page, what + " at " + Hex(pointer) + ": " + s.message());
      return false;
    }
    const uint32_t owner = GetU32(file_.Page(page_number) + kDataOwnerOffset);
    if (page_number != kGlobalMapPageNumber) {
      if (owner != 0) {
        Problem(page_number, "holds " + what + " but its owner field is " + Hex(owner) + ", not 0");
      }
      Use(page_number, "usage-map rows");
    }
    UsageMapLayout layout;
    s = DecodeUsageMap(row, size, &file_, pages, &layout);
    if (!s.ok()) {
      Problem(page_number, what + " at " + Hex(pointer) + ": " + s.message());
      return false;
    }
    for (uint32_t bp : layout.bitmap_pages) {
      if (bp != 0) Use(bp, "usage-map bitmap");
    }
    return true;
  }

  // ---- relationships -------------------------------------------------------------------
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

  // Reads the relationships from every table's TDEF, before the tables are
  // checked; the referenced indexes they need go to `referenced_`.
  void FindRelationships(const std::vector<CatalogEntry>& catalog) {
    std::map<uint32_t, std::u16string> tables;  // TDEF page -> name
    for (const CatalogEntry& e : catalog) {
      if (e.is_table()) tables.emplace(e.tdef_page(), e.name);
    }
    for (const auto& [tp, table_name] : tables) {
      TableDef def;
      if (!ReadTableDef(file_, tp, &def).ok()) continue;  // reported with the table
      def.name = table_name;
      for (const LogicalIndex& li : def.logical_indexes) {
        if (li.kind != kIndexKindForeignKey || li.raw.size() < kTdefLogicalIndexBytes ||
            li.raw[kLogicalIndexReferenceTypeOffset] != kReferencingTable) {
          continue;
        }
        const uint32_t other_index = GetU32(li.raw.data() + kLogicalIndexOtherIndexOffset);
        const uint32_t other_page = GetU32(li.raw.data() + kLogicalIndexOtherTableOffset);
        if (other_index == kNoOtherIndex) continue;
        Relationship rel;
        rel.name = Utf16ToUtf8(li.name);
        const std::string what = "relationship " + rel.name + " of " + Utf16ToUtf8(table_name);
        Status s = ReadTableDef(file_, other_page, &rel.to);
        if (!s.ok()) {
          Problem(tp, what + ": the referenced table: " + s.message());
          continue;
        }
        const auto named = tables.find(other_page);
        if (named == tables.end()) {
          Problem(tp, what + ": the referenced TDEF at page " + std::to_string(other_page) +
                          " is no table of the catalog");
          continue;
        }
        rel.to.name = named->second;
        const std::string to_name = Utf16ToUtf8(rel.to.name);
        const LogicalIndex* target = nullptr;
        for (const LogicalIndex& other : rel.to.logical_indexes) {
          if (other.number == other_index) target = &other;
        }
        if (target == nullptr) {
          Problem(tp, what + " names logical index " + std::to_string(other_index) + " of " + to_name +
                          ", which it lacks");
          continue;
        }
        rel.from_index = li.physical_index;
        rel.to_index = target->physical_index;
        const auto& from_columns = def.physical_indexes[rel.from_index].columns;
        const auto& to_columns = rel.to.physical_indexes[rel.to_index].columns;
        if (from_columns.size() != to_columns.size()) {
          Problem(tp, what + ": " + std::to_string(from_columns.size()) + " key columns, the index of " + to_name +
                          " it names " + std::to_string(to_columns.size()));
          continue;
        }
        for (size_t k = 0; k < from_columns.size(); ++k) {
          const int from = ColumnAt(def, from_columns[k].column_number);
          const int to = ColumnAt(rel.to, to_columns[k].column_number);
          if (from < 0 || to < 0) break;  // reported with the index
          rel.columns.emplace_back(size_t(from), size_t(to));
          const ColumnType type = rel.to.columns[size_t(to)].type;
          if (!compare_text_keys_ && (type == ColumnType::kText || type == ColumnType::kMemo)) rel.comparable = false;
        }
        if (rel.columns.size() != from_columns.size()) continue;
        rel.from = def;
        referenced_.emplace(other_page, rel.to_index);
        relationships_.push_back(std::move(rel));
      }
    }
  }

  static int ColumnAt(const TableDef& def, uint16_t number) {
    for (size_t c = 0; c < def.columns.size(); ++c) {
      if (def.columns[c].number == number) return int(c);
    }
    return -1;
  }

  // The key of referencing row `row` (slot `page`/`r`) computed with the
  // referenced index's columns, kept among `rel`'s keys unless it is all Null.
  void AddReferencingKey(Relationship* rel, const Row& row, uint32_t page, uint8_t r) {
    if (!rel->comparable) return;
    Row& key_row = rel->key_row;
    key_row.resize(rel->to.columns.size());
    bool all_null = true;
    for (const auto& [from, to] : rel->columns) {
      key_row[to] = row[from];
      all_null &= row[from].is_null() && rel->from.columns[from].type != ColumnType::kBoolean;
    }
    if (all_null) return;
    Bytes key;
    Status s = BuildIndexEntry(rel->to, rel->to.physical_indexes[rel->to_index], key_row, page, r, &key);
    if (!s.ok()) {
      rel->comparable = false;
      if (!s.IsNotSupported()) {
        Problem(page, "row " + std::to_string(r) + " of " + Utf16ToUtf8(rel->from.name) + ": relationship " +
                          rel->name + ": " + s.message());
      }
      return;
    }
    key.resize(key.size() - kIndexRowPointerBytes);
    ++rel->keys.try_emplace(std::move(key), Relationship::Rows{page, r, 0}).first->second.count;
  }

  // Each relationship's referencing keys against the referenced index's.
  void CheckRelationships() {
    constexpr size_t kRowsReported = 5;
    for (Relationship& rel : relationships_) {
      const auto present = referenced_keys_.find({rel.to.tdef_page, rel.to_index});
      // Without the referenced index's keys (it cannot be read), its check says why.
      if (!rel.comparable || present == referenced_keys_.end()) continue;
      std::vector<std::pair<const Bytes*, Relationship::Rows>> broken;
      for (const auto& [key, rows] : rel.keys) {
        if (!std::binary_search(present->second.begin(), present->second.end(), key)) broken.emplace_back(&key, rows);
      }
      std::sort(broken.begin(), broken.end(), [](const auto& a, const auto& b) {
        return std::make_pair(a.second.page, a.second.row) < std::make_pair(b.second.page, b.second.row);
      });
      const std::string from_name = Utf16ToUtf8(rel.from.name), to_name = Utf16ToUtf8(rel.to.name);
      size_t more = 0;
      for (size_t k = 0; k < broken.size(); ++k) {
        const Relationship::Rows& rows = broken[k].second;
        if (k >= kRowsReported) {
          more += rows.count;
          continue;
        }
        Problem(rows.page, "row " + std::to_string(rows.row) + " of " + from_name + ": relationship " + rel.name +
                               ": no row of " + to_name + " has its key " + KeyValues(rel, rows, *broken[k].first) +
                               (rows.count > 1 ? " (nor " + std::to_string(rows.count - 1) + " more rows with it)" : ""));
      }
      if (more > 0) {
        Problem(broken[kRowsReported].second.page, "relationship " + rel.name + ": " + std::to_string(more) +
                                                        " more rows of " + from_name + " whose keys " + to_name +
                                                        " lacks");
      }
      rel.keys.clear();
    }
  }

  // The key columns of the referencing row at `rows` ("otherfk1 = 7"),
  // decoded again; the key bytes when the row cannot be.
  std::string KeyValues(const Relationship& rel, const Relationship::Rows& rows, const Bytes& key) {
    const uint8_t* data;
    size_t size;
    RowSlot slot;
    Row row;
    bool ok = ReadRowBytes(file_, rows.page, rows.row, &data, &size, &slot).ok();
    if (ok && slot.overflow) ok = size >= 4 && ReadRowBytes(file_, GetU24(data + 1), data[0], &data, &size).ok();
    if (!ok || !DecodeRow(file_, rel.from, data, size, &row).ok()) return "(" + HexBytes(key) + ")";
    std::string out;
    for (const auto& [from, to] : rel.columns) {
      out += (out.empty() ? "" : ", ") + Utf16ToUtf8(rel.from.columns[from].name) + " = " + ValueText(row[from]);
    }
    return out;
  }

  // ---- tables -------------------------------------------------------------------------
  void CheckTable(const CatalogEntry& e) {
    const std::string name = Utf16ToUtf8(e.name);
    const uint32_t tp = e.tdef_page();
    if (uint32_t(e.id) != tp && (uint32_t(e.id) >> 24) != 0) {
      Problem(tp, "table " + name + " has Id " + Hex(uint32_t(e.id)) + ", not its TDEF page");
    }
    TableDef def;
    TdefLayout layout;
    Status s = ReadTableDef(file_, tp, &def, &layout);
    if (!s.ok()) {
      Problem(tp, "table " + name + ": " + s.message());
      return;
    }
    def.name = e.name;
    for (uint32_t p : layout.pages) Use(p, "TDEF of " + name);
    CheckTdef(name, def, layout);

    const std::set<uint32_t> actual = CheckDataPages(name, def);
    TableContext table;
    table.name = name;
    table.def = &def;
    table.data_pages = &actual;
    table.var_cols = def.variable_column_count();
    table.header_var = GetU16(layout.logical.data() + kTdefVarColsOffset);
    for (Relationship& rel : relationships_) {
      if (rel.from.tdef_page == tp) table.relationships.push_back(&rel);
    }
    TableRows rows = CheckRows(table);
    CheckLongValueMaps(name, def, &rows.lval_pages);
    for (size_t i = 0; i < def.physical_indexes.size(); ++i) {
      CheckIndex(name, def, i, &rows.expected[i], rows.key_trouble[i]);
    }
  }

  // Data pages: what the owned map says against the pages that say so.
  // Returns the pages whose owner field names the table.
  std::set<uint32_t> CheckDataPages(const std::string& name, const TableDef& def) {
    const uint32_t tp = def.tdef_page;
    std::set<uint32_t> owned, free_pages, actual;
    const bool have_owned = ReadMap(def.owned_map, "owned-pages map of " + name, tp, &owned);
    if (ReadMap(def.free_map, "free-space map of " + name, tp, &free_pages)) {
      const auto extra = Minus(free_pages, owned);
      if (have_owned && !extra.empty()) {
        Problem(tp, "free-space map of " + name + " lists pages it does not own: " + Pages(extra));
      }
    }
    for (uint32_t n = 1; n < file_.page_count(); ++n) {
      const uint8_t* page = file_.Page(n);
      if (page[0] == kPageTypeData && GetU32(page + kDataOwnerOffset) == tp) actual.insert(n);
    }
    for (uint32_t p : actual) Use(p, "data page of " + name);
    if (have_owned) {
      const auto missing = Minus(actual, owned), extra = Minus(owned, actual);
      if (!missing.empty()) Problem(missing.front(), "data pages of " + name + " missing from its owned map: " + Pages(missing));
      if (!extra.empty()) {
        Problem(extra.front(), "owned map of " + name + " lists pages that are not its data pages: " + Pages(extra));
      }
    }
    return actual;
  }

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

  // Rows: every live row of the table's data pages, then its row count.
  TableRows CheckRows(const TableContext& t) {
    const TableDef& def = *t.def;
    const uint32_t tp = def.tdef_page;
    const size_t index_count = def.physical_indexes.size();
    TableRows rows;
    rows.expected.resize(index_count);
    rows.key_trouble.resize(index_count);
    for (uint32_t n : *t.data_pages) {
      const uint8_t* page = file_.Page(n);
      uint16_t count;
      if (!DataPageRowCount(page, n, &count).ok()) continue;  // reported with the page
      for (uint16_t r = 0; r < count; ++r) {
        RowSlot slot;
        if (!DataPageRowSlot(page, n, r, &slot).ok()) break;  // reported with the page
        if (slot.deleted) continue;
        CheckRow(t, n, r, slot, &rows);
      }
    }
    if (rows.live_rows != def.row_count) {
      // Access leaves the counts of its own system tables stale.
      Problem(tp,
              "row count of " + t.name + " is " + std::to_string(def.row_count) + " in the TDEF, " +
                  std::to_string(rows.live_rows) + " rows found",
              def.table_type == kTableTypeSystem && tp != kCatalogTdefPage);
    }
    return rows;
  }

  // Live row `r` (`slot`) of data page `n`: followed when it overflows,
  // decoded and checked; its index entries and LVAL pages go to `rows`.
  void CheckRow(const TableContext& t, uint32_t n, uint16_t r, const RowSlot& slot,
                TableRows* rows) {
    const TableDef& def = *t.def;
    const uint8_t* data = file_.Page(n) + slot.start;
    size_t size = slot.end - slot.start;
    uint32_t at = n;
    if (slot.overflow && !FollowOverflow(t, n, r, &data, &size, &at)) return;
    if (size > kMaxDataRowBytes) {
      Problem(at, t.name + ": a row of " + std::to_string(size) + " bytes, more than 4060");
    }
    Row row;
    RowLayout rl;
    Status s = DecodeRow(file_, def, data, size, &row, &rl);
    const std::string where = "row " + std::to_string(r) + " of " + t.name;
    if (!s.ok()) {
      Problem(at, where + ": " + s.message());
      return;
    }
    CheckRowLayout(t, where, at, data, rl, &rows->lval_pages);
    ++rows->live_rows;
    for (size_t i = 0; i < def.physical_indexes.size(); ++i) {
      if (!rows->key_trouble[i].empty()) continue;
      Bytes entry;
      if (ExpectedEntry(def, def.physical_indexes[i], row, n, uint8_t(r), &entry,
                        &rows->key_trouble[i])) {
        rows->expected[i].push_back(std::move(entry));
      }
    }
    for (Relationship* rel : t.relationships) AddReferencingKey(rel, row, n, uint8_t(r));
  }

  // Follows the overflow pointer of row `r` of page `n` (its bytes in
  // `*data`, `*size`) to the row it names; `*at` its page. False (with a
  // problem) when it cannot.
  bool FollowOverflow(const TableContext& t, uint32_t n, uint16_t r, const uint8_t** data,
                      size_t* size, uint32_t* at) {
    const std::string& name = t.name;
    if (*size < 4) {
      Problem(n, "row " + std::to_string(r) + " of " + name +
                     ": overflow row shorter than its pointer");
      return false;
    }
    const uint8_t target_row = (*data)[0];
    const uint32_t target_page = GetU24(*data + 1);
    RowSlot target;
    Status s = ReadRowBytes(file_, target_page, target_row, data, size, &target);
    if (!s.ok()) {
      Problem(n, "row " + std::to_string(r) + " of " + name + ": overflow pointer: " + s.message());
      return false;
    }
    if (!t.data_pages->count(target_page)) {
      Problem(n, "row " + std::to_string(r) + " of " + name + " overflows to page " +
                     std::to_string(target_page) + ", not a data page of the table");
    }
    if (!target.deleted || target.overflow) {
      Problem(target_page, "row " + std::to_string(target_row) + " holds an overflowed row of " +
                               name + " but is not flagged 0x8000 alone");
    }
    *at = target_page;
    return true;
  }

  // The decoded row's layout against the TDEF (`where` names the row, `at`
  // its page); the LVAL pages of its long values go to `lval_pages`.
  void CheckRowLayout(const TableContext& t, const std::string& where, uint32_t at,
                      const uint8_t* data, const RowLayout& rl,
                      std::map<uint16_t, std::set<uint32_t>>* lval_pages) {
    const TableDef& def = *t.def;
    // Rows written before columns were added have fewer columns (a valid
    // state: the later columns are null in them); more is not.
    if (rl.column_count > def.max_cols) {
      Problem(at, where + " has " + std::to_string(rl.column_count) + " columns, the TDEF " +
                      std::to_string(def.max_cols));
    }
    if (t.var_cols > 0 && rl.variable_count > t.header_var) {
      Problem(at, where + " has " + std::to_string(rl.variable_count) +
                      " variable columns, the TDEF " + std::to_string(t.header_var));
    }
    if (rl.fixed_end > rl.variable_start) {
      Problem(at, where + ": fixed columns end at " + std::to_string(rl.fixed_end) +
                      ", after variable data starts at " + std::to_string(rl.variable_start));
    }
    for (size_t c = 0; c < def.columns.size(); ++c) {
      const ColumnDef& col = def.columns[c];
      if (!col.is_long_value() || rl.spans[c].second == rl.spans[c].first) continue;
      const uint8_t* field = data + rl.spans[c].first;
      const size_t flen = rl.spans[c].second - rl.spans[c].first;
      if (flen >= kLongValueHeaderSize && (GetU32(field) & kLongValueFlagInline) &&
          (GetU32(field) & kLongValueLengthMask) > kLongValueInlineMax) {
        Problem(at, where + ": inline " + Utf16ToUtf8(col.name) + " value of " +
                        std::to_string(GetU32(field) & kLongValueLengthMask) +
                        " bytes, more than 64");
      }
      std::vector<uint32_t> lv;
      if (LongValuePages(file_, field, flen, &lv).ok())
        (*lval_pages)[col.number].insert(lv.begin(), lv.end());
    }
  }

  // Long-value pages (`lval_pages`, per column number, from the rows)
  // against each memo/OLE column's maps.
  void CheckLongValueMaps(const std::string& name, const TableDef& def,
                          std::map<uint16_t, std::set<uint32_t>>* lval_pages_inout) {
    const uint32_t tp = def.tdef_page;
    auto& lval_pages = *lval_pages_inout;
    for (const LongValueMaps& m : def.long_value_maps) {
      const ColumnDef* col = nullptr;
      for (const auto& c : def.columns) {
        if (c.number == m.column_number) col = &c;
      }
      const std::string cname = name + "." + (col ? Utf16ToUtf8(col->name) : std::to_string(m.column_number));
      if (col == nullptr || !col->is_long_value()) {
        Problem(tp, "long-value maps listed for column " + cname + ", which is not a memo/OLE column");
        continue;
      }
      if (m.owned_map == 0 || m.free_map == 0) {
        // Tables Access's later versions create in this format leave them out.
        Problem(tp, "no LVAL " + std::string(m.owned_map == 0 ? "owned" : "free") + " map for " + cname, true);
        if (m.owned_map == 0) continue;
      }
      std::set<uint32_t> lv_owned, lv_free;
      const bool ok_owned = ReadMap(m.owned_map, "LVAL owned map of " + cname, tp, &lv_owned);
      if (m.free_map != 0 && ReadMap(m.free_map, "LVAL free map of " + cname, tp, &lv_free) && ok_owned) {
        const auto extra = Minus(lv_free, lv_owned);
        if (!extra.empty()) Problem(tp, "LVAL free map of " + cname + " lists pages it does not own: " + Pages(extra));
      }
      if (!ok_owned) continue;
      const auto& used = lval_pages[col->number];
      const auto missing = Minus(used, lv_owned);
      if (!missing.empty()) {
        Problem(missing.front(), "LVAL pages of " + cname + " missing from its owned map: " + Pages(missing));
      }
      for (uint32_t p : lv_owned) {
        const uint8_t* page = file_.Page(p);
        if (page == nullptr || page[0] != kPageTypeData || GetU32(page + kDataOwnerOffset) != kLvalOwnerTag) {
          Problem(p, "listed in the LVAL owned map of " + cname + " but not an LVAL page");
        } else {
          Use(p, "LVAL page of " + cname);
        }
      }
      lval_pages.erase(col->number);
    }
    for (const auto& [number, pages] : lval_pages) {
      // Columns the TDEF lists no maps for: their pages are at least in use.
      for (uint32_t p : pages) Use(p, "LVAL page of " + name);
    }
  }

  // The entry of `row` (slot `page`/`r`) in index `pi`: false when the row
  // has none (all columns null in an index that ignores nulls) or when keys
  // cannot be computed (`*trouble` says why: "unsupported" or an error).
  bool ExpectedEntry(const TableDef& def, const PhysicalIndex& pi, const Row& row, uint32_t page, uint8_t r,
                     Bytes* entry, std::string* trouble) {
    if (pi.flags & kIndexFlagIgnoreNulls) {
      bool all_null = true;
      for (const IndexColumn& ic : pi.columns) {
        for (size_t c = 0; c < def.columns.size(); ++c) {
          if (def.columns[c].number == ic.column_number &&
              (def.columns[c].type == ColumnType::kBoolean || !row[c].is_null())) {
            all_null = false;
          }
        }
      }
      if (all_null) return false;
    }
    Status s = BuildIndexEntry(def, pi, row, page, r, entry);
    if (s.IsNotSupported()) {
      *trouble = "unsupported";
      return false;
    }
    if (!s.ok()) {
      *trouble = s.message();
      return false;
    }
    return true;
  }

  void CheckIndex(const std::string& name, const TableDef& def, size_t i, std::vector<Bytes>* expected_entries,
                  const std::string& key_trouble) {
    const PhysicalIndex& pi = def.physical_indexes[i];
    const std::string iname = "index " + std::to_string(i) + " of " + name;
    const uint32_t tp = def.tdef_page;
    std::set<uint32_t> map_pages;
    const bool have_map = ReadMap(pi.usage_map, "usage map of " + iname, tp, &map_pages);

    // Walk the tree from the root: nodes in entry order, leaves in turn.
    std::vector<Bytes> entries;
    std::set<uint32_t> visited;
    std::vector<uint32_t> leaves;
    bool walk_ok = WalkIndex(iname, tp, pi.root_page, 0, &visited, &leaves, &entries);
    for (uint32_t p : visited) Use(p, "page of " + iname);
    if (have_map && walk_ok) {
      std::set<uint32_t> tree(visited.begin(), visited.end());
      const auto missing = Minus(tree, map_pages), extra = Minus(map_pages, tree);
      if (!missing.empty()) Problem(missing.front(), "pages of " + iname + " missing from its usage map: " + Pages(missing));
      if (!extra.empty()) Problem(extra.front(), "usage map of " + iname + " lists pages outside its tree: " + Pages(extra));
    }
    // Leaves are chained in order.
    for (size_t k = 0; walk_ok && k < leaves.size(); ++k) {
      IndexPage leaf;
      if (!DecodeIndexPage(file_.Page(leaves[k]), leaves[k], &leaf).ok()) continue;
      const uint32_t prev = k == 0 ? 0 : leaves[k - 1], next = k + 1 == leaves.size() ? 0 : leaves[k + 1];
      if (leaf.prev_page != prev || leaf.next_page != next) {
        Problem(leaves[k], iname + ": leaf links previous " + std::to_string(leaf.prev_page) + " / next " +
                               std::to_string(leaf.next_page) + ", expected " + std::to_string(prev) + " / " +
                               std::to_string(next));
      }
    }
    for (size_t k = 1; k < entries.size(); ++k) {
      if (!(entries[k - 1] < entries[k])) {
        Problem(pi.root_page, iname + ": entries " + std::to_string(k - 1) + " and " + std::to_string(k) +
                                  " are not in strictly ascending order");
        break;
      }
    }

    // The entries the rows call for.
    bool keys_comparable = walk_ok && key_trouble.empty();
    if (!key_trouble.empty() && key_trouble != "unsupported") Problem(tp, iname + ": " + key_trouble);
    std::vector<Bytes>& expected = *expected_entries;
    if (keys_comparable && !compare_text_keys_) {
      for (const IndexColumn& ic : pi.columns) {
        for (const auto& c : def.columns) {
          if (c.number == ic.column_number && (c.type == ColumnType::kText || c.type == ColumnType::kMemo)) {
            keys_comparable = false;
          }
        }
      }
    }
    if (keys_comparable) {
      std::sort(expected.begin(), expected.end());
      std::vector<Bytes> found = entries;
      std::sort(found.begin(), found.end());
      std::vector<Bytes> missing, extra;
      std::set_difference(expected.begin(), expected.end(), found.begin(), found.end(), std::back_inserter(missing));
      std::set_difference(found.begin(), found.end(), expected.begin(), expected.end(), std::back_inserter(extra));
      if (!missing.empty() || !extra.empty()) {
        Problem(pi.root_page, iname + ": " + std::to_string(missing.size()) + " entries missing, " +
                                  std::to_string(extra.size()) + " entries without a row (" +
                                  std::to_string(found.size()) + " found, " + std::to_string(expected.size()) +
                                  " expected)" + (missing.empty() ? "" : "; first missing " + HexBytes(missing[0])) +
                                  (extra.empty() ? "" : "; first extra " + HexBytes(extra[0])));
      }
    }
    if (walk_ok) {
      std::set<Bytes> keys;
      for (const Bytes& e : entries) keys.insert(Bytes(e.begin(), e.end() - kIndexRowPointerBytes));
      // Access does not lower the count when rows go, and leaves the counts of
      // its system tables stale (as their row counts).
      if (keys.size() != pi.unique_count) {
        Problem(tp, iname + ": unique count " + std::to_string(pi.unique_count) + " in the TDEF, " +
                        std::to_string(keys.size()) + " distinct keys",
                pi.unique_count > keys.size() || (def.table_type == kTableTypeSystem && tp != kCatalogTdefPage));
      }
      if ((pi.flags & kIndexFlagUnique) && keys.size() != entries.size()) {
        Problem(pi.root_page, iname + " is unique but holds " + std::to_string(entries.size() - keys.size()) +
                                  " duplicate keys");
      }
      if (referenced_.count({tp, i})) {
        std::vector<Bytes>& present = referenced_keys_[{tp, i}];
        present.clear();
        present.reserve(keys.size());
        while (!keys.empty()) present.push_back(std::move(keys.extract(keys.begin()).value()));
      }
    }
  }

  static std::string HexBytes(const Bytes& b) {
    static const char* d = "0123456789ABCDEF";
    std::string s;
    for (uint8_t x : b) {
      if (!s.empty()) s += ' ';
      s += d[x >> 4];
      s += d[x & 15];
    }
    return s;
  }

  // Visits the index page `n` and its children; collects leaf entries in
  // order. False when the tree cannot be walked (reported).
  bool WalkIndex(const std::string& iname, uint32_t tp, uint32_t n, int depth, std::set<uint32_t>* visited,
                 std::vector<uint32_t>* leaves, std::vector<Bytes>* entries) {
    if (depth > 32 || !visited->insert(n).second) {
      Problem(n, iname + ": the index tree loops back to this page");
      return false;
    }
    const uint8_t* page = file_.Page(n);
    if (page == nullptr || n == 0) {
      Problem(n, iname + ": index page past the end of the file");
      return false;
    }
    IndexPage ip;
    Status s = DecodeIndexPage(page, n, &ip);
    if (!s.ok()) {
      Problem(n, iname + ": " + s.message());
      return false;
    }
    if (ip.tdef_page != tp) {
      Problem(n, iname + ": index page names TDEF " + std::to_string(ip.tdef_page) + ", not " + std::to_string(tp));
    }
    if (ip.free_space != kPageSize - kIndexEntriesOffset - ip.entries_end) {
      Problem(n, iname + ": free space " + std::to_string(ip.free_space) + ", the entries leave " +
                     std::to_string(kPageSize - kIndexEntriesOffset - ip.entries_end));
    }
    if (ip.is_leaf()) {
      leaves->push_back(n);
      entries->insert(entries->end(), ip.entries.begin(), ip.entries.end());
      return true;
    }
    // Children in entry order, then the tail (the last child, which has no
    // entry of its own); each node entry is its child's last entry.
    std::vector<uint32_t> children;
    for (const Bytes& e : ip.entries) {
      uint32_t child;
      if (!IndexEntryChild(e, &child)) return false;
      children.push_back(child);
    }
    if (ip.tail_page != 0) children.push_back(ip.tail_page);
    for (size_t k = 0; k < children.size(); ++k) {
      const size_t before = entries->size();
      if (!WalkIndex(iname, tp, children[k], depth + 1, visited, leaves, entries)) return false;
      if (k < ip.entries.size() && entries->size() > before) {
        const Bytes& e = ip.entries[k];
        const Bytes& last = entries->back();
        if (!std::equal(e.begin(), e.end() - kIndexChildPointerBytes, last.begin(), last.end())) {
          Problem(n, iname + ": node entry " + std::to_string(k) + " is not the last entry under page " +
                         std::to_string(children[k]));
        }
      }
    }
    return true;
  }

  void CheckTdef(const std::string& name, const TableDef& def, const TdefLayout& layout) {
    const uint32_t tp = layout.pages.front();
    const uint8_t* first = file_.Page(tp);
    if (layout.terminator_offset + 2 != layout.tdef_len) {
      Problem(tp, "TDEF of " + name + ": the sections end at " + std::to_string(layout.terminator_offset + 2) +
                      ", its length says " + std::to_string(layout.tdef_len));
    }
    if (GetU32(first + kTdefConstantOffset) != kTdefConstant) {
      Problem(tp, "TDEF of " + name + ": no 1625 at offset 12");
    }
    if (layout.pages.size() == 1) {
      const uint16_t free_space = GetU16(first + kTdefFreeSpaceOffset);
      if (layout.tdef_len + kTdefPageHeaderBytes > kPageSize ||
          free_space != kPageSize - kTdefPageHeaderBytes - layout.tdef_len) {
        Problem(tp, "TDEF of " + name + ": free space " + std::to_string(free_space) + ", expected 4096 - 8 - " +
                        std::to_string(layout.tdef_len));
      }
      for (size_t i = layout.tdef_len; i < kPageSize; ++i) {
        if (first[i] != 0) {
          Problem(tp, "TDEF of " + name + ": non-zero byte at " + std::to_string(i) + ", after its end", true);
          break;
        }
      }
    }
    // Columns: variable indexes 0..n-1, fixed columns not overlapping.
    std::set<uint16_t> var_indexes;
    std::vector<std::pair<uint32_t, uint32_t>> fixed;
    uint16_t var_count = 0;
    for (const auto& c : def.columns) {
      if (c.is_fixed()) {
        if (c.type != ColumnType::kBoolean) fixed.emplace_back(c.fixed_offset, uint32_t(c.fixed_offset) + c.length);
      } else {
        ++var_count;
        if (!var_indexes.insert(c.var_index).second) {
          Problem(tp, "TDEF of " + name + ": two variable columns with index " + std::to_string(c.var_index));
        }
      }
    }
    // Deleted columns keep their numbers and variable slots: the header counts
    // them, the descriptors do not.
    const uint16_t header_var = GetU16(layout.logical.data() + kTdefVarColsOffset);
    if (!var_indexes.empty() && *var_indexes.rbegin() >= header_var) {
      Problem(tp, "TDEF of " + name + ": variable index " + std::to_string(*var_indexes.rbegin()) +
                      " not below the header's " + std::to_string(header_var) + " variable columns");
    }
    // Fewer descriptors than the header counts is a table with deleted
    // columns, a valid state; more is not.
    if (header_var < var_count || def.max_cols < def.columns.size()) {
      Problem(tp, "TDEF of " + name + ": " + std::to_string(header_var) + " variable and " +
                      std::to_string(def.max_cols) + " columns in the header, " + std::to_string(var_count) + " and " +
                      std::to_string(def.columns.size()) + " described");
    }
    std::sort(fixed.begin(), fixed.end());
    for (size_t k = 1; k < fixed.size(); ++k) {
      if (fixed[k].first < fixed[k - 1].second) {
        Problem(tp, "TDEF of " + name + ": fixed columns overlap at offset " + std::to_string(fixed[k].first));
        break;
      }
    }
  }

  const PageFile& file_;
  CheckReport* report_;
  std::unique_ptr<DatabaseReader> reader_;
  std::vector<Relationship> relationships_;
  // The referenced indexes (TDEF page, physical index) and their keys in
  // order, kept from their check to the relationships'.
  std::set<std::pair<uint32_t, size_t>> referenced_;
  std::map<std::pair<uint32_t, size_t>, std::vector<Bytes>> referenced_keys_;
  std::map<uint32_t, std::string> use_;
  std::set<uint32_t> global_free_;
  UsageMapLayout global_layout_;
  bool have_global_ = false;
  bool compare_text_keys_ = true;
};

}  // namespace

Status CheckDatabaseImage(Bytes image, const CheckOptions& options, CheckReport* report) {
  *report = CheckReport();
  report->strict = options.strict;
  std::unique_ptr<PageFile> file;
  KP_RETURN_IF_ERROR(PageFile::FromBytes(std::move(image), &file));
  HeaderInfo h;
  KP_RETURN_IF_ERROR(DecodeHeader(file->Page(0), &h));
  // A password (or a password area that does not match the date) is a
  // problem to report; only other versions and encrypted pages stop the check.
  h.password.clear();
  KP_RETURN_IF_ERROR(CheckHeaderSupported(h));
  Checker(*file, report).Run();
  return Status::OK();
}

Status CheckDatabase(const std::string& path, const CheckOptions& options, CheckReport* report) {
  std::unique_ptr<PageFile> file;
  KP_RETURN_IF_ERROR(PageFile::Open(path, &file));
  Bytes image(file->bytes(), file->bytes() + file->size());
  Status s = CheckDatabaseImage(std::move(image), options, report);
  return s.ok() ? s : s.WithContext(path);
}

}  // namespace kp::jet
