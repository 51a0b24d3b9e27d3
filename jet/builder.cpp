#include "jet/builder.h"

#include "base/durable_file.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>

#include "base/text_util.h"
#include "jet/collation.h"
#include "jet/data_page.h"
#include "jet/format.h"
#include "jet/header.h"
#include "jet/index_build.h"
#include "jet/index_leaf.h"
#include "jet/props.h"
#include "jet/row_write.h"
#include "jet/tdef_write.h"
#include "jet/usage_map.h"

namespace kp::jet {

namespace {

// The pages of the file being built, page 0 first.
class PageSet {
 public:
  explicit PageSet(size_t reserved) : pages_(reserved, Bytes(kPageSize, 0)) {}
  uint32_t Allocate() {
    pages_.emplace_back(kPageSize, 0);
    return uint32_t(pages_.size() - 1);
  }
  Bytes& operator[](uint32_t n) { return pages_[n]; }
  size_t size() const { return pages_.size(); }
  const std::vector<Bytes>& all() const { return pages_; }

 private:
  std::vector<Bytes> pages_;
};

// Whether `row` has an entry in `index`: not when every column is Null in
// an index that ignores Nulls (a Boolean is never Null).
bool HasEntry(const TableDef& def, const PhysicalIndex& index, const Row& row) {
  if ((index.flags & kIndexFlagIgnoreNulls) == 0) return true;
  for (const IndexColumn& ic : index.columns) {
    for (size_t c = 0; c < def.columns.size(); ++c) {
      if (def.columns[c].number == ic.column_number &&
          (def.columns[c].type == ColumnType::kBoolean || !row[c].is_null())) {
        return true;
      }
    }
  }
  return false;
}

// Index pages go into the page set.
class IndexPages : public PageSink {
 public:
  explicit IndexPages(PageSet* pages) : pages_(pages) {}
  uint32_t AllocatePage() override { return pages_->Allocate(); }
  Status WritePage(uint32_t n, const uint8_t* page) override {
    (*pages_)[n].assign(page, page + kPageSize);
    return Status::OK();
  }

 private:
  PageSet* pages_;
};

// The data pages of one owner (a table, or one memo/OLE column): a page is
// started when the current one has no room, and leaves the free-space map
// when a row did not fit in it.
class RowPages {
 public:
  RowPages(PageSet* pages, uint32_t owner_field) : pages_(pages), owner_(owner_field) {}

  Status Add(const Bytes& row, uint32_t* pointer) {
    if (!started_ || !page_.Fits(row.size())) {
      if (started_) {
        Flush();
        free_.erase(current_);
      }
      current_ = pages_->Allocate();
      page_.Reset(owner_);
      started_ = true;
      owned_.insert(current_);
      free_.insert(current_);
    }
    uint8_t n = 0;
    KP_RETURN_IF_ERROR(page_.AddRow(row, &n));
    ++rows_;
    *pointer = (current_ << 8) | n;
    return Status::OK();
  }
  // Writes the current page into the page set (call before reading it).
  void Flush() {
    if (!started_) return;
    (*pages_)[current_] = page_.page();
    if (page_.free_space() == 0) free_.erase(current_);
  }
  const std::set<uint32_t>& owned() const { return owned_; }
  const std::set<uint32_t>& free() const { return free_; }
  uint32_t rows() const { return rows_; }

 private:
  PageSet* pages_;
  uint32_t owner_;
  DataPageBuilder page_;
  bool started_ = false;
  uint32_t current_ = 0;
  uint32_t rows_ = 0;
  std::set<uint32_t> owned_;
  std::set<uint32_t> free_;
};

// Long values of one table (or of the catalog), one RowPages per column.
class ColumnSink : public LongValueSink {
 public:
  explicit ColumnSink(PageSet* pages) : pages_(pages) {}
  Status AddLongValueRow(const ColumnDef& column, const Bytes& row, uint32_t* pointer) override {
    if (row.size() > kMaxLongValueRowBytes) {
      return Status::InvalidArgument("LVAL row of " + std::to_string(row.size()) + " bytes");
    }
    auto it = columns_.find(column.number);
    if (it == columns_.end()) {
      it = columns_.emplace(column.number, RowPages(pages_, kDataPageLvalOwner)).first;
    }
    return it->second.Add(row, pointer);
  }
  void Flush() {
    for (auto& [number, rp] : columns_) rp.Flush();
  }
  const RowPages* column(uint16_t number) const {
    auto it = columns_.find(number);
    return it == columns_.end() ? nullptr : &it->second;
  }

