#include "jet/compact.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "base/durable_file.h"
#include "base/file_io.h"
#include "base/path.h"
#include "jet/collation.h"
#include "jet/data_page.h"
#include "jet/format.h"
#include "jet/index_build.h"
#include "jet/index_leaf.h"
#include "jet/reader.h"
#include "jet/row_read.h"
#include "jet/tdef_read.h"
#include "jet/tdef_write.h"
#include "jet/usage_map.h"
#include "jet/values.h"

namespace kp::jet {

namespace {

// Ids below this are TDEF pages (tables); other objects have high bits set.
constexpr uint32_t kPageIdLimit = 0x01000000;
// Source bytes copied between two DropResident() calls.
constexpr uint64_t kResidentBytes = 4 << 20;
constexpr size_t kFaultAroundBytes = 16 * kPageSize;
// Usage-map rows (69 bytes, inline or reference) on one data page.
constexpr size_t kMapRowsPerPage = kDataUsableBytes / (kUsageMapInlineRowBytes + 2);

// The destination file, written page by page at the pages' places. Every
// allocated page must be written before Finish(). The only code of the
// compaction that touches the file system.
class OutputFile : public PageSink {
 public:
  ~OutputFile() override { Abort(); }

  Status Create(const std::string& path) {
    if (Files()->Exists(PathFromUtf8(path))) return Status::InvalidArgument("cannot compact into " + path + ": it already exists");
    KP_RETURN_IF_ERROR(Files()->Open(PathFromUtf8(path), OpenMode::kCreateNew, &file_));
    path_ = path;
    return Status::OK();
  }
  uint32_t AllocatePage() override {
    written_.push_back(false);
    return uint32_t(written_.size() - 1);
  }
  // Pages are gathered and written in runs of consecutive pages.
  Status WritePage(uint32_t n, const uint8_t* page) override {
    if (n >= written_.size()) return Status::InvalidArgument("internal error: page " + std::to_string(n) + " written before allocated");
    if (buffer_.empty()) buffer_.resize(kPendingPages * kPageSize);
    std::memcpy(buffer_.data() + pending_.size() * kPageSize, page, kPageSize);
    pending_.push_back({n, uint32_t(pending_.size())});
    written_[n] = true;
    return pending_.size() == kPendingPages ? WritePending() : Status::OK();
  }
  uint32_t page_count() const { return uint32_t(written_.size()); }
  // Synced once and closed; on a failure the file is removed.
  Status WritePending() {
    std::sort(pending_.begin(), pending_.end());
    for (size_t i = 0; i < pending_.size();) {
      size_t j = i + 1;
      while (j < pending_.size() && pending_[j].first == pending_[j - 1].first + 1) ++j;
      // One write per run of consecutive pages, gathered in page order
      // straight from the buffer.
      run_.clear();
      for (size_t k = i; k < j; ++k) run_.push_back({buffer_.data() + size_t(pending_[k].second) * kPageSize, kPageSize});
      KP_RETURN_IF_ERROR(file_->WritePiecesAt(uint64_t(pending_[i].first) * kPageSize, run_.data(), run_.size()));
      i = j;
    }
    // On to the disk while the next pages are made: the sync at the end
    // waits for little.
    if (!pending_.empty()) {
      file_->StartWriteback(uint64_t(pending_.front().first) * kPageSize,
                            uint64_t(pending_.back().first + 1 - pending_.front().first) * kPageSize);
    }
    pending_.clear();
    return Status::OK();
  }
  Status Finish() {
    KP_RETURN_IF_ERROR(WritePending());
    for (size_t n = 0; n < written_.size(); ++n) {
      if (!written_[n]) return Status::InvalidArgument("internal error: page " + std::to_string(n) + " of the new file was never written");
    }
    Status s = file_->Sync();
    Status closed = file_->Close();
    if (s.ok()) s = closed;
    if (!s.ok()) return s;
    file_.reset();
    return Status::OK();
  }
  // Closes and removes an unfinished file.
  void Abort() {
    if (!file_) return;
    file_.reset();
    RemoveQuietly(PathFromUtf8(path_));
  }

 private:
  static constexpr size_t kPendingPages = 256;  // 1 MiB
  std::unique_ptr<File> file_;
  std::string path_;
  std::vector<bool> written_;
  Bytes buffer_;                                          // pages not yet in the file
  std::vector<File::Piece> run_;                          // one run of them, in page order
  std::vector<std::pair<uint32_t, uint32_t>> pending_;   // their numbers and buffer slots
};

// The data pages of one owner (a table, or one memo/OLE column), filled one
// after the other: a page leaves the free-space map when a row did not fit.
class RowWriter {
 public:
  RowWriter(PageSink* sink, uint32_t owner) : sink_(sink), owner_(owner) {}

