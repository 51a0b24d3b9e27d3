// The pager and in-place usage-map edits: the global map grows with the
// file, table maps move their window and turn into reference maps, and a
// failed write is reported.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "jet/builder.h"
#include "jet/checker.h"
#include "jet/engine.h"
#include "jet/format.h"
#include "jet/map_editor.h"
#include "jet/page_file.h"
#include "jet/pager.h"
#include "jet/tdef_write.h"
#include "jet/usage_map.h"
#include "tests/support/oracle.h"

namespace kp::jet {
namespace {

using kp::testing::RowsByMdbReader;
using kp::testing::RowsByMdbtools;

// A database with one empty table: TDEF page 16, its maps on page 17.
std::string MakeFile(const std::string& name) {
  DatabaseSpec layout;
  TableSpec t;
  t.def.name = u"T";
  ColumnDef c;
  c.name = u"N";
  c.type = ColumnType::kLong;
  t.def.columns.push_back(c);
  EXPECT_TRUE(AssignColumnLayout(&t.def).ok());
  layout.tables.push_back(t);
  const std::string path = ::testing::TempDir() + "/" + std::to_string(::getpid()) + "-" + name;
  std::remove(path.c_str());
  EXPECT_TRUE(WriteDatabase(layout, path).ok());
  return path;
}

// The pages a map row lists, read back from the file.
std::set<uint32_t> MapPages(const PageFile& file, uint32_t pointer, UsageMapLayout* layout = nullptr) {
  const uint8_t* p = file.Page(PointerPage(pointer));
  const int row = PointerRow(pointer);
  const size_t start = GetU16(p + kDataRowOffsetsOffset + 2 * row) & kRowOffsetMask;
  const size_t end = row == 0 ? kPageSize : GetU16(p + kDataRowOffsetsOffset + 2 * (row - 1)) & kRowOffsetMask;
  std::set<uint32_t> pages;
  Status s = DecodeUsageMap(p + start, end - start, &file, &pages, layout);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return pages;
}

// Free space of a data page matches its rows.
void ExpectFreeSpaceConsistent(const uint8_t* p) {
  const int rows = GetU16(p + kDataRowCountOffset);
  size_t lowest = kPageSize;
  for (int i = 0; i < rows; ++i) lowest = std::min<size_t>(lowest, GetU16(p + kDataRowOffsetsOffset + 2 * i) & kRowOffsetMask);
  EXPECT_EQ(GetU16(p + kDataFreeSpaceOffset), lowest - kDataRowOffsetsOffset - 2 * rows);
}

TEST(EnginePager, GlobalMapGrowsWithTheFile) {
  const std::string path = MakeFile("pager_global.mdb");
  std::unique_ptr<Pager> pager;
  ASSERT_TRUE(Pager::Open(path, &pager).ok());
  ASSERT_EQ(pager->page_count(), 18u);
  uint32_t n = 0;
  while (pager->page_count() < 601) ASSERT_TRUE(pager->Allocate(WriteClass::kRows, &n).ok());
  EXPECT_EQ(n, 600u);
  ASSERT_TRUE(pager->Flush().ok());
  EXPECT_EQ(pager->dirty_count(), 0u);
  pager.reset();

  std::unique_ptr<PageFile> file;
  ASSERT_TRUE(PageFile::Open(path, &file).ok());
  ASSERT_EQ(file->page_count(), 601u);
  UsageMapLayout layout;
  const std::set<uint32_t> free_pages = MapPages(*file, MakePointer(kGlobalMapPageNumber, 0), &layout);
  ASSERT_EQ(layout.start_page, 0u);
  EXPECT_GE(layout.window_pages, 601u);
  EXPECT_EQ(free_pages.size(), layout.window_pages - 601);  // exactly the pages past the end
  EXPECT_EQ(*free_pages.begin(), 601u);
  // Row 1 moved down intact and the page's free space follows.
  const uint8_t* p1 = file->Page(kGlobalMapPageNumber);
  ExpectFreeSpaceConsistent(p1);
  EXPECT_EQ(MapPages(*file, MakePointer(kGlobalMapPageNumber, 1)).size(), 0u);
  std::remove(path.c_str());
}

// Past what page 1 can hold inline, the global map becomes a reference map
// (its bitmap pages appended), keeps a free page free, and stays exact as
// the file grows into a second bitmap page; the checker agrees at each step.
TEST(EnginePager, GlobalMapBecomesAReferenceMapAsTheFileGrows) {
  const std::string path = MakeFile("pager_bigmap.mdb");
  std::unique_ptr<Pager> pager;
  ASSERT_TRUE(Pager::Open(path, &pager).ok());
  // Page 18 becomes a free page: its bit is set again in the inline map.
  uint32_t n = 0;
  ASSERT_TRUE(pager->Allocate(WriteClass::kRows, &n).ok());
  uint8_t* p1 = nullptr;
  ASSERT_TRUE(pager->Get(kGlobalMapPageNumber, &p1).ok());
  const size_t row0 = GetU16(p1 + kDataRowOffsetsOffset) & kRowOffsetMask;
  p1[row0 + kUsageMapInlineHeaderBytes + 18 / 8] |= uint8_t(1u << (18 % 8));
  pager->MarkDirty(kGlobalMapPageNumber, WriteClass::kMaps);
  const uint32_t inline_pages = 8 * kGlobalMapMaxInlineBitmapBytes;
  struct Step {
    uint32_t pages;  // allocated up to
    uint8_t type;
    size_t bitmaps;
  };
  for (const Step& step : {Step{inline_pages - 1, kUsageMapTypeInline, 0},
                           Step{inline_pages + 2, kUsageMapTypeReference, 1},
                           Step{kUsageBitmapPageSpan + 10, kUsageMapTypeReference, 2}}) {
    SCOPED_TRACE(step.pages);
    while (pager->page_count() < step.pages) {
      ASSERT_TRUE(pager->Allocate(WriteClass::kRows, &n).ok());
      if (n % 4096 == 0) {
        ASSERT_TRUE(pager->Flush().ok());
        pager->DropClean();
      }
    }
    ASSERT_TRUE(pager->Flush().ok());
    std::unique_ptr<PageFile> file;
    ASSERT_TRUE(PageFile::Open(path, &file).ok());
    UsageMapLayout layout;
    const std::set<uint32_t> free_pages = MapPages(*file, MakePointer(kGlobalMapPageNumber, 0), &layout);
    EXPECT_EQ(layout.type, step.type);
    size_t bitmaps = 0;
    for (uint32_t b : layout.bitmap_pages) {
      if (b == 0) continue;
      ++bitmaps;
      EXPECT_EQ(free_pages.count(b), 0u) << "bitmap page " << b;
      EXPECT_EQ(file->Page(b)[0], kPageTypeUsageBitmap);
    }
    EXPECT_EQ(bitmaps, step.bitmaps);
    // Free: page 18 and the pages past the end; every other page in use.
    ASSERT_GE(free_pages.size(), 2u);
    EXPECT_EQ(*free_pages.begin(), 18u);
    EXPECT_EQ(*std::next(free_pages.begin()), file->page_count());
    ExpectFreeSpaceConsistent(file->Page(kGlobalMapPageNumber));
    EXPECT_EQ(MapPages(*file, MakePointer(kGlobalMapPageNumber, 1)).size(), 0u);  // row 1 intact
    CheckReport report;  // the blank pages are tolerated: nothing refers to them
    ASSERT_TRUE(CheckDatabase(path, {}, &report).ok());
    EXPECT_TRUE(report.ok()) << report.ToString();
  }
  pager.reset();
  std::remove(path.c_str());
}

// Another writer moves the inline global map's window along as its file
// grows (the pages before it out of the map). Grown to `pages` pages (blank
// ones appended) with its window moved to `start`, a file gets a global map
// from page 0 again at its first new page: inline when page 1 has room for
// the row, a reference map past that; the window's free page stays free,
// every page before the window is in use.
TEST(EnginePager, GlobalMapMovedByAnotherWriterStartsAtPageZeroAgain) {
  const uint32_t inline_pages = 8 * kGlobalMapMaxInlineBitmapBytes;
  struct Case {
    uint32_t pages, start, free_page, grow_to;
    uint8_t type;
  };
  for (const Case& c : {Case{40, 17, 20, 700, kUsageMapTypeInline},
                        Case{inline_pages + 100, inline_pages - 200, inline_pages - 100, inline_pages + 101,
                             kUsageMapTypeReference}}) {
    SCOPED_TRACE(c.pages);
    const std::string path = MakeFile("pager_moved_global.mdb");
    std::filesystem::resize_file(path, uint64_t(c.pages) * kPageSize);
    {
      std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
      uint8_t p1[kPageSize];
      f.seekg(kPageSize);
      f.read(reinterpret_cast<char*>(p1), kPageSize);
      uint8_t* row = p1 + (GetU16(p1 + kDataRowOffsetsOffset) & kRowOffsetMask);
      const size_t bits = 8 * size_t(p1 + kPageSize - row - kUsageMapInlineHeaderBytes);
      std::fill(row + 1, p1 + kPageSize, 0);
      PutU32(row + 1, c.start);
      for (size_t i = 0; i < bits; ++i) {
        if (c.start + i >= c.pages || c.start + i == c.free_page) row[5 + i / 8] |= uint8_t(1u << (i % 8));
      }
      f.seekp(kPageSize);
      f.write(reinterpret_cast<const char*>(p1), kPageSize);
    }
    std::unique_ptr<Pager> pager;
    ASSERT_TRUE(Pager::Open(path, &pager).ok());
    uint32_t n = 0;
    while (pager->page_count() < c.grow_to) ASSERT_TRUE(pager->Allocate(WriteClass::kRows, &n).ok());
    ASSERT_TRUE(pager->Flush().ok());
    pager.reset();

    std::unique_ptr<PageFile> file;
    ASSERT_TRUE(PageFile::Open(path, &file).ok());
    UsageMapLayout layout;
    const std::set<uint32_t> free_pages = MapPages(*file, MakePointer(kGlobalMapPageNumber, 0), &layout);
    EXPECT_EQ(layout.type, c.type);
    EXPECT_EQ(layout.start_page, 0u);
    ASSERT_GE(free_pages.size(), 2u);
    EXPECT_EQ(*free_pages.begin(), c.free_page);
    EXPECT_EQ(*std::next(free_pages.begin()), file->page_count());
    ExpectFreeSpaceConsistent(file->Page(kGlobalMapPageNumber));
    CheckReport report;  // the blank pages are tolerated: nothing refers to them
    ASSERT_TRUE(CheckDatabase(path, {}, &report).ok());
    EXPECT_TRUE(report.ok()) << report.ToString();
    std::remove(path.c_str());
  }
}

// A database of more pages than an inline global map holds, compacted: the
// copy has a reference global map, is exact for the checker, and both
// readers still see every row.
TEST(EnginePager, LargeFileCompactsWithAReferenceGlobalMap) {
  DatabaseSpec layout;
  TableSpec t;
  t.def.name = u"Big";
  for (auto [name, type] : {std::pair{u"N", ColumnType::kLong}, std::pair{u"M", ColumnType::kMemo}}) {
    ColumnDef c;
    c.name = name;
    c.type = type;
    t.def.columns.push_back(c);
  }
  ASSERT_TRUE(AssignColumnLayout(&t.def).ok());
  layout.tables.push_back(t);
  const std::string dir = ::testing::TempDir() + "/" + std::to_string(::getpid());
  const std::string source = dir + "-big.mdb", copy = dir + "-big-compact.mdb";
  std::remove(source.c_str());
  std::remove(copy.c_str());
  ASSERT_TRUE(WriteDatabase(layout, source).ok());
  // One long-value page per row: 2,000 characters outside Latin-1 stay 4,000 bytes.
  const uint32_t rows = 8 * kGlobalMapMaxInlineBitmapBytes + 100;
  auto engine = CreateJetEngine();
  {
    std::unique_ptr<Database> db;
    ASSERT_TRUE(engine->OpenDatabase(source, &db).ok());
    std::unique_ptr<Recordset> rs;
    ASSERT_TRUE(db->OpenRecordset(u"SELECT * FROM [Big]", &rs).ok());
    for (uint32_t i = 0; i < rows; ++i) {
      ASSERT_TRUE(rs->AddNew().ok());
      ASSERT_TRUE(rs->SetField(u"N", Value::Int(i)).ok());
      ASSERT_TRUE(rs->SetField(u"M", Value::Str(std::u16string(1999, u'\u3042') + char16_t(u'\u3041' + i % 80))).ok());
      Status s = rs->Update();
      ASSERT_TRUE(s.ok()) << s.ToString();
    }
    ASSERT_TRUE(rs->Close().ok());
    ASSERT_TRUE(db->Close().ok());
  }
  Status s = engine->CompactDatabase(source, copy);
  ASSERT_TRUE(s.ok()) << s.ToString();
  for (const std::string& path : {source, copy}) {
    SCOPED_TRACE(path);
    std::unique_ptr<PageFile> file;
    ASSERT_TRUE(PageFile::Open(path, &file).ok());
    EXPECT_GT(file->page_count(), rows);
    UsageMapLayout map;
    MapPages(*file, MakePointer(kGlobalMapPageNumber, 0), &map);
    EXPECT_EQ(map.type, kUsageMapTypeReference);
    CheckReport report;
    ASSERT_TRUE(CheckDatabase(path, {.strict = path == copy}, &report).ok());
    EXPECT_TRUE(report.ok()) << report.ToString();
  }
  bool ok = false;
  for (auto read : {&RowsByMdbtools, &RowsByMdbReader}) {
    const std::vector<std::string> lines = read(copy, "Big", &ok);
    if (!ok) continue;  // the reader is missing
    ASSERT_EQ(lines.size(), rows);
    EXPECT_EQ(lines.back().substr(0, lines.back().find('|')), std::to_string(rows - 1));
  }
  std::remove(source.c_str());
  std::remove(copy.c_str());
}

TEST(EnginePager, TableMapMovesItsWindowThenBecomesAReferenceMap) {
  const std::string path = MakeFile("pager_map.mdb");
  std::unique_ptr<Pager> pager;
  ASSERT_TRUE(Pager::Open(path, &pager).ok());
  const uint32_t owned = MakePointer(17, 0);
  UsageMapEditor map;
  ASSERT_TRUE(map.Open(pager.get(), owned, "T owned pages").ok());
  uint32_t last = 0;
  bool found = true;
  ASSERT_TRUE(map.LastPage(&last, &found).ok());
  EXPECT_FALSE(found);
  ASSERT_TRUE(map.Add(600).ok());
  ASSERT_TRUE(map.Add(700).ok());
  ASSERT_TRUE(pager->Flush().ok());
  {
    std::unique_ptr<PageFile> file;
    ASSERT_TRUE(PageFile::Open(path, &file).ok());
    UsageMapLayout layout;
    EXPECT_EQ(MapPages(*file, owned, &layout), (std::set<uint32_t>{600, 700}));
    EXPECT_EQ(layout.type, kUsageMapTypeInline);
    EXPECT_EQ(layout.start_page, 600u);
  }
  ASSERT_TRUE(map.Add(20).ok());     // 20..700 is wider than a window
  ASSERT_TRUE(map.Add(40000).ok());  // needs the second bitmap page
  ASSERT_TRUE(map.Remove(600).ok());
  ASSERT_TRUE(map.LastPage(&last, &found).ok());
  EXPECT_TRUE(found);
  EXPECT_EQ(last, 40000u);
  bool listed = false;
  ASSERT_TRUE(map.Contains(700, &listed).ok());
  EXPECT_TRUE(listed);
  ASSERT_TRUE(pager->Flush().ok());
  const uint32_t pages = pager->page_count();
  pager.reset();

  std::unique_ptr<PageFile> file;
  ASSERT_TRUE(PageFile::Open(path, &file).ok());
  EXPECT_EQ(file->page_count(), pages);
  EXPECT_EQ(pages, 20u);  // two bitmap pages appended
  UsageMapLayout layout;
  EXPECT_EQ(MapPages(*file, owned, &layout), (std::set<uint32_t>{20, 700, 40000}));
  EXPECT_EQ(layout.type, kUsageMapTypeReference);
  // The bitmap pages are in use in the global map.
  const std::set<uint32_t> free_pages = MapPages(*file, MakePointer(kGlobalMapPageNumber, 0));
  EXPECT_EQ(free_pages.count(18), 0u);
  EXPECT_EQ(free_pages.count(19), 0u);
  EXPECT_EQ(free_pages.count(20), 1u);
  std::remove(path.c_str());
}

TEST(EnginePager, FailedWritesAreReported) {
  const std::string path = MakeFile("pager_full.mdb");
  std::unique_ptr<Pager> pager;
  ASSERT_TRUE(Pager::Open(path, &pager).ok());
  uint32_t n = 0;
  ASSERT_TRUE(pager->Allocate(WriteClass::kRows, &n).ok());
  // The file may not grow: the new page cannot be written.
  struct rlimit old_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct rlimit limit = old_limit;
  limit.rlim_cur = 18 * kPageSize;
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  Status s = pager->Flush();
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);
  EXPECT_TRUE(s.IsIOError()) << s.ToString();
  EXPECT_NE(s.message().find("page 18"), std::string::npos) << s.message();
  EXPECT_GT(pager->dirty_count(), 0u);
  ASSERT_TRUE(pager->Flush().ok());  // tried again once the file may grow
  std::remove(path.c_str());
}

TEST(EnginePager, RefusesFilesThatAreNotWholePages) {
  const std::string path = ::testing::TempDir() + "/" + std::to_string(::getpid()) + "-pager_odd.mdb";
  { std::ofstream(path, std::ios::binary) << std::string(5000, '\0'); }
  std::unique_ptr<Pager> pager;
  EXPECT_TRUE(Pager::Open(path, &pager).IsCorruption());
  EXPECT_TRUE(Pager::Open(path + ".missing", &pager).IsIOError());
  std::remove(path.c_str());
}

}  // namespace
}  // namespace kp::jet
