// Compaction's parts, one per structure it writes; private to compact.cpp
// and compact_*.cpp. `Compactor` (compact.cpp) plans the new file and
// copies table after table through them:
//
//   part              file                      does
//   OutputFile        compact_output.cpp        the new file, written page by page
//   SourcePages       compact_rows.cpp          the source read as a stream, its
//                                               memory kept bounded; stored rows
//   RowWriter         compact_rows.cpp          the data pages of one owner
//   LongValueCopier   compact_rows.cpp          a row's long values to new LVAL pages
//   TdefFields        compact_tdef.cpp          where the rewritten fields of a
//                                               definition sit
//   RowMoves          compact_indexes.cpp       old row pointer -> new, per table
//   IndexCopier       compact_indexes.cpp       a source index's entries, in order,
//                                               pointing at the moved rows
//   EntryArena        here                      computed index entries, sorted
//   MapRows           compact_maps.cpp          the usage-map rows and their pages;
//                                               the global map
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "jet/bytes.h"
#include "jet/data_page.h"
#include "jet/format.h"
#include "jet/index_build.h"
#include "jet/index_leaf.h"
#include "jet/page_file.h"
#include "jet/reader.h"
#include "jet/schema.h"
#include "jet/tdef_read.h"
#include "jet/usage_map.h"

namespace kp::jet::compaction {

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

  Status Create(const std::string& path);
  uint32_t AllocatePage() override {
    written_.push_back(false);
    return uint32_t(written_.size() - 1);
  }
  // Pages are gathered and written in runs of consecutive pages.
  Status WritePage(uint32_t n, const uint8_t* page) override;
  uint32_t page_count() const { return uint32_t(written_.size()); }
  // Synced once and closed; on a failure the file is removed.
  Status Finish();
  // Closes and removes an unfinished file.
  void Abort();

 private:
  Status WritePending();

  static constexpr size_t kPendingPages = 256;  // 1 MiB
  std::unique_ptr<File> file_;
  std::string path_;
  std::vector<bool> written_;
  Bytes buffer_;                                        // pages not yet in the file
  std::vector<File::Piece> run_;                        // one run of them, in page order
  std::vector<std::pair<uint32_t, uint32_t>> pending_;  // their numbers and buffer slots
};

// The source, read as a stream: counts the bytes read and lets the pages
// read so far go now and then, so that the source's memory stays bounded.
class SourcePages {
 public:
  explicit SourcePages(const PageFile& file) : file_(file) {}
  const PageFile& file() const { return file_; }
  // Counts `bytes` as read.
  void Read(size_t bytes);
  // Source page `n` (nullptr past the end), counted as read: a page away
  // from the last one maps its neighbours too (the kernel maps pages around
  // a fault).
  const uint8_t* Visit(uint32_t n);
  // The bytes of the row in slot `r`, following an overflow pointer; not
  // live when the slot is deleted.
  Status StoredRow(const uint8_t* page, uint32_t page_number, uint16_t r, const uint8_t** data,
                   size_t* size, bool* live) const;

 private:
  const PageFile& file_;
  uint64_t bytes_read_ = 0;
  uint32_t last_page_ = 0;
};

// The data pages of one owner (a table, or one memo/OLE column), filled one
// after the other: a page leaves the free-space map when a row did not fit.
class RowWriter {
 public:
  RowWriter(PageSink* sink, uint32_t owner) : sink_(sink), owner_(owner) {}

  Status Add(const Bytes& row, uint32_t* pointer);
  // Writes the page being filled.
  Status Finish();
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

// The span [*start, *end) of variable column `c` in a stored row; false when
// it is null or not in the row.
bool VariableSpan(const TableDef& def, const ColumnDef& c, const uint8_t* data, size_t size,
                  size_t* start, size_t* end);
// Whether column number `number` holds a value in a stored row (Booleans
// always do).
bool Present(const ColumnDef& c, const uint8_t* data, size_t size);

// Moves the long values of a row that live on LVAL pages to the new file,
// one RowWriter per memo/OLE column.
class LongValueCopier {
 public:
  LongValueCopier(SourcePages* source, PageSink* out) : source_(source), out_(out) {}
  // Rewrites the long-value fields of `row` to point at the new copies.
  Status Copy(const TableDef& def, Bytes* row,
              std::map<uint16_t, std::unique_ptr<RowWriter>>* writers);