  Status Add(const Bytes& row, uint32_t* pointer) {
    if (!started_ || !page_.Fits(row.size())) {
      if (started_) {
        KP_RETURN_IF_ERROR(Finish());
        free_.erase(current_);
      }
      current_ = sink_->AllocatePage();
      page_.Reset(owner_);
      started_ = true;
      owned_.insert(current_);
      free_.insert(current_);
    }
    uint8_t n = 0;
    KP_RETURN_IF_ERROR(page_.AddRow(row, &n));
    *pointer = MakePointer(current_, n);
    return Status::OK();
  }
  // Writes the page being filled.
  Status Finish() {
    if (!started_) return Status::OK();
    if (page_.free_space() == 0) free_.erase(current_);
    return sink_->WritePage(current_, page_.page().data());
  }
  const std::set<uint32_t>& owned() const { return owned_; }
  const std::set<uint32_t>& free() const { return free_; }

 private:
  PageSink* sink_;
  uint32_t owner_;
  DataPageBuilder page_;
  bool started_ = false;
  uint32_t current_ = 0;
  std::set<uint32_t> owned_, free_;
};

// Where the fields the compaction rewrites sit in a logical TDEF buffer.
struct TdefFields {
  std::vector<size_t> unique_counts;   // u32 per physical index
  std::vector<size_t> physical;        // 52-byte block per physical index
  std::vector<size_t> long_value_maps; // 10-byte entry per memo/OLE map pair
  std::vector<size_t> logical;         // 28-byte block per logical index
};

Status LocateTdefFields(const Bytes& t, TdefFields* f) {
  auto fail = [] { return Status::Corruption("table definition sections run past its length"); };
  if (t.size() < kTdefHeaderBytes) return fail();
  const uint16_t columns = GetU16(t.data() + kTdefColumnCountOffset);
  const uint32_t logical = GetU32(t.data() + kTdefLogicalIndexCountOffset);
  const uint32_t physical = GetU32(t.data() + kTdefPhysicalIndexCountOffset);
  if (physical > 1000 || logical > 1000) return fail();
  size_t at = kTdefHeaderBytes;
  for (uint32_t i = 0; i < physical; ++i) f->unique_counts.push_back(at + kTdefIndexCountBlockBytes * i + kTdefIndexCountUniqueOffset);
  at += kTdefIndexCountBlockBytes * physical + kTdefColumnBytes * size_t(columns);
  auto skip_names = [&](size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (at + 2 > t.size()) return false;
      at += 2 + GetU16(t.data() + at);
    }
    return at <= t.size();
  };
  if (!skip_names(columns)) return fail();
  for (uint32_t i = 0; i < physical; ++i) f->physical.push_back(at + kTdefPhysicalIndexBytes * i);
  at += kTdefPhysicalIndexBytes * physical;
  for (uint32_t i = 0; i < logical; ++i) f->logical.push_back(at + kTdefLogicalIndexBytes * i);
  at += kTdefLogicalIndexBytes * logical;
  if (!skip_names(logical)) return fail();
  while (true) {
    if (at + 2 > t.size()) return fail();
    if (GetU16(t.data() + at) == kTdefTerminator) break;
    if (at + kTdefLongValueMapBytes > t.size()) return fail();
    f->long_value_maps.push_back(at);
    at += kTdefLongValueMapBytes;
  }
  return Status::OK();
}

// The span [*start, *end) of variable column `c` in a stored row; false when
// it is null or not in the row.
bool VariableSpan(const TableDef& def, const ColumnDef& c, const uint8_t* data, size_t size, size_t* start,
                  size_t* end) {
  if (size < 2) return false;
  const uint16_t cols = GetU16(data);
  const size_t mask_len = (size_t(cols) + 7) / 8;
  if (c.number >= cols || def.variable_column_count() == 0 || size < mask_len + 6) return false;
  const uint8_t* mask = data + size - mask_len;
  if (!(mask[c.number / 8] & (1u << (c.number % 8)))) return false;
  const uint16_t var_count = GetU16(data + size - mask_len - 2);
  if (c.var_index >= var_count || size_t(var_count) * 2 + mask_len + 6 > size) return false;
  const size_t table = size - mask_len - 4;
  const size_t var_end = GetU16(data + size - mask_len - 2 - 2 * size_t(var_count) - 2);
  *start = GetU16(data + table - 2 * size_t(c.var_index));
  *end = c.var_index + 1 < var_count ? GetU16(data + table - 2 * (size_t(c.var_index) + 1)) : var_end;
  return *start <= *end && *end <= size;
}

// Whether column number `number` holds a value in a stored row (Booleans
// always do).
bool Present(const ColumnDef& c, const uint8_t* data, size_t size) {
  if (c.type == ColumnType::kBoolean) return true;
  const uint16_t cols = GetU16(data);
  const size_t mask_len = (size_t(cols) + 7) / 8;
  if (c.number >= cols || mask_len > size) return false;
  return (data[size - mask_len + c.number / 8] & (1u << (c.number % 8))) != 0;
}

// Index entries, back to back in one buffer, sorted through their places.
class EntryArena {
 public:
  void Add(const Bytes& entry) {
    spans_.push_back({bytes_.size(), entry.size()});
    bytes_.insert(bytes_.end(), entry.begin(), entry.end());
  }
  // Hands the entries to `add` in ascending order (as byte strings).
  template <typename AddEntry>
  Status Sorted(const AddEntry& add) {
    const uint8_t* b = bytes_.data();
    std::sort(spans_.begin(), spans_.end(), [b](const Span& x, const Span& y) {
      const int c = std::memcmp(b + x.start, b + y.start, std::min(x.size, y.size));
      return c != 0 ? c < 0 : x.size < y.size;
    });
    for (const Span& e : spans_) KP_RETURN_IF_ERROR(add(b + e.start, e.size));
    return Status::OK();
  }

