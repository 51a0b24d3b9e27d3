#include "jet/compact.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "base/text_util.h"
#include "jet/collation.h"
#include "jet/compact_internal.h"
#include "jet/row_read.h"
#include "jet/tdef_write.h"

namespace kp::jet {

namespace {

using namespace compaction;

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

// One table on its way: what its rows leave for its definition and indexes.
struct TableCopy {
  TableCopy(PageSink* out, uint32_t tdef_page) : data(out, tdef_page) {}
  int id_column = -1;  // the column holding table Ids, in the tables that have one
  bool drop_orphans = false;
  std::vector<bool> computed;                // per index: keys computed, not copied
  std::vector<EntryArena> computed_entries;  // their entries
  std::vector<uint64_t> expected;            // per index: the entries it must hold
  RowWriter data;
  std::map<uint16_t, std::unique_ptr<RowWriter>> long_values;  // per memo/OLE column number
};

// Plans the new file (definitions, then map rows), then copies table after
// table: rows, long values, index trees, the definition last.
class Compactor {
 public:
  Compactor(const DatabaseReader& reader, OutputFile* out)
      : reader_(reader),
        file_(reader.file()),
        out_(out),
        source_(file_),
        long_values_(&source_, out),
        index_copier_(file_, moves_),
        maps_(out) {}

  Status Run() {
    out_->AllocatePage();  // 0: header
    out_->AllocatePage();  // 1: global map
    KP_RETURN_IF_ERROR(Plan());
    for (TablePlan& t : tables_) KP_RETURN_IF_ERROR(CopyTable(&t).WithContext(t.label));
    KP_RETURN_IF_ERROR(maps_.WritePages());
    KP_RETURN_IF_ERROR(out_->WritePage(0, file_.Page(0)));
    return WriteGlobalMap(out_);
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
        return Status::NotSupported("object \"" + Utf16ToUtf8(e.name) + "\" of type " +
                                    std::to_string(e.type) + " has the Id of a table page (" +
                                    std::to_string(e.id) + ")");
      }
    }
    std::sort(tables_.begin(), tables_.end(), [](const TablePlan& a, const TablePlan& b) {
      return a.entry->tdef_page() < b.entry->tdef_page();
    });
    if (tables_.empty() || tables_[0].entry->tdef_page() != kCatalogTdefPage) {
      return Status::Corruption("the catalog does not list MSysObjects at page 2");
    }
    // Definitions first, in the order of the old Ids.
    for (size_t i = 0; i < tables_.size(); ++i) {
      TablePlan& t = tables_[i];
      if (i > 0 && tables_[i - 1].entry->tdef_page() == t.entry->tdef_page()) {
        return Status::Corruption(t.label + " shares its definition page with " +
                                  tables_[i - 1].label);
      }
      KP_RETURN_IF_ERROR(
          ReadTableDef(file_, t.entry->tdef_page(), &t.def, &t.layout).WithContext(t.label));
      KP_RETURN_IF_ERROR(LocateTdefFields(t.layout.logical, &t.fields).WithContext(t.label));
      if (t.fields.long_value_maps.size() != t.def.long_value_maps.size() ||
          t.fields.physical.size() != t.def.physical_indexes.size()) {
        return Status::Corruption(t.label + ": its definition's sections disagree");
      }
      for (size_t k = TableDefPageCount(t.layout.logical.size()); k > 0; --k) {
        t.tdef_pages.push_back(out_->AllocatePage());
      }
      new_ids_[t.entry->id] = int32_t((uint32_t(t.entry->id) & 0xFF000000u) | t.tdef_pages[0]);
      new_tdef_pages_[t.entry->tdef_page()] = t.tdef_pages[0];
      t.first_map_slot =
          maps_.Reserve(2 + t.def.physical_indexes.size() + 2 * t.def.long_value_maps.size());
    }
    if (tables_[0].tdef_pages[0] != kCatalogTdefPage) {
      return Status::InvalidArgument("internal error: MSysObjects is not at page 2");
    }
    maps_.AllocatePages();
    return Status::OK();
  }