 private:
  PageSet* pages_;
  std::map<uint16_t, RowPages> columns_;
};

void AppendLongKey(int32_t value, Bytes* key) {
  key->push_back(kIndexEntryPresent);
  AppendIntegerKeyBytes(value, 4, /*ascending=*/true, key);
}

struct IndexEntry {
  Bytes key;
  uint32_t pointer;
  bool operator<(const IndexEntry& o) const {
    return key != o.key ? key < o.key : pointer < o.pointer;
  }
};


class Builder {
 public:
  explicit Builder(const DatabaseSpec& layout)
      : spec_(layout),
        ids_(layout.security ? *layout.security : ReferenceSecurityIds()),
        catalog_date_(layout.catalog_date ? *layout.catalog_date : ReferenceCatalogDate()),
        table_date_(layout.table_date ? *layout.table_date : catalog_date_),
        pages_(kFirstFreePage) {}

  Status Build(Bytes* file) {
    if (!spec_.header_page.empty() && spec_.header_page.size() != kPageSize) {
      return Status::InvalidArgument("header page must be 4096 bytes");
    }
    pages_[0] = spec_.header_page.empty() ? ReferenceHeaderPage() : spec_.header_page;
    HeaderInfo header;
    KP_RETURN_IF_ERROR(DecodeHeader(pages_[0].data(), &header).WithContext("header page"));
    KP_RETURN_IF_ERROR(CheckHeaderSupported(header).WithContext("header page"));
    objects_ = EngineObjects(ids_, catalog_date_);
    aces_ = EngineAces(ids_);
    std::set<std::u16string> names;
    for (const auto& o : objects_) names.insert(Fold(o.name));
    for (const TableSpec& t : spec_.tables) {
      if (t.def.name.empty() || t.def.name.size() > 64 || !names.insert(Fold(t.def.name)).second) {
        return Status::InvalidArgument("table name \"" + Utf16ToUtf8(t.def.name) +
                                       "\" is empty, longer than 64 characters or used twice");
      }
      KP_RETURN_IF_ERROR(AddTable(t).WithContext("table " + Utf16ToUtf8(t.def.name)));
    }
    KP_RETURN_IF_ERROR(WriteCatalog());
    KP_RETURN_IF_ERROR(WriteGlobalMap());
    file->clear();
    file->reserve(pages_.size() * kPageSize);
    for (const Bytes& p : pages_.all()) file->insert(file->end(), p.begin(), p.end());
    return Status::OK();
  }

 private:
  // Table names are unique regardless of ASCII case (the catalog index is).
  static std::u16string Fold(std::u16string s) {
    for (char16_t& c : s) {
      if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
    }
    return s;
  }