 private:
  struct Span {
    size_t start, size;
  };
  Bytes bytes_;
  std::vector<Span> spans_;
};

// One table: where its pieces go in the new file.
struct TablePlan {
  const CatalogEntry* entry = nullptr;
  std::string label;
  TableDef def;
  TdefLayout layout;
  TdefFields fields;
  std::vector<uint32_t> tdef_pages;  // new
  size_t first_map_slot = 0;         // owned, free, one per index, two per memo/OLE map
};

class Compactor {
 public:
  Compactor(const DatabaseReader& reader, OutputFile* out) : reader_(reader), file_(reader.file()), out_(out) {}

  Status Run() {
    out_->AllocatePage();  // 0: header
    out_->AllocatePage();  // 1: global map
    KP_RETURN_IF_ERROR(Plan());
    for (TablePlan& t : tables_) KP_RETURN_IF_ERROR(CopyTable(&t).WithContext(t.label));
    KP_RETURN_IF_ERROR(WriteMapPages());
    KP_RETURN_IF_ERROR(out_->WritePage(0, file_.Page(0)));
    return WriteGlobalMap();
  }

 private:
  Status Plan() {
    for (const CatalogEntry& e : reader_.catalog()) {
      if (e.is_table()) {
        TablePlan t;
        t.entry = &e;
        t.label = "table " + Utf16ToUtf8(e.name);
        tables_.push_back(std::move(t));
      } else if (e.id > 0 && uint32_t(e.id) < kPageIdLimit) {
        return Status::NotSupported("object \"" + Utf16ToUtf8(e.name) + "\" of type " + std::to_string(e.type) +
                                    " has the Id of a table page (" + std::to_string(e.id) + ")");
      }
    }
    std::sort(tables_.begin(), tables_.end(),
              [](const TablePlan& a, const TablePlan& b) { return a.entry->tdef_page() < b.entry->tdef_page(); });
    if (tables_.empty() || tables_[0].entry->tdef_page() != kCatalogTdefPage) {
      return Status::Corruption("the catalog does not list MSysObjects at page 2");
    }
    // Definitions first, in the order of the old Ids.
    for (size_t i = 0; i < tables_.size(); ++i) {
      TablePlan& t = tables_[i];
      if (i > 0 && tables_[i - 1].entry->tdef_page() == t.entry->tdef_page()) {
        return Status::Corruption(t.label + " shares its definition page with " + tables_[i - 1].label);
      }
      KP_RETURN_IF_ERROR(ReadTableDef(file_, t.entry->tdef_page(), &t.def, &t.layout).WithContext(t.label));
      KP_RETURN_IF_ERROR(LocateTdefFields(t.layout.logical, &t.fields).WithContext(t.label));
      if (t.fields.long_value_maps.size() != t.def.long_value_maps.size() ||
          t.fields.physical.size() != t.def.physical_indexes.size()) {
        return Status::Corruption(t.label + ": its definition's sections disagree");
      }
      for (size_t k = TableDefPageCount(t.layout.logical.size()); k > 0; --k) t.tdef_pages.push_back(out_->AllocatePage());
      new_ids_[t.entry->id] = int32_t((uint32_t(t.entry->id) & 0xFF000000u) | t.tdef_pages[0]);
      new_tdef_pages_[t.entry->tdef_page()] = t.tdef_pages[0];
      t.first_map_slot = map_rows_.size();
      map_rows_.resize(map_rows_.size() + 2 + t.def.physical_indexes.size() + 2 * t.def.long_value_maps.size());
    }
    if (tables_[0].tdef_pages[0] != kCatalogTdefPage) return Status::InvalidArgument("internal error: MSysObjects is not at page 2");
    for (size_t k = 0; k < (map_rows_.size() + kMapRowsPerPage - 1) / kMapRowsPerPage; ++k) {
      map_pages_.push_back(out_->AllocatePage());
    }
    return Status::OK();
  }

