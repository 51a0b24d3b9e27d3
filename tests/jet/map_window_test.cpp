// Inline usage maps whose window starts at any page (other writers start an
// index's map at its root page): an Access-made file with every inline map's
// window shifted takes enough rows to need pages outside the windows, and
// the checker, both outside readers and compaction agree with it.
#include <gtest/gtest.h>

#include <set>

#include "tests/support/oracle.h"
#include "jet/checker.h"
#include "jet/compact.h"
#include "jet/page_file.h"
#include "jet/reader.h"
#include "jet/usage_map.h"
#include "tests/jet/engine_support.h"

namespace kp::jet {
namespace {

using namespace testing;

// Where a map row lies in the file image, and what it lists.
struct MapRow {
  size_t offset = 0;
  size_t size = 0;
  std::set<uint32_t> pages;
  UsageMapLayout layout;
};

MapRow FindMap(const Bytes& image, const PageFile& file, uint32_t pointer) {
  MapRow m;
  const uint32_t page = PointerPage(pointer);
  const int row = PointerRow(pointer);
  const uint8_t* p = image.data() + size_t(page) * kPageSize;
  const size_t start = GetU16(p + kDataRowOffsetsOffset + 2 * row) & kRowOffsetMask;
  const size_t end = row == 0 ? kPageSize : GetU16(p + kDataRowOffsetsOffset + 2 * (row - 1)) & kRowOffsetMask;
  m.offset = size_t(page) * kPageSize + start;
  m.size = end - start;
  const Status s = DecodeUsageMap(p + start, m.size, &file, &m.pages, &m.layout);
  EXPECT_TRUE(s.ok()) << Hex(pointer) << ": " << s.ToString();
  return m;
}

// Every usage map of every table (system ones too): owned and free-space
// maps, index maps, long-value maps.
std::vector<uint32_t> AllMapPointers(const DatabaseReader& reader) {
  std::vector<uint32_t> out;
  for (const CatalogEntry& t : reader.ListTables(true)) {
    TableDef def;
    EXPECT_TRUE(reader.ReadTableDefAt(t.id, &def).ok());
    out.push_back(def.owned_map);
    out.push_back(def.free_map);
    for (const PhysicalIndex& i : def.physical_indexes) out.push_back(i.usage_map);
    for (const LongValueMaps& l : def.long_value_maps) out.insert(out.end(), {l.owned_map, l.free_map});
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  if (!out.empty() && out.front() == 0) out.erase(out.begin());  // no map
  return out;
}

// Rewrites every inline map of `path` with its window starting at a page
// that is `residue` past a multiple of 8 (at most its first page); with
// `past_end`, empty maps start at the first page past the end of the file
// and the others at their first page. Returns how many maps moved.
int ShiftInlineWindows(const std::string& path, uint32_t residue, bool past_end) {
  std::unique_ptr<DatabaseReader> reader;
  EXPECT_TRUE(DatabaseReader::Open(path, &reader).ok());
  if (!reader) return 0;
  Bytes image = ReadWholeFile(path);
  int moved = 0;
  for (uint32_t pointer : AllMapPointers(*reader)) {
    const MapRow m = FindMap(image, reader->file(), pointer);
    if (m.layout.type != kUsageMapTypeInline) continue;
    uint32_t start;
    if (m.pages.empty()) {
      start = past_end ? reader->file().page_count() : 8 * 3 + residue;
    } else if (past_end) {
      start = *m.pages.begin();
    } else {
      const uint32_t first = *m.pages.begin();
      if (first < residue) continue;
      start = (first - residue) / 8 * 8 + residue;
    }
    if (!m.pages.empty() && *m.pages.rbegin() - start >= m.layout.window_pages) continue;
    uint8_t* row = image.data() + m.offset;
    std::fill(row + 1, row + m.size, 0);
    PutU32(row + 1, start);
    for (uint32_t p : m.pages) row[kUsageMapInlineHeaderBytes + (p - start) / 8] |= uint8_t(1u << ((p - start) % 8));
    ++moved;
  }
  WriteWholeFile(path, image);
  return moved;
}

// Every problem the checker finds in strict mode, as text.
std::set<std::string> StrictProblems(const std::string& path) {
  CheckReport report;
  EXPECT_TRUE(CheckDatabase(path, CheckOptions{true}, &report).ok());
  std::set<std::string> out;
  for (const CheckProblem& p : report.problems) out.insert(p.ToString());
  return out;
}

// The owned-pages map of `table` as it is now.
UsageMapLayout OwnedMapLayout(const std::string& path, const std::u16string& table) {
  std::unique_ptr<DatabaseReader> reader;
  EXPECT_TRUE(DatabaseReader::Open(path, &reader).ok());
  TableDef def;
  EXPECT_TRUE(reader->ReadTableDef(table, &def).ok());
  return FindMap(ReadWholeFile(path), reader->file(), def.owned_map).layout;
}

TEST(MapWindow, ShiftedInlineWindowsTakeRowsPastTheirEnd) {
  KP_SKIP_WITHOUT_REFERENCE();
  KP_SKIP_WITHOUT_ORACLES();
  struct Case {
    uint32_t residue;
    bool past_end;
  };
  const Case cases[] = {{1, false}, {2, false}, {3, false}, {4, false}, {5, false},
                        {6, false}, {7, false}, {0, true}};
  // About 38 rows a page: the table's pages reach past 512 pages after its
  // first ones, so every window of the table's maps has to move or turn into
  // a reference map.
  constexpr int kRows = 24000;
  for (const Case& c : cases) {
    SCOPED_TRACE("window start " + std::to_string(c.residue) + " past a multiple of 8" +
                 (c.past_end ? ", empty maps past the end of the file" : ""));
    const std::string path = ReferenceCopy("indexTestV2000.mdb", "window.mdb");
    TableDef def;
    std::vector<Row> rows = ReadBack(path, u"Table2", &def);
    // What Access itself leaves (stale key counts, bytes of removed rows)
    // stays as it was, and nothing is added to it.
    const std::set<std::string> access_made = StrictProblems(path);
    EXPECT_GT(ShiftInlineWindows(path, c.residue, c.past_end), 10);
    const UsageMapLayout before = OwnedMapLayout(path, u"Table2");
    EXPECT_EQ(StrictProblems(path), access_made);
    ASSERT_EQ(ReadBack(path, u"Table2"), rows);
    {
      Opened o = Open(path, u"Table2");
      ASSERT_TRUE(o.rs);
      for (int i = 0; i < kRows; ++i) {
        const Row row = {Value::Int(100000 + i), Value::Str(Japanese(40 + i % 11))};
        const Status s = AddRow(o.rs.get(), {{def.columns[0].name, row[0]}, {def.columns[1].name, row[1]}});
        ASSERT_TRUE(s.ok()) << "row " << i << ": " << s.ToString();
        rows.push_back(row);
      }
      ASSERT_TRUE(o.db->Close().ok());
    }
    const UsageMapLayout after = OwnedMapLayout(path, u"Table2");
    EXPECT_TRUE(after.type != before.type || after.start_page != before.start_page)
        << int(before.type) << " " << before.start_page << " -> " << int(after.type) << " " << after.start_page;
    EXPECT_EQ(StrictProblems(path), access_made);
    ExpectRowsThreeWays(path, u"Table2", rows);
    const std::string compacted = TempPath("window_compacted.mdb");
    ASSERT_TRUE(CompactDatabase(path, compacted).ok());
    ExpectCheckerClean(compacted, true);
    EXPECT_EQ(ReadBack(compacted, u"Table2").size(), rows.size());
  }
}

}  // namespace
}  // namespace kp::jet