  Status AddTable(const TableSpec& t) {
    TableDef def = t.def;
    def.table_type = 0x4E;
    def.long_value_maps.clear();
    for (const LogicalIndex& li : def.logical_indexes) {
      if (li.physical_index >= def.physical_indexes.size() || li.kind == kIndexKindForeignKey) {
        return Status::InvalidArgument("index " + Utf16ToUtf8(li.name) + " has no physical index or is a foreign key");
      }
    }
    for (const auto& c : def.columns) {
      if (c.is_long_value()) def.long_value_maps.push_back({c.number, 0, 0});
    }
    // TDEF page(s) first: the size does not depend on the pointers.
    Bytes logical;
    KP_RETURN_IF_ERROR(EncodeTableDef(def, {}, &logical));
    std::vector<uint32_t> tdef_pages;
    for (size_t i = TableDefPageCount(logical.size()); i > 0; --i) tdef_pages.push_back(pages_.Allocate());
    def.tdef_page = tdef_pages[0];
    if (def.tdef_page > 0xFFFFFF) return Status::InvalidArgument("database too large");
    // Then its usage-map page.
    const uint32_t map_page = pages_.Allocate();
    uint32_t next_map_row = 0;
    auto map_pointer = [&] { return (map_page << 8) | next_map_row++; };
    def.owned_map = map_pointer();
    def.free_map = map_pointer();
    for (auto& m : def.long_value_maps) {
      m.owned_map = map_pointer();
      m.free_map = map_pointer();
    }
    for (auto& pi : def.physical_indexes) pi.usage_map = map_pointer();
    // Rows, and their index entries.
    RowPages data(&pages_, def.tdef_page);
    ColumnSink sink(&pages_);
    Bytes row;
    std::vector<std::vector<Bytes>> entries(def.physical_indexes.size());
    for (size_t i = 0; i < t.rows.size(); ++i) {
      Status s = EncodeRow(def, t.rows[i], &sink, &row);
      uint32_t pointer = 0;
      if (s.ok()) s = data.Add(row, &pointer);
      for (size_t x = 0; s.ok() && x < def.physical_indexes.size(); ++x) {
        if (!HasEntry(def, def.physical_indexes[x], t.rows[i])) continue;
        entries[x].emplace_back();
        s = BuildIndexEntry(def, def.physical_indexes[x], t.rows[i], pointer >> 8, uint8_t(pointer & 0xFF),
                            &entries[x].back());
      }
      if (!s.ok()) return s.WithContext("row " + std::to_string(i + 1));
    }
    data.Flush();
    sink.Flush();
    def.row_count = data.rows();
    // Index trees, built from their sorted entries.
    std::vector<std::set<uint32_t>> index_pages(def.physical_indexes.size());
    for (size_t x = 0; x < def.physical_indexes.size(); ++x) {
      PhysicalIndex& pi = def.physical_indexes[x];
      std::sort(entries[x].begin(), entries[x].end());
      pi.unique_count = 0;
      IndexPages sink_pages(&pages_);
      IndexTreeBuilder tree(def.tdef_page, &sink_pages);
      for (size_t k = 0; k < entries[x].size(); ++k) {
        const Bytes& e = entries[x][k];
        const bool same = k > 0 && e.size() == entries[x][k - 1].size() &&
                          std::equal(e.begin(), e.end() - kIndexRowPointerBytes, entries[x][k - 1].begin());
        if (same && (pi.flags & kIndexFlagUnique) != 0) {
          return Status::InvalidArgument("two rows with the same key in the unique index " + std::to_string(x));
        }
        if (!same) ++pi.unique_count;
        KP_RETURN_IF_ERROR(tree.Add(e));
      }
      KP_RETURN_IF_ERROR(tree.Finish(&pi.root_page));
      index_pages[x] = tree.pages();
    }
    // Usage maps.
    DataPageBuilder maps(0);
    KP_RETURN_IF_ERROR(AddMapRow(&maps, data.owned()));
    KP_RETURN_IF_ERROR(AddMapRow(&maps, data.free()));
    for (const auto& m : def.long_value_maps) {
      const RowPages* lv = sink.column(m.column_number);
      KP_RETURN_IF_ERROR(AddMapRow(&maps, lv ? lv->owned() : std::set<uint32_t>()));
      KP_RETURN_IF_ERROR(AddMapRow(&maps, lv ? lv->free() : std::set<uint32_t>()));
    }
    for (const auto& pages : index_pages) KP_RETURN_IF_ERROR(AddMapRow(&maps, pages));
    pages_[map_page] = maps.page();
    // The definition itself.
    KP_RETURN_IF_ERROR(EncodeTableDef(def, {}, &logical));
    std::vector<Bytes> tdef;
    KP_RETURN_IF_ERROR(SplitTableDef(logical, tdef_pages, &tdef));
    for (size_t i = 0; i < tdef.size(); ++i) pages_[tdef_pages[i]] = tdef[i];
    // Catalog and security rows.
    CatalogObject o;
    o.id = int32_t(def.tdef_page);
    o.parent_id = kTablesContainerId;
    o.name = def.name;
    o.type = 1;
    o.date_create = table_date_;
    o.date_update = table_date_;
    o.owner = ids_.admin;
    o.flags = 0;
    if (!def.properties.table.empty() || !def.properties.columns.empty()) {
      std::vector<std::u16string> order;
      for (const auto& c : def.columns) order.push_back(c.name);
      KP_RETURN_IF_ERROR(SerializePropertySet(def.properties, &o.lv_prop, &order));
    }
    objects_.push_back(std::move(o));
    for (AceRow& a : NewTableAces(ids_, int32_t(def.tdef_page))) aces_.push_back(std::move(a));
    return Status::OK();
  }