  uint32_t MapPointer(size_t slot) const {
    return MakePointer(map_pages_[slot / kMapRowsPerPage], uint8_t(slot % kMapRowsPerPage));
  }

  // The map row listing `pages` into its slot: inline when they fit one
  // window, otherwise a reference map with its bitmap pages.
  Status SetMapRow(size_t slot, const std::set<uint32_t>& pages) {
    Bytes& row = map_rows_[slot];
    if (UsageMap(pages).FitsInline()) return EncodeInlineUsageMap(pages, kUsageMapInlineBitmapBytes, &row);
    const size_t slots = *pages.rbegin() / kUsageBitmapPageSpan + 1;
    if (slots > kUsageMapReferenceSlotCount) return Status::NotSupported("usage map beyond 17 bitmap pages");
    std::vector<uint32_t> bitmap_pages;
    Bytes page;
    for (size_t k = 0; k < slots; ++k) {
      bitmap_pages.push_back(out_->AllocatePage());
      EncodeUsageBitmapPage(pages, uint32_t(k), &page);
      KP_RETURN_IF_ERROR(out_->WritePage(bitmap_pages.back(), page.data()));
    }
    return EncodeReferenceUsageMapRow(bitmap_pages, &row);
  }

  Status CopyTable(TablePlan* t) {
    const TableDef& def = t->def;
    const uint32_t tdef_page = t->tdef_pages[0];
    // The column holding table Ids, in the tables that have one.
    int id_column = -1;
    bool drop_orphans = false;
    const bool system = t->entry->is_system();
    for (size_t c = 0; c < def.columns.size(); ++c) {
      const ColumnDef& col = def.columns[c];
      if (col.type != ColumnType::kLong || !col.is_fixed()) continue;
      if ((t->entry->tdef_page() == kCatalogTdefPage && col.name == u"Id") ||
          (system && t->entry->name == u"MSysACEs" && col.name == u"ObjectId")) {
        id_column = int(c);
        drop_orphans = t->entry->tdef_page() != kCatalogTdefPage;
      }
    }
    const size_t index_count = def.physical_indexes.size();
    std::vector<bool> computed(index_count, false);
    for (size_t i = 0; i < index_count && id_column >= 0; ++i) {
      for (const IndexColumn& ic : def.physical_indexes[i].columns) {
        if (ic.column_number == def.columns[size_t(id_column)].number) computed[i] = true;
      }
    }
    std::vector<EntryArena> computed_entries(index_count);
    Bytes entry;
    std::vector<uint64_t> expected(index_count, 0);

    RowWriter data(out_, tdef_page);
    std::map<uint16_t, std::unique_ptr<RowWriter>> long_values;
    moved_.clear();
    std::vector<uint32_t> pages;
    KP_RETURN_IF_ERROR(reader_.OwnedPages(def, &pages));
    Row decoded;
    for (uint32_t page_number : pages) {
      const uint8_t* page = Visit(page_number);
      if (page == nullptr) return Status::Corruption("its usage map lists page " + std::to_string(page_number) + ", past the end");
      if (page[0] != kPageTypeData || GetU32(page + kDataOwnerOffset) != t->entry->tdef_page()) continue;
      uint16_t count;
      KP_RETURN_IF_ERROR(DataPageRowCount(page, page_number, &count));
      for (uint16_t r = 0; r < count; ++r) {
        const uint8_t* raw;
        size_t size;
        bool live;
        KP_RETURN_IF_ERROR(StoredRow(page, page_number, r, &raw, &size, &live));
        if (!live) continue;
        row_.assign(raw, raw + size);
        Read(size);
        if (id_column >= 0) {
          bool keep = true;
          KP_RETURN_IF_ERROR(RenumberId(def.columns[size_t(id_column)], drop_orphans, &keep));
          if (!keep) continue;
        }
        KP_RETURN_IF_ERROR(CopyLongValues(def, &long_values));
        uint32_t pointer;
        KP_RETURN_IF_ERROR(data.Add(row_, &pointer));
        moved_.push_back({MakePointer(page_number, uint8_t(r)), pointer});
        bool decoded_done = false;
        for (size_t i = 0; i < index_count; ++i) {
          const PhysicalIndex& pi = def.physical_indexes[i];
          if (!HasEntry(def, pi, raw, size)) continue;
          ++expected[i];
          if (!computed[i]) continue;
          if (!decoded_done) {
            KP_RETURN_IF_ERROR(DecodeRow(file_, def, raw, size, &decoded));
            const ColumnDef& idc = def.columns[size_t(id_column)];
            if (Present(idc, raw, size)) decoded[size_t(id_column)] = Value::Int(GetI32(row_.data() + 2 + idc.fixed_offset));
            decoded_done = true;
          }
          KP_RETURN_IF_ERROR(BuildIndexEntry(def, pi, decoded, PointerPage(pointer), PointerRow(pointer), &entry));
          computed_entries[i].Add(entry);
        }
      }
    }
    KP_RETURN_IF_ERROR(data.Finish());
    for (auto& [number, w] : long_values) KP_RETURN_IF_ERROR(w->Finish());
    IndexMoved();

    Bytes& tdef = t->layout.logical;
    PutU32(tdef.data() + kTdefRowCountOffset, uint32_t(moved_.size()));
    size_t slot = t->first_map_slot;
    KP_RETURN_IF_ERROR(SetMapRow(slot, data.owned()));
    PutU32(tdef.data() + kTdefOwnedMapOffset, MapPointer(slot++));
    KP_RETURN_IF_ERROR(SetMapRow(slot, data.free()));
    PutU32(tdef.data() + kTdefFreeMapOffset, MapPointer(slot++));
    for (size_t i = 0; i < index_count; ++i) {
      const std::string what = "index " + std::to_string(i);
      IndexTreeBuilder tree(tdef_page, out_);
      uint32_t unique = 0;
      Bytes previous_key;
      auto add = [&](const uint8_t* e, size_t size) -> Status {
        if (size <= kIndexRowPointerBytes) return tree.Add(e, size);  // refused there
        const size_t key = size - kIndexRowPointerBytes;
        if (unique == 0 || previous_key.size() != key || !std::equal(e, e + key, previous_key.begin())) {
          ++unique;
          previous_key.assign(e, e + key);
        }
        return tree.Add(e, size);
      };
      if (computed[i]) {
        KP_RETURN_IF_ERROR(computed_entries[i].Sorted(add).WithContext(what));
        computed_entries[i] = EntryArena();
      } else {
        std::set<uint32_t> visited;
        KP_RETURN_IF_ERROR(CopyEntries(def.physical_indexes[i].root_page, t->entry->tdef_page(), 0, &visited, add)
                               .WithContext(what));
      }
      if (tree.entry_count() != expected[i]) {
        return Status::Corruption(what + " lists " + std::to_string(tree.entry_count()) + " of the " +
                                  std::to_string(expected[i]) + " rows it should");
      }
      uint32_t root = 0;
      KP_RETURN_IF_ERROR(tree.Finish(&root).WithContext(what));
      KP_RETURN_IF_ERROR(SetMapRow(slot, tree.pages()));
      PutU32(tdef.data() + t->fields.unique_counts[i], unique);
      PutU32(tdef.data() + t->fields.physical[i] + kPhysicalIndexUsageMapOffset, MapPointer(slot++));
      PutU32(tdef.data() + t->fields.physical[i] + kPhysicalIndexRootOffset, root);
    }
    for (size_t m = 0; m < def.long_value_maps.size(); ++m) {
      auto it = long_values.find(def.long_value_maps[m].column_number);
      static const std::set<uint32_t> kNone;
      KP_RETURN_IF_ERROR(SetMapRow(slot, it == long_values.end() ? kNone : it->second->owned()));
      PutU32(tdef.data() + t->fields.long_value_maps[m] + 2, MapPointer(slot++));
      KP_RETURN_IF_ERROR(SetMapRow(slot, it == long_values.end() ? kNone : it->second->free()));
      PutU32(tdef.data() + t->fields.long_value_maps[m] + 6, MapPointer(slot++));
    }
    // A relationship (a foreign key, either side) names the other table by
    // its TDEF page.
    for (size_t at : t->fields.logical) {
      if (tdef[at + kLogicalIndexKindOffset] != kIndexKindForeignKey ||
          GetU32(tdef.data() + at + kLogicalIndexOtherIndexOffset) == kNoOtherIndex) {
        continue;
      }
      const uint32_t other = GetU32(tdef.data() + at + kLogicalIndexOtherTableOffset);
      auto it = new_tdef_pages_.find(other);
      if (it == new_tdef_pages_.end()) {
        return Status::Corruption("a relationship names TDEF page " + std::to_string(other) + ", not a table's");
      }
      PutU32(tdef.data() + at + kLogicalIndexOtherTableOffset, it->second);
    }
    std::vector<Bytes> images;
    KP_RETURN_IF_ERROR(SplitTableDef(tdef, t->tdef_pages, &images));
    for (size_t k = 0; k < images.size(); ++k) KP_RETURN_IF_ERROR(out_->WritePage(t->tdef_pages[k], images[k].data()));
    tdef = Bytes();
    return Status::OK();
  }

