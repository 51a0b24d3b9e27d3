// The checker's tables: data pages, rows, row count and long-value maps.
#include "base/text_util.h"
#include "jet/checker_internal.h"
#include "jet/format.h"

namespace kp::jet::check {

void TableChecker::Check(const CatalogEntry& e) {
  const std::string name = Utf16ToUtf8(e.name);
  const uint32_t tp = e.tdef_page();
  if (uint32_t(e.id) != tp && (uint32_t(e.id) >> 24) != 0) {
    cx_->Problem(tp, "table " + name + " has Id " + Hex(uint32_t(e.id)) + ", not its TDEF page");
  }
  TableDef def;
  TdefLayout layout;
  Status s = ReadTableDef(file_, tp, &def, &layout);
  if (!s.ok()) {
    cx_->Problem(tp, "table " + name + ": " + s.message());
    return;
  }
  def.name = e.name;
  for (uint32_t p : layout.pages) cx_->Use(p, "TDEF of " + name);
  CheckTdef(cx_, name, def, layout);

  const std::set<uint32_t> actual = CheckDataPages(name, def);
  TableContext table;
  table.name = name;
  table.def = &def;
  table.data_pages = &actual;
  table.var_cols = def.variable_column_count();
  table.header_var = GetU16(layout.logical.data() + kTdefVarColsOffset);
  table.relationships = relationships_->From(tp);
  TableRows rows = CheckRows(table);
  CheckLongValueMaps(name, def, &rows.lval_pages);
  for (size_t i = 0; i < def.physical_indexes.size(); ++i) {
    indexes_.Check(name, def, i, &rows.expected[i], rows.key_trouble[i]);
  }
}

// Data pages: what the owned map says against the pages that say so.
// Returns the pages whose owner field names the table.
std::set<uint32_t> TableChecker::CheckDataPages(const std::string& name, const TableDef& def) {
  const uint32_t tp = def.tdef_page;
  std::set<uint32_t> owned, free_pages, actual;
  const bool have_owned = cx_->ReadMap(def.owned_map, "owned-pages map of " + name, tp, &owned);
  if (cx_->ReadMap(def.free_map, "free-space map of " + name, tp, &free_pages)) {
    const auto extra = Minus(free_pages, owned);
    if (have_owned && !extra.empty()) {
      cx_->Problem(tp,
                   "free-space map of " + name + " lists pages it does not own: " + Pages(extra));
    }
  }
  for (uint32_t n = 1; n < file_.page_count(); ++n) {
    const uint8_t* page = file_.Page(n);
    if (page[0] == kPageTypeData && GetU32(page + kDataOwnerOffset) == tp) actual.insert(n);
  }
  for (uint32_t p : actual) cx_->Use(p, "data page of " + name);
  if (have_owned) {
    const auto missing = Minus(actual, owned), extra = Minus(owned, actual);
    if (!missing.empty())
      cx_->Problem(missing.front(),
                   "data pages of " + name + " missing from its owned map: " + Pages(missing));
    if (!extra.empty()) {
      cx_->Problem(extra.front(), "owned map of " + name +
                                      " lists pages that are not its data pages: " + Pages(extra));
    }
  }
  return actual;
}

// Rows: every live row of the table's data pages, then its row count.
TableChecker::TableRows TableChecker::CheckRows(const TableContext& t) {
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
    cx_->Problem(tp,
                 "row count of " + t.name + " is " + std::to_string(def.row_count) +
                     " in the TDEF, " + std::to_string(rows.live_rows) + " rows found",
                 def.table_type == kTableTypeSystem && tp != kCatalogTdefPage);
  }
  return rows;
}

// Live row `r` (`slot`) of data page `n`: followed when it overflows,
// decoded and checked; its index entries and LVAL pages go to `rows`.
void TableChecker::CheckRow(const TableContext& t, uint32_t n, uint16_t r, const RowSlot& slot,
                            TableRows* rows) {
  const TableDef& def = *t.def;
  const uint8_t* data = file_.Page(n) + slot.start;
  size_t size = slot.end - slot.start;
  uint32_t at = n;
  if (slot.overflow && !FollowOverflow(t, n, r, &data, &size, &at)) return;
  if (size > kMaxDataRowBytes) {
    cx_->Problem(at, t.name + ": a row of " + std::to_string(size) + " bytes, more than 4060");
  }
  Row row;
  RowLayout rl;
  Status s = DecodeRow(file_, def, data, size, &row, &rl);
  const std::string where = "row " + std::to_string(r) + " of " + t.name;
  if (!s.ok()) {
    cx_->Problem(at, where + ": " + s.message());
    return;
  }
  CheckRowLayout(t, where, at, data, rl, &rows->lval_pages);
  ++rows->live_rows;
  for (size_t i = 0; i < def.physical_indexes.size(); ++i) {
    if (!rows->key_trouble[i].empty()) continue;
    Bytes entry;
    if (IndexChecker::ExpectedEntry(def, def.physical_indexes[i], row, n, uint8_t(r), &entry,
                                    &rows->key_trouble[i])) {
      rows->expected[i].push_back(std::move(entry));
    }
  }
  for (Relationship* rel : t.relationships)
    relationships_->AddReferencingKey(rel, row, n, uint8_t(r));
}

