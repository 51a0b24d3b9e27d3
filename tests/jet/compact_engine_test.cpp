// Compaction: the same rows and objects in a file no larger (the template
// filled, every Access-made file), a second compaction byte for byte the same,
// an existing destination refused, and a damaged source refused with nothing
// left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "jet/compact.h"
#include "jet/engine.h"
#include "jet/reader.h"
#include "tests/jet/engine_support.h"
#include "tests/support/oracle.h"

namespace kp::jet {
namespace {

using namespace testing;

// Appends `n` comment rows (memo of 20-45 characters) and `n / 10` page rows,
// their keys following those of the `before` comment rows appended earlier.
void Fill(const std::string& path, int n, int before = 0) {
  Opened o = Open(path, u"一覧_コメント");
  ASSERT_TRUE(o.rs);
  for (int j = 0; j < n; ++j) {
    const int i = before + j;
    std::u16string text;
    for (int k = 0; k < 20 + i % 26; ++k) text.push_back(char16_t(0x4E00 + (i * 7 + k) % 500));
    ASSERT_TRUE(AddRow(o.rs.get(), {{u"PageNo", Value::Int(1 + i / 50)}, {u"ID", Value::Int(1 + i % 50)},
                                    {u"Text", Value::Str(text)}}).ok());
  }
  ASSERT_TRUE(o.rs->Close().ok());
  ASSERT_TRUE(o.db->OpenRecordset(u"SELECT * FROM [一覧_ページ]", &o.rs).ok());
  for (int i = before / 10; i < (before + n) / 10; ++i) {
    const std::u16string file = u"page" + std::u16string(1, char16_t(u'0' + i % 10));
    ASSERT_TRUE(AddRow(o.rs.get(), {{u"No", Value::Int(i + 1)}, {u"FileName", Value::Str(file)}}).ok());
  }
  ASSERT_TRUE(o.db->Close().ok());
}

TEST(CompactEngine, SameRowsNoLargerAndStableOnASecondPass) {
  KP_SKIP_WITHOUT_ORACLES();
  const std::string source = KpCopy("compact_src.mdb");
  // Two sessions, so that the source has pages of both in between.
  Fill(source, 6000);
  Fill(source, 3000, 6000);
  const std::string once = TempPath("compact_once.mdb");
  const std::string twice = TempPath("compact_twice.mdb");
  auto engine = CreateJetEngine();
  Status s = engine->CompactDatabase(source, once);
  ASSERT_TRUE(s.ok()) << s.ToString();
  ExpectCheckerClean(once);
  EXPECT_LE(std::filesystem::file_size(once), std::filesystem::file_size(source));
  std::vector<TableDef> defs;
  ASSERT_TRUE(OutputTableDefs(&defs).ok());
  for (const TableDef& d : defs) {
    EXPECT_EQ(ReadBack(once, d.name), ReadBack(source, d.name)) << Utf8(d.name);
  }
  ExpectRowsThreeWays(once, u"一覧_ページ", ReadBack(source, u"一覧_ページ"));
  // The header page is the source's.
  const Bytes a = ReadWholeFile(source), b = ReadWholeFile(once);
  EXPECT_EQ(PageOf(a, 0), PageOf(b, 0));

  ASSERT_TRUE(engine->CompactDatabase(once, twice).ok());
  // A destination that exists is refused and kept as it is.
  s = engine->CompactDatabase(source, twice);
  EXPECT_NE(s.message().find("exists"), std::string::npos) << s.ToString();
  EXPECT_EQ(ReadWholeFile(once), ReadWholeFile(twice));

  // The compacted file takes appended rows like the template does.
  Fill(twice, 100, 9000);
  ExpectCheckerClean(twice);
  EXPECT_EQ(ReadBack(twice, u"一覧_コメント").size(), 9100u);
}

// Rows of a table as both outside readers print them, sorted (a compaction
// may store moved rows in another order).
std::vector<std::string> OutsideRows(const std::string& file, const std::string& table) {
  std::vector<std::string> lines;
  for (bool mdbtools : {true, false}) {
    kp::testing::OracleTable t;
    const Status s = mdbtools ? kp::testing::MdbtoolsRows(file, table, &t) : kp::testing::MdbReaderRows(file, table, &t);
    if (!s.ok()) {  // e.g. mdb-reader on Access's own binary column type
      lines.push_back(mdbtools ? "mdbtools cannot read it" : "mdb-reader cannot read it");
      continue;
    }
    std::vector<std::string> rows;
    for (const auto& r : t.rows) {
      std::string line = mdbtools ? "M" : "R";
      for (const auto& v : r) line += "|" + v.value_or("<NULL>");
      rows.push_back(line);
    }
    std::sort(rows.begin(), rows.end());
    lines.insert(lines.end(), rows.begin(), rows.end());
  }
  // And this project's reader, which keeps every value's stored bytes.
  std::unique_ptr<DatabaseReader> reader;
  TableDef def;
  std::vector<Row> rows;
  EXPECT_TRUE(DatabaseReader::Open(file, &reader).ok());
  if (!reader || !reader->ReadTableDef(kp::Utf8ToUtf16(table), &def).ok() || !reader->ReadRows(def, &rows).ok()) {
    lines.push_back("our reader cannot read it");
    return lines;
  }
  std::vector<std::string> ours;
  for (const Row& r : rows) {
    std::string line = "J";
    for (const Value& v : r) {
      line += "|" + std::to_string(int(v.kind)) + ":" + std::to_string(v.i) + ":" + std::to_string(v.d) + ":" +
              Utf8(v.text) + ":" + std::string(v.binary.begin(), v.binary.end());
    }
    ours.push_back(line);
  }
  std::sort(ours.begin(), ours.end());
  lines.insert(lines.end(), ours.begin(), ours.end());
  return lines;
}

// The catalog as names and attributes (Ids of tables stand for their names),
// and the security rows with object names for Ids.
std::multiset<std::string> CatalogView(const std::string& file) {
  std::unique_ptr<DatabaseReader> reader;
  EXPECT_TRUE(DatabaseReader::Open(file, &reader).ok()) << file;
  std::multiset<std::string> out;
  if (!reader) return out;
  std::map<int32_t, std::string> names;
  for (const CatalogEntry& e : reader->catalog()) names[e.id] = Utf8(e.name);
  auto id_text = [&](int32_t id) { return names.count(id) ? "@" + names[id] : std::to_string(id); };
  for (const CatalogEntry& e : reader->catalog()) {
    std::string line = "O|" + id_text(e.id) + "|" + id_text(e.parent_id) + "|" + std::to_string(e.type) + "|" +
                       std::to_string(e.flags) + "|" + std::to_string(e.date_create) + "|" +
                       std::to_string(e.date_update) + "|" + std::string(e.owner.begin(), e.owner.end()) + "|" +
                       std::string(e.lv_prop.begin(), e.lv_prop.end());
    for (size_t c = 0; c < e.row.size(); ++c) {
      const std::u16string& n = reader->catalog_def().columns[c].name;
      if (n != u"Id" && n != u"ParentId") line += "|" + std::string(e.row[c].binary.begin(), e.row[c].binary.end()) + Utf8(e.row[c].text);
    }
    out.insert(line);
  }
  TableDef aces;
  std::vector<Row> rows;
  EXPECT_TRUE(reader->ReadTableDef(u"MSysACEs", &aces).ok());
  EXPECT_TRUE(reader->ReadRows(aces, &rows).ok());
  for (const Row& r : rows) {
    out.insert("A|" + id_text(int32_t(r[0].i)) + "|" + std::string(r[1].binary.begin(), r[1].binary.end()) + "|" +
               std::to_string(r[2].i) + "|" + std::to_string(r[3].i));
  }
  return out;
}

// Every Access-made file is carried over whole: the same rows for both
// outside readers, the same catalog and security rows, a strict checker
// pass, no growth, and a second compaction byte for byte the same.
TEST(CompactEngine, EveryReferenceFileIsCarriedOverWhole) {
  KP_SKIP_WITHOUT_ORACLES();
  KP_SKIP_WITHOUT_REFERENCE();
  for (const std::string& source : ReferenceFiles()) {
    const std::string name = std::filesystem::path(source).filename().string();
    SCOPED_TRACE(name);
    const std::string once = TempPath("compact_whole_" + name), twice = TempPath("compact_whole2_" + name);
    Status s = CreateJetEngine()->CompactDatabase(source, once);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_LE(std::filesystem::file_size(once), std::filesystem::file_size(source));
    ExpectCheckerClean(once, /*strict=*/true);
    EXPECT_EQ(CatalogView(once), CatalogView(source));
    std::vector<std::string> tables;
    ASSERT_TRUE(kp::testing::MdbtoolsTableNames(source, true, &tables).ok());
    for (const std::string& t : tables) {
      if (t == "MSysObjects" || t == "MSysACEs") continue;  // Ids renumbered: compared above
      EXPECT_EQ(OutsideRows(once, t), OutsideRows(source, t)) << t;
    }
    ASSERT_TRUE(CreateJetEngine()->CompactDatabase(once, twice).ok());
    EXPECT_TRUE(ReadWholeFile(once) == ReadWholeFile(twice));
    std::filesystem::remove(once);
    std::filesystem::remove(twice);
  }
}

TEST(CompactEngine, ADamagedSourceFailsAndLeavesNothing) {
  const std::string source = TempPath("compact_damaged.mdb");
  Bytes image = ReadWholeFile(ReferencePath("indexTestV2000.mdb"));
  if (image.empty()) GTEST_SKIP() << "no reference files at " << KP_REFERENCE_DIR;
  // Drop an index leaf of Table1: its rows then lack their entries.
  for (size_t p = 16; p * 4096 < image.size(); ++p) {
    uint8_t* page = image.data() + p * 4096;
    if (page[0] == 0x04 && GetU32(page + 4) > 16 && GetU16(page + 2) < 3616) {
      std::fill(page + 27, page + 4096, 0);
      PutU16(page + 2, 3616);
      break;
    }
  }
  WriteWholeFile(source, image);
  const std::string dest = TempPath("compact_damaged_out.mdb");
  Status s = CreateJetEngine()->CompactDatabase(source, dest);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("rows it should"), std::string::npos) << s.ToString();
  EXPECT_FALSE(std::filesystem::exists(dest));
}

}  // namespace
}  // namespace kp::jet