  // Counts bytes read from the source; lets the pages read so far go now
  // and then, so that the source's memory stays bounded.
  void Read(size_t bytes) {
    bytes_read_ += bytes + 64;
    if (bytes_read_ >= kResidentBytes) {
      file_.DropResident();
      bytes_read_ = 0;
    }
  }

  // Source page `n` (nullptr past the end), counted as read: a page away
  // from the last one maps its neighbours too (the kernel maps pages around
  // a fault).
  const uint8_t* Visit(uint32_t n) {
    Read(n == last_page_ + 1 ? kPageSize : kFaultAroundBytes);
    last_page_ = n;
    return file_.Page(n);
  }

  // The bytes of the row in slot `r`, following an overflow pointer; not
  // live when the slot is deleted.
  Status StoredRow(const uint8_t* page, uint32_t page_number, uint16_t r, const uint8_t** data, size_t* size,
                   bool* live) {
    RowSlot slot;
    KP_RETURN_IF_ERROR(DataPageRowSlot(page, page_number, r, &slot));
    *live = !slot.deleted;
    if (slot.deleted) return Status::OK();
    *data = page + slot.start;
    *size = slot.end - slot.start;
    for (int hops = 0; slot.overflow; ++hops) {
      if (*size < 4 || hops > 16) {
        return Status::Corruption("page " + std::to_string(page_number) + " row " + std::to_string(r) +
                                  ": bad overflow pointer");
      }
      const uint8_t row = (*data)[0];
      const uint32_t at = GetU24(*data + 1);
      KP_RETURN_IF_ERROR(ReadRowBytes(file_, at, row, data, size, &slot));
    }
    return Status::OK();
  }