// Follows the overflow pointer of row `r` of page `n` (its bytes in
// `*data`, `*size`) to the row it names; `*at` its page. False (with a
// problem) when it cannot.
bool TableChecker::FollowOverflow(const TableContext& t, uint32_t n, uint16_t r,
                                  const uint8_t** data, size_t* size, uint32_t* at) {
  const std::string& name = t.name;
  if (*size < 4) {
    cx_->Problem(
        n, "row " + std::to_string(r) + " of " + name + ": overflow row shorter than its pointer");
    return false;
  }
  const uint8_t target_row = (*data)[0];
  const uint32_t target_page = GetU24(*data + 1);
  RowSlot target;
  Status s = ReadRowBytes(file_, target_page, target_row, data, size, &target);
  if (!s.ok()) {
    cx_->Problem(n,
                 "row " + std::to_string(r) + " of " + name + ": overflow pointer: " + s.message());
    return false;
  }
  if (!t.data_pages->count(target_page)) {
    cx_->Problem(n, "row " + std::to_string(r) + " of " + name + " overflows to page " +
                        std::to_string(target_page) + ", not a data page of the table");
  }
  if (!target.deleted || target.overflow) {
    cx_->Problem(target_page, "row " + std::to_string(target_row) + " holds an overflowed row of " +
                                  name + " but is not flagged 0x8000 alone");
  }
  *at = target_page;
  return true;
}

// The decoded row's layout against the TDEF (`where` names the row, `at`
// its page); the LVAL pages of its long values go to `lval_pages`.
void TableChecker::CheckRowLayout(const TableContext& t, const std::string& where, uint32_t at,
                                  const uint8_t* data, const RowLayout& rl,
                                  std::map<uint16_t, std::set<uint32_t>>* lval_pages) {
  const TableDef& def = *t.def;
  // Rows written before columns were added have fewer columns (a valid
  // state: the later columns are null in them); more is not.
  if (rl.column_count > def.max_cols) {
    cx_->Problem(at, where + " has " + std::to_string(rl.column_count) + " columns, the TDEF " +
                         std::to_string(def.max_cols));
  }
  if (t.var_cols > 0 && rl.variable_count > t.header_var) {
    cx_->Problem(at, where + " has " + std::to_string(rl.variable_count) +
                         " variable columns, the TDEF " + std::to_string(t.header_var));
  }
  if (rl.fixed_end > rl.variable_start) {
    cx_->Problem(at, where + ": fixed columns end at " + std::to_string(rl.fixed_end) +
                         ", after variable data starts at " + std::to_string(rl.variable_start));
  }
  for (size_t c = 0; c < def.columns.size(); ++c) {
    const ColumnDef& col = def.columns[c];
    if (!col.is_long_value() || rl.spans[c].second == rl.spans[c].first) continue;
    const uint8_t* field = data + rl.spans[c].first;
    const size_t flen = rl.spans[c].second - rl.spans[c].first;
    if (flen >= kLongValueHeaderSize && (GetU32(field) & kLongValueFlagInline) &&
        (GetU32(field) & kLongValueLengthMask) > kLongValueInlineMax) {
      cx_->Problem(at, where + ": inline " + Utf16ToUtf8(col.name) + " value of " +
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
void TableChecker::CheckLongValueMaps(const std::string& name, const TableDef& def,
                                      std::map<uint16_t, std::set<uint32_t>>* lval_pages_inout) {
  const uint32_t tp = def.tdef_page;
  auto& lval_pages = *lval_pages_inout;
  for (const LongValueMaps& m : def.long_value_maps) {
    const ColumnDef* col = nullptr;
    for (const auto& c : def.columns) {
      if (c.number == m.column_number) col = &c;
    }
    const std::string cname =
        name + "." + (col ? Utf16ToUtf8(col->name) : std::to_string(m.column_number));
    if (col == nullptr || !col->is_long_value()) {
      cx_->Problem(
          tp, "long-value maps listed for column " + cname + ", which is not a memo/OLE column");
      continue;
    }
    if (m.owned_map == 0 || m.free_map == 0) {
      // Tables Access's later versions create in this format leave them out.
      cx_->Problem(
          tp, "no LVAL " + std::string(m.owned_map == 0 ? "owned" : "free") + " map for " + cname,
          true);
      if (m.owned_map == 0) continue;
    }
    std::set<uint32_t> lv_owned, lv_free;
    const bool ok_owned = cx_->ReadMap(m.owned_map, "LVAL owned map of " + cname, tp, &lv_owned);
    if (m.free_map != 0 && cx_->ReadMap(m.free_map, "LVAL free map of " + cname, tp, &lv_free) &&
        ok_owned) {
      const auto extra = Minus(lv_free, lv_owned);
      if (!extra.empty())
        cx_->Problem(tp,
                     "LVAL free map of " + cname + " lists pages it does not own: " + Pages(extra));
    }
    if (!ok_owned) continue;
    const auto& used = lval_pages[col->number];
    const auto missing = Minus(used, lv_owned);
    if (!missing.empty()) {
      cx_->Problem(missing.front(),
                   "LVAL pages of " + cname + " missing from its owned map: " + Pages(missing));
    }
    for (uint32_t p : lv_owned) {
      const uint8_t* page = file_.Page(p);
      if (page == nullptr || page[0] != kPageTypeData ||
          GetU32(page + kDataOwnerOffset) != kLvalOwnerTag) {
        cx_->Problem(p, "listed in the LVAL owned map of " + cname + " but not an LVAL page");
      } else {
        cx_->Use(p, "LVAL page of " + cname);
      }
    }
    lval_pages.erase(col->number);
  }
  for (const auto& [number, pages] : lval_pages) {
    // Columns the TDEF lists no maps for: their pages are at least in use.
    for (uint32_t p : pages) cx_->Use(p, "LVAL page of " + name);
  }
}

}  // namespace kp::jet::check