  // Adds a usage-map row listing `pages`: inline when they fit one 512-page
  // window, otherwise a reference map whose bitmap pages go at the end of
  // the file.
  Status AddMapRow(DataPageBuilder* page, const std::set<uint32_t>& pages) {
    Bytes row;
    if (UsageMap(pages).FitsInline()) {
      KP_RETURN_IF_ERROR(EncodeInlineUsageMap(pages, kUsageMapInlineBitmapBytes, &row));
    } else {
      const size_t slots = *pages.rbegin() / kUsageBitmapPageSpan + 1;
      if (slots > kUsageMapReferenceSlotCount) return Status::NotSupported("usage map beyond 17 bitmap pages");
      std::vector<uint32_t> bitmap_pages;
      for (size_t k = 0; k < slots; ++k) {
        bitmap_pages.push_back(pages_.Allocate());
        EncodeUsageBitmapPage(pages, uint32_t(k), &pages_[bitmap_pages.back()]);
      }
      KP_RETURN_IF_ERROR(EncodeReferenceUsageMapRow(bitmap_pages, &row));
    }
    uint8_t n = 0;
    return page->AddRow(row, &n);
  }

  Status WriteCatalog() {
    // MSysObjects rows on page 14; long property blobs on an LVAL page after
    // the tables.
    TableDef objects_def = MSysObjectsDef();
    TableDef aces_def = MSysAcesDef();
    ColumnSink catalog_lv(&pages_);
    DataPageBuilder objects_page(kCatalogTdefPage);
    std::vector<IndexEntry> by_parent_name, by_id, by_object;
    Bytes row;
    for (const CatalogObject& o : objects_) {
      KP_RETURN_IF_ERROR(EncodeRow(objects_def, CatalogObjectRow(o), &catalog_lv, &row));
      uint8_t n = 0;
      if (!objects_page.Fits(row.size())) {
        return Status::NotSupported("too many tables: the catalog does not fit its page");
      }
      KP_RETURN_IF_ERROR(objects_page.AddRow(row, &n));
      const uint32_t pointer = (kCatalogDataPage << 8) | n;
      Bytes key;
      AppendLongKey(o.parent_id, &key);
      key.push_back(kIndexEntryPresent);
      AppendGeneralLegacyTextKeyBytes(o.name, /*ascending=*/true, &key);
      by_parent_name.push_back({key, pointer});
      key.clear();
      AppendLongKey(o.id, &key);
      by_id.push_back({key, pointer});
    }
    catalog_lv.Flush();
    pages_[kCatalogDataPage] = objects_page.page();

    DataPageBuilder aces_page(kMSysAcesPage);
    std::set<int32_t> ace_objects;
    for (const AceRow& a : aces_) {
      KP_RETURN_IF_ERROR(EncodeRow(aces_def, AceRowValues(a), nullptr, &row));
      uint8_t n = 0;
      if (!aces_page.Fits(row.size())) {
        return Status::NotSupported("too many tables: the security rows do not fit their page");
      }
      KP_RETURN_IF_ERROR(aces_page.AddRow(row, &n));
      Bytes key;
      AppendLongKey(a.object_id, &key);
      by_object.push_back({key, (kAcesDataPage << 8) | n});
      ace_objects.insert(a.object_id);
    }
    pages_[kAcesDataPage] = aces_page.page();

    // Index leaves.
    KP_RETURN_IF_ERROR(WriteLeaf(kParentIdNameLeafPage, kCatalogTdefPage, &by_parent_name));
    KP_RETURN_IF_ERROR(WriteLeaf(kObjectIdLeafPage, kCatalogTdefPage, &by_id));
    KP_RETURN_IF_ERROR(WriteLeaf(kAcesLeafPage, kMSysAcesPage, &by_object));
    std::vector<IndexEntry> none;
    KP_RETURN_IF_ERROR(WriteLeaf(10, kMSysQueriesPage, &none));
    for (uint32_t p = 11; p <= 13; ++p) KP_RETURN_IF_ERROR(WriteLeaf(p, kMSysRelationshipsPage, &none));

    // Definitions with their counts.
    objects_def.row_count = uint32_t(objects_.size());
    objects_def.physical_indexes[0].unique_count = uint32_t(objects_.size());
    objects_def.physical_indexes[1].unique_count = uint32_t(objects_.size());
    aces_def.row_count = uint32_t(aces_.size());
    aces_def.physical_indexes[0].unique_count = uint32_t(ace_objects.size());
    for (const TableDef* d : {&objects_def, &aces_def}) KP_RETURN_IF_ERROR(WriteSystemTdef(*d));
    KP_RETURN_IF_ERROR(WriteSystemTdef(MSysQueriesDef()));
    KP_RETURN_IF_ERROR(WriteSystemTdef(MSysRelationshipsDef()));

    // The catalog's usage maps, rows 0x600-0x61E of page 6.
    std::map<uint32_t, std::set<uint32_t>> maps = {
        {kObjectsOwnedMap, {kCatalogDataPage}},
        {kParentIdNameMap, {kParentIdNameLeafPage}},
        {kObjectIdMap, {kObjectIdLeafPage}},
        {kAcesOwnedMap, {kAcesDataPage}},
        {kAcesIndexMap, {kAcesLeafPage}},
        {0x619, {10}},
        {0x61C, {11}},
        {0x61D, {12}},
        {0x61E, {13}},
    };
    if (objects_page.free_space() > 0) maps[kObjectsFreeMap] = {kCatalogDataPage};
    if (aces_page.free_space() > 0) maps[kAcesFreeMap] = {kAcesDataPage};
    if (const RowPages* lv = catalog_lv.column(objects_def.FindColumn(u"LvProp")->number)) {
      maps[kObjectsLvPropOwnedMap] = lv->owned();
      maps[kObjectsLvPropFreeMap] = lv->free();
    }
    DataPageBuilder map_page(0);
    for (int r = 0; r < kCatalogMapRows; ++r) {
      KP_RETURN_IF_ERROR(AddMapRow(&map_page, maps[(kCatalogMapPage << 8) | uint32_t(r)]));
    }
    pages_[kCatalogMapPage] = map_page.page();
    return Status::OK();
  }