  // Puts the new Id of the table into the Id column of row_; `*keep` false
  // for a security row of a table that is gone.
  Status RenumberId(const ColumnDef& c, bool drop_orphans, bool* keep) {
    if (!Present(c, row_.data(), row_.size())) return Status::OK();
    if (2 + size_t(c.fixed_offset) + 4 > row_.size()) return Status::Corruption("row too short for its Id");
    uint8_t* p = row_.data() + 2 + c.fixed_offset;
    const int32_t id = GetI32(p);
    auto it = new_ids_.find(id);
    if (it != new_ids_.end()) {
      PutU32(p, uint32_t(it->second));
    } else if (drop_orphans && id > 0 && uint32_t(id) < kPageIdLimit) {
      *keep = false;
    }
    return Status::OK();
  }

  bool HasEntry(const TableDef& def, const PhysicalIndex& pi, const uint8_t* data, size_t size) const {
    if (!(pi.flags & kIndexFlagIgnoreNulls)) return true;
    for (const IndexColumn& ic : pi.columns) {
      for (const ColumnDef& c : def.columns) {
        if (c.number == ic.column_number && Present(c, data, size)) return true;
      }
    }
    return false;
  }

  // Moves the long values of row_ that live on LVAL pages to the new file.
  Status CopyLongValues(const TableDef& def, std::map<uint16_t, std::unique_ptr<RowWriter>>* writers) {
    for (const ColumnDef& c : def.columns) {
      if (!c.is_long_value() || c.is_fixed()) continue;
      size_t start, end;
      if (!VariableSpan(def, c, row_.data(), row_.size(), &start, &end) || end - start < kLongValueHeaderSize) continue;
      uint8_t* field = row_.data() + start;
      const uint32_t length_flags = GetU32(field);
      const uint32_t flags = length_flags & ~kLongValueLengthMask;
      const uint32_t length = length_flags & kLongValueLengthMask;
      if (flags == kLongValueFlagInline || (flags == 0 && length == 0) || flags == (kLongValueFlagInline | kLongValueFlagSingleRow)) {
        continue;
      }
      auto& writer = (*writers)[c.number];
      if (!writer) writer = std::make_unique<RowWriter>(out_, kLvalOwnerTag);
      uint32_t pointer = 0;
      if (flags == kLongValueFlagSingleRow) {
        KP_RETURN_IF_ERROR(SingleRowValue(GetU32(field + 4), length).WithContext(ColumnLabel(c)));
        Read(value_.size());
        KP_RETURN_IF_ERROR(writer->Add(value_, &pointer));
      } else {
        KP_RETURN_IF_ERROR(ReadLongValue(file_, field, end - start, &value_).WithContext(ColumnLabel(c)));
        Read(value_.size());
        // A chain, written last chunk first so that each knows its successor.
        const size_t chunks = (value_.size() + kLongValueChunkMax - 1) / kLongValueChunkMax;
        for (size_t k = chunks; k-- > 0;) {
          const size_t from = k * kLongValueChunkMax, to = std::min(value_.size(), from + kLongValueChunkMax);
          chunk_.resize(4);
          PutU32(chunk_.data(), pointer);
          chunk_.insert(chunk_.end(), value_.begin() + long(from), value_.begin() + long(to));
          KP_RETURN_IF_ERROR(writer->Add(chunk_, &pointer));
        }
      }
      PutU32(field + 4, pointer);
    }
    return Status::OK();
  }