 private:
  // The `length` bytes of the one-row long value at `pointer`, into value_.
  Status SingleRowValue(uint32_t pointer, uint32_t length);

  SourcePages* source_;
  PageSink* out_;
  Bytes value_, chunk_;
};

// Where the fields the compaction rewrites sit in a logical TDEF buffer.
struct TdefFields {
  std::vector<size_t> unique_counts;    // u32 per physical index
  std::vector<size_t> physical;         // 52-byte block per physical index
  std::vector<size_t> long_value_maps;  // 10-byte entry per memo/OLE map pair
  std::vector<size_t> logical;          // 28-byte block per logical index
};
Status LocateTdefFields(const Bytes& t, TdefFields* f);

// Per table: where each live row went, old row pointer -> new.
class RowMoves {
 public:
  void clear() { moved_.clear(); }
  size_t size() const { return moved_.size(); }
  // Rows are added in ascending order of both pointers.
  void Add(uint32_t old_pointer, uint32_t new_pointer) {
    moved_.push_back({old_pointer, new_pointer});
  }
  // Indexes the moves by old page, once the table's rows are all there.
  void Index();
  // Where the row at old pointer `old` went; false when it is gone.
  bool NewPointer(uint32_t old, uint32_t* moved) const;

 private:
  std::vector<std::pair<uint32_t, uint32_t>> moved_;
  // moved_on_page_[p - moved_base_]: the first of moved_ from old page p
  // on, one past the last page.
  std::vector<uint32_t> moved_on_page_;
  uint32_t moved_base_ = 0;
};

// A source index's leaf entries, in order, pointing at the moved rows.
class IndexCopier {
 public:
  using AddEntry = std::function<Status(const uint8_t* entry, size_t size)>;
  IndexCopier(const PageFile& file, const RowMoves& moves) : file_(file), moves_(moves) {}
  // Walks the source index tree under page `n` in order, handing each leaf
  // entry, with its row pointer translated, to `add`; entries of rows that
  // are gone are left out.
  Status CopyEntries(uint32_t n, uint32_t tdef_page, int depth, std::set<uint32_t>* visited,
                     const AddEntry& add);

 private:
  const PageFile& file_;
  const RowMoves& moves_;
  Bytes index_page_;  // one source index page
  // The pages on the path of an index walk, one per depth, decoded into
  // again and again.
  std::array<IndexPage, 33> index_pages_;
};

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

// The usage-map rows of the new file, in slots planned before the tables
// are copied, and the data pages that hold them.
class MapRows {
 public:
  explicit MapRows(OutputFile* out) : out_(out) {}
  // `count` more slots; the first one's number.
  size_t Reserve(size_t count);
  // The pages for the rows, once every slot is reserved.
  void AllocatePages();
  uint32_t Pointer(size_t slot) const {
    return MakePointer(pages_[slot / kMapRowsPerPage], uint8_t(slot % kMapRowsPerPage));
  }
  // The map row listing `pages` into its slot: inline when they fit one
  // window, otherwise a reference map with its bitmap pages.
  Status Set(size_t slot, const std::set<uint32_t>& pages);
  Status WritePages();

 private:
  OutputFile* out_;
  std::vector<Bytes> rows_;
  std::vector<uint32_t> pages_;
};

// Page 1: row 0 the global map (a set bit = a free page), row 1 69 zeros.
// Inline while page 1 has room for it, else a reference map whose bitmap
// pages go at the end of the file.
Status WriteGlobalMap(OutputFile* out);

}  // namespace kp::jet::compaction