  Status WriteLeaf(uint32_t page, uint32_t tdef_page, std::vector<IndexEntry>* entries) {
    std::sort(entries->begin(), entries->end());
    std::vector<Bytes> encoded;
    size_t encoded_bytes = 0;
    for (const IndexEntry& e : *entries) {
      Bytes b = e.key;
      b.push_back(uint8_t(e.pointer >> 24));  // data page, big-endian
      b.push_back(uint8_t(e.pointer >> 16));
      b.push_back(uint8_t(e.pointer >> 8));
      b.push_back(uint8_t(e.pointer));        // row
      encoded_bytes += b.size();
      encoded.push_back(std::move(b));
    }
    if (!LeafFits(encoded_bytes)) return Status::NotSupported("too many tables: a catalog index needs a second page");
    return BuildLeafPage(tdef_page, encoded, &pages_[page]);
  }

  Status WriteSystemTdef(const TableDef& def) {
    Bytes logical;
    KP_RETURN_IF_ERROR(EncodeTableDef(def, {.alphabetical = true}, &logical));
    std::vector<Bytes> out;
    KP_RETURN_IF_ERROR(SplitTableDef(logical, {def.tdef_page}, &out));
    pages_[def.tdef_page] = out[0];
    return Status::OK();
  }

  // Page 1: row 0 the global map (a set bit = a free page), row 1 69 zeros.
  Status WriteGlobalMap() {
    DataPageBuilder page(1);
    Bytes row;
    const size_t bytes = GlobalMapBitmapBytes(uint32_t(pages_.size()));
    if (bytes > kGlobalMapMaxInlineBitmapBytes) return Status::NotSupported("file too large for its global map");
    KP_RETURN_IF_ERROR(EncodeGlobalMap(uint32_t(pages_.size()), bytes, &row));
    uint8_t n = 0;
    KP_RETURN_IF_ERROR(page.AddRow(row, &n));
    KP_RETURN_IF_ERROR(page.AddRow(Bytes(kUsageMapInlineRowBytes, 0), &n));
    pages_[kGlobalMapPageNumber] = page.page();
    return Status::OK();
  }

  const DatabaseSpec& spec_;
  SecurityIds ids_;
  double catalog_date_;
  double table_date_;
  PageSet pages_;
  std::vector<CatalogObject> objects_;
  std::vector<AceRow> aces_;
};

}  // namespace

Status BuildDatabase(const DatabaseSpec& layout, Bytes* file) { return Builder(layout).Build(file); }

Status WriteDatabase(const DatabaseSpec& layout, const std::string& path) {
  Bytes file;
  KP_RETURN_IF_ERROR(BuildDatabase(layout, &file));
  const Path target = PathFromUtf8(path);
  Path temp;
  KP_RETURN_IF_ERROR(TempPathBeside(target, &temp));
  KP_RETURN_IF_ERROR(WriteNewFile(temp, file.data(), file.size()));
  Status s = ReplaceDurably(temp, target);
  if (!s.ok()) RemoveQuietly(temp);
  return s;
}

}  // namespace kp::jet