  // The `length` bytes of the one-row long value at `pointer`, into value_.
  Status SingleRowValue(uint32_t pointer, uint32_t length) {
    const uint8_t* page = file_.Page(PointerPage(pointer));
    if (page == nullptr || page[0] != kPageTypeData || GetU32(page + kDataOwnerOffset) != kLvalOwnerTag) {
      return Status::Corruption("long value at page " + std::to_string(PointerPage(pointer)) + ": not an LVAL page");
    }
    RowSlot slot;
    KP_RETURN_IF_ERROR(DataPageRowSlot(page, PointerPage(pointer), PointerRow(pointer), &slot));
    if (slot.overflow || size_t(slot.end - slot.start) < length) {
      return Status::Corruption("long value at page " + std::to_string(PointerPage(pointer)) + " row " +
                                std::to_string(PointerRow(pointer)) + " is not a whole row of " + std::to_string(length) + " bytes");
    }
    value_.assign(page + slot.start, page + slot.start + length);
    return Status::OK();
  }

  // Walks the source index tree under page `n` in order, handing each leaf
  // entry, with its row pointer translated, to `add`; entries of rows that
  // are gone are left out.
  template <typename Add>
  Status CopyEntries(uint32_t n, uint32_t tdef_page, int depth, std::set<uint32_t>* visited, const Add& add) {
    if (depth > 32 || !visited->insert(n).second) return Status::Corruption("the index tree loops at page " + std::to_string(n));
    if (n == 0 || n >= file_.page_count()) return Status::Corruption("index page " + std::to_string(n) + " past the end");
    // Read apart from the mapping: the pages of a tree lie apart.
    KP_RETURN_IF_ERROR(file_.ReadPage(n, &index_page_));
    IndexPage& ip = index_pages_[size_t(depth)];
    KP_RETURN_IF_ERROR(DecodeIndexPage(index_page_.data(), n, &ip));
    if (ip.tdef_page != tdef_page) return Status::Corruption("index page " + std::to_string(n) + " names another table");
    if (!ip.is_leaf()) {
      for (const Bytes& e : ip.entries) {
        uint32_t child;
        if (!IndexEntryChild(e, &child)) return Status::Corruption("short node entry on page " + std::to_string(n));
        KP_RETURN_IF_ERROR(CopyEntries(child, tdef_page, depth + 1, visited, add));
      }
      if (ip.tail_page != 0) KP_RETURN_IF_ERROR(CopyEntries(ip.tail_page, tdef_page, depth + 1, visited, add));
      return Status::OK();
    }
    for (Bytes& e : ip.entries) {
      uint32_t old_page;
      uint8_t old_row;
      if (!IndexEntryRow(e, false, &old_page, &old_row)) return Status::Corruption("short leaf entry on page " + std::to_string(n));
      uint32_t moved;
      if (!NewPointer(MakePointer(old_page, old_row), &moved)) continue;
      uint8_t* p = e.data() + e.size() - kIndexRowPointerBytes;
      p[0] = uint8_t(moved >> 24);  // data page, big-endian
      p[1] = uint8_t(moved >> 16);
      p[2] = uint8_t(moved >> 8);
      p[3] = uint8_t(moved);        // row
      KP_RETURN_IF_ERROR(add(e.data(), e.size()));
    }
    return Status::OK();
  }

  // Indexes moved_ by old page (into moved_on_page_), once its table's rows
  // are all there.
  void IndexMoved() {
    moved_on_page_.clear();
    if (moved_.empty()) return;
    moved_base_ = PointerPage(moved_.front().first);
    const uint32_t span = PointerPage(moved_.back().first) - moved_base_ + 1;
    moved_on_page_.resize(size_t(span) + 1);
    size_t k = 0;
    for (uint32_t p = 0; p <= span; ++p) {
      while (k < moved_.size() && PointerPage(moved_[k].first) < moved_base_ + p) ++k;
      moved_on_page_[p] = uint32_t(k);
    }
  }