  Status CopyTable(TablePlan* t) {
    const TableDef& def = t->def;
    TableCopy copy(out_, t->tdef_pages[0]);
    const bool system = t->entry->is_system();
    for (size_t c = 0; c < def.columns.size(); ++c) {
      const ColumnDef& col = def.columns[c];
      if (col.type != ColumnType::kLong || !col.is_fixed()) continue;
      if ((t->entry->tdef_page() == kCatalogTdefPage && col.name == u"Id") ||
          (system && t->entry->name == u"MSysACEs" && col.name == u"ObjectId")) {
        copy.id_column = int(c);
        copy.drop_orphans = t->entry->tdef_page() != kCatalogTdefPage;
      }
    }
    const size_t index_count = def.physical_indexes.size();
    copy.computed.assign(index_count, false);
    for (size_t i = 0; i < index_count && copy.id_column >= 0; ++i) {
      for (const IndexColumn& ic : def.physical_indexes[i].columns) {
        if (ic.column_number == def.columns[size_t(copy.id_column)].number) copy.computed[i] = true;
      }
    }
    copy.computed_entries.resize(index_count);
    copy.expected.assign(index_count, 0);
    KP_RETURN_IF_ERROR(CopyRows(*t, &copy));
    return WriteDefinition(t, &copy);
  }

  // Every live row of the table to the new data pages, its long values with
  // it; the computed index entries and the row moves kept.
  Status CopyRows(const TablePlan& t, TableCopy* copy) {
    const TableDef& def = t.def;
    const size_t index_count = def.physical_indexes.size();
    Bytes entry;
    moves_.clear();
    std::vector<uint32_t> pages;
    KP_RETURN_IF_ERROR(reader_.OwnedPages(def, &pages));
    Row decoded;
    for (uint32_t page_number : pages) {
      const uint8_t* page = source_.Visit(page_number);
      if (page == nullptr) {
        return Status::Corruption("its usage map lists page " + std::to_string(page_number) +
                                  ", past the end");
      }
      if (page[0] != kPageTypeData || GetU32(page + kDataOwnerOffset) != t.entry->tdef_page())
        continue;
      uint16_t count;
      KP_RETURN_IF_ERROR(DataPageRowCount(page, page_number, &count));
      for (uint16_t r = 0; r < count; ++r) {
        const uint8_t* raw;
        size_t size;
        bool live;
        KP_RETURN_IF_ERROR(source_.StoredRow(page, page_number, r, &raw, &size, &live));
        if (!live) continue;
        row_.assign(raw, raw + size);
        source_.Read(size);
        if (copy->id_column >= 0) {
          bool keep = true;
          KP_RETURN_IF_ERROR(
              RenumberId(def.columns[size_t(copy->id_column)], copy->drop_orphans, &keep));
          if (!keep) continue;
        }
        KP_RETURN_IF_ERROR(long_values_.Copy(def, &row_, &copy->long_values));
        uint32_t pointer;
        KP_RETURN_IF_ERROR(copy->data.Add(row_, &pointer));
        moves_.Add(MakePointer(page_number, uint8_t(r)), pointer);
        bool decoded_done = false;
        for (size_t i = 0; i < index_count; ++i) {
          const PhysicalIndex& pi = def.physical_indexes[i];
          if (!HasEntry(def, pi, raw, size)) continue;
          ++copy->expected[i];
          if (!copy->computed[i]) continue;
          if (!decoded_done) {
            KP_RETURN_IF_ERROR(DecodeRow(file_, def, raw, size, &decoded));
            const ColumnDef& idc = def.columns[size_t(copy->id_column)];
            if (Present(idc, raw, size)) {
              decoded[size_t(copy->id_column)] =
                  Value::Int(GetI32(row_.data() + 2 + idc.fixed_offset));
            }
            decoded_done = true;
          }
          KP_RETURN_IF_ERROR(
              BuildIndexEntry(def, pi, decoded, PointerPage(pointer), PointerRow(pointer), &entry));
          copy->computed_entries[i].Add(entry);
        }
      }
    }
    KP_RETURN_IF_ERROR(copy->data.Finish());
    for (auto& [number, w] : copy->long_values) KP_RETURN_IF_ERROR(w->Finish());
    moves_.Index();
    return Status::OK();
  }