  // Where the row at old pointer `old` went; false when it is gone.
  bool NewPointer(uint32_t old, uint32_t* moved) const {
    const uint32_t page = PointerPage(old);
    if (page < moved_base_ || size_t(page - moved_base_) + 1 >= moved_on_page_.size()) return false;
    const auto first = moved_.begin() + moved_on_page_[page - moved_base_];
    const auto last = moved_.begin() + moved_on_page_[page - moved_base_ + 1];
    const auto it = std::lower_bound(first, last, std::make_pair(old, uint32_t(0)));
    if (it == last || it->first != old) return false;
    *moved = it->second;
    return true;
  }

  Status WriteMapPages() {
    for (size_t k = 0; k < map_pages_.size(); ++k) {
      DataPageBuilder page(0);
      for (size_t s = k * kMapRowsPerPage; s < std::min(map_rows_.size(), (k + 1) * kMapRowsPerPage); ++s) {
        uint8_t n;
        KP_RETURN_IF_ERROR(page.AddRow(map_rows_[s], &n));
      }
      KP_RETURN_IF_ERROR(out_->WritePage(map_pages_[k], page.page().data()));
    }
    return Status::OK();
  }

  // Page 1: row 0 the global map (a set bit = a free page), row 1 69 zeros.
  // Inline while page 1 has room for it, else a reference map whose bitmap
  // pages go at the end of the file.
  Status WriteGlobalMap() {
    const uint32_t pages = out_->page_count();
    const size_t bytes = GlobalMapBitmapBytes(pages);
    Bytes row;
    if (bytes <= kGlobalMapMaxInlineBitmapBytes) {
      KP_RETURN_IF_ERROR(EncodeGlobalMap(pages, bytes, &row));
    } else {
      const uint32_t count = GlobalBitmapPagesNeeded(pages);
      if (count > kUsageMapReferenceSlotCount) {
        return Status::NotSupported("file of " + std::to_string(pages) + " pages: too large for its global map");
      }
      std::vector<uint32_t> bitmap_pages;
      for (uint32_t k = 0; k < count; ++k) bitmap_pages.push_back(out_->AllocatePage());
      Bytes image;
      for (uint32_t k = 0; k < count; ++k) {
        EncodeGlobalBitmapPage(k, out_->page_count(), {}, &image);
        KP_RETURN_IF_ERROR(out_->WritePage(bitmap_pages[k], image.data()));
      }
      KP_RETURN_IF_ERROR(EncodeReferenceUsageMapRow(bitmap_pages, &row));
    }
    DataPageBuilder page(kGlobalMapOwner);
    uint8_t n;
    KP_RETURN_IF_ERROR(page.AddRow(row, &n));
    KP_RETURN_IF_ERROR(page.AddRow(Bytes(kUsageMapInlineRowBytes, 0), &n));
    return out_->WritePage(kGlobalMapPageNumber, page.page().data());
  }

  const DatabaseReader& reader_;
  const PageFile& file_;
  OutputFile* out_;
  std::vector<TablePlan> tables_;
  std::map<int32_t, int32_t> new_ids_;  // old table Id -> new
  std::map<uint32_t, uint32_t> new_tdef_pages_;  // old first TDEF page -> new
  std::vector<Bytes> map_rows_;
  std::vector<uint32_t> map_pages_;
  // Per table: old row pointer -> new, in ascending order of both.
  std::vector<std::pair<uint32_t, uint32_t>> moved_;
  // moved_on_page_[p - moved_base_]: the first of moved_ from old page p
  // on, one past the last page.
  std::vector<uint32_t> moved_on_page_;
  uint32_t moved_base_ = 0;
  Bytes index_page_;  // one source index page
  // The pages on the path of an index walk, one per depth, decoded into
  // again and again.
  std::array<IndexPage, 33> index_pages_;
  Bytes row_, value_, chunk_;
  uint64_t bytes_read_ = 0;
  uint32_t last_page_ = 0;
};

}  // namespace

Status CompactDatabase(const std::string& source, const std::string& destination) {
  std::unique_ptr<DatabaseReader> reader;
  KP_RETURN_IF_ERROR(DatabaseReader::OpenMapped(source, &reader));
  OutputFile out;
  KP_RETURN_IF_ERROR(out.Create(destination));
  KP_RETURN_IF_ERROR(Compactor(*reader, &out).Run().WithContext("compacting " + source));
  return out.Finish();
}

}  // namespace kp::jet