  // The definition with its new row count, maps, index roots and unique
  // counts and relationships, written once the index trees are.
  Status WriteDefinition(TablePlan* t, TableCopy* copy) {
    const TableDef& def = t->def;
    Bytes& tdef = t->layout.logical;
    PutU32(tdef.data() + kTdefRowCountOffset, uint32_t(moves_.size()));
    size_t slot = t->first_map_slot;
    KP_RETURN_IF_ERROR(maps_.Set(slot, copy->data.owned()));
    PutU32(tdef.data() + kTdefOwnedMapOffset, maps_.Pointer(slot++));
    KP_RETURN_IF_ERROR(maps_.Set(slot, copy->data.free()));
    PutU32(tdef.data() + kTdefFreeMapOffset, maps_.Pointer(slot++));
    for (size_t i = 0; i < def.physical_indexes.size(); ++i) {
      KP_RETURN_IF_ERROR(WriteIndex(t, copy, i, slot++));
    }
    for (size_t m = 0; m < def.long_value_maps.size(); ++m) {
      auto it = copy->long_values.find(def.long_value_maps[m].column_number);
      static const std::set<uint32_t> kNone;
      KP_RETURN_IF_ERROR(
          maps_.Set(slot, it == copy->long_values.end() ? kNone : it->second->owned()));
      PutU32(tdef.data() + t->fields.long_value_maps[m] + 2, maps_.Pointer(slot++));
      KP_RETURN_IF_ERROR(
          maps_.Set(slot, it == copy->long_values.end() ? kNone : it->second->free()));
      PutU32(tdef.data() + t->fields.long_value_maps[m] + 6, maps_.Pointer(slot++));
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
        return Status::Corruption("a relationship names TDEF page " + std::to_string(other) +
                                  ", not a table's");
      }
      PutU32(tdef.data() + at + kLogicalIndexOtherTableOffset, it->second);
    }
    std::vector<Bytes> images;
    KP_RETURN_IF_ERROR(SplitTableDef(tdef, t->tdef_pages, &images));
    for (size_t k = 0; k < images.size(); ++k)
      KP_RETURN_IF_ERROR(out_->WritePage(t->tdef_pages[k], images[k].data()));
    tdef = Bytes();
    return Status::OK();
  }

  // The tree of index `i`, from its computed entries or the source's, and
  // its map row in `slot`; its root, map and unique count into the
  // definition.
  Status WriteIndex(TablePlan* t, TableCopy* copy, size_t i, size_t slot) {
    Bytes& tdef = t->layout.logical;
    const std::string what = "index " + std::to_string(i);
    IndexTreeBuilder tree(t->tdef_pages[0], out_);
    uint32_t unique = 0;
    Bytes previous_key;
    auto add = [&](const uint8_t* e, size_t size) -> Status {
      if (size <= kIndexRowPointerBytes) return tree.Add(e, size);  // refused there
      const size_t key = size - kIndexRowPointerBytes;
      if (unique == 0 || previous_key.size() != key ||
          !std::equal(e, e + key, previous_key.begin())) {
        ++unique;
        previous_key.assign(e, e + key);
      }
      return tree.Add(e, size);
    };
    if (copy->computed[i]) {
      KP_RETURN_IF_ERROR(copy->computed_entries[i].Sorted(add).WithContext(what));
      copy->computed_entries[i] = EntryArena();
    } else {
      std::set<uint32_t> visited;
      KP_RETURN_IF_ERROR(index_copier_
                             .CopyEntries(t->def.physical_indexes[i].root_page,
                                          t->entry->tdef_page(), 0, &visited, add)
                             .WithContext(what));
    }
    if (tree.entry_count() != copy->expected[i]) {
      return Status::Corruption(what + " lists " + std::to_string(tree.entry_count()) + " of the " +
                                std::to_string(copy->expected[i]) + " rows it should");
    }
    uint32_t root = 0;
    KP_RETURN_IF_ERROR(tree.Finish(&root).WithContext(what));
    KP_RETURN_IF_ERROR(maps_.Set(slot, tree.pages()));
    PutU32(tdef.data() + t->fields.unique_counts[i], unique);
    PutU32(tdef.data() + t->fields.physical[i] + kPhysicalIndexUsageMapOffset, maps_.Pointer(slot));
    PutU32(tdef.data() + t->fields.physical[i] + kPhysicalIndexRootOffset, root);
    return Status::OK();
  }

  // Puts the new Id of the table into the Id column of row_; `*keep` false
  // for a security row of a table that is gone.
  Status RenumberId(const ColumnDef& c, bool drop_orphans, bool* keep) {
    if (!Present(c, row_.data(), row_.size())) return Status::OK();
    if (2 + size_t(c.fixed_offset) + 4 > row_.size())
      return Status::Corruption("row too short for its Id");
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

  bool HasEntry(const TableDef& def, const PhysicalIndex& pi, const uint8_t* data,
                size_t size) const {
    if (!(pi.flags & kIndexFlagIgnoreNulls)) return true;
    for (const IndexColumn& ic : pi.columns) {
      for (const ColumnDef& c : def.columns) {
        if (c.number == ic.column_number && Present(c, data, size)) return true;
      }
    }
    return false;
  }

  const DatabaseReader& reader_;
  const PageFile& file_;
  OutputFile* out_;
  SourcePages source_;
  LongValueCopier long_values_;
  RowMoves moves_;
  IndexCopier index_copier_;
  MapRows maps_;
  std::vector<TablePlan> tables_;
  std::map<int32_t, int32_t> new_ids_;           // old table Id -> new
  std::map<uint32_t, uint32_t> new_tdef_pages_;  // old first TDEF page -> new
  Bytes row_;                                    // the row being copied
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
