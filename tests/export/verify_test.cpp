// Verification of a written database against its document: a good database,
// before and after compaction, verifies with its row count; a changed value,
// an extra row and a missing row are each named by table, row and column.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "export/output_schema.h"
#include "export/row_mapping.h"
#include "export/verify.h"
#include "jet/jet.h"
#include "tests/export/test_docs.h"
#include "tests/support/ctl_writer.h"

namespace kp {
namespace {

namespace fs = std::filesystem;
using jet::Value;
using ::testing::HasSubstr;

const std::string kTemplate = std::string(KP_BUILD_DIR) + "/KP.dbd";

// Four pages with every kind of row: an empty and a named page, Angle codes
// in and out of 1..4 (the latter keeps the column's default), one register
// entry used twice.
ControlDocument Document() {
  ControlDocument doc = testing::PlainDocument(4);
  testing::AddRegisterEntry(&doc, u"埋込.KPE", u"データ");
  doc.Pages[0].Name = u"表紙";
  doc.Pages[0].IsTag = 2;
  doc.Pages[0].Angle = 2;
  doc.Pages[1].Angle = 5;
  doc.Pages[2].Level = 3;
  doc.Pages[2].ImageLen = 123456;
  testing::AddEmbed(&doc.Pages[0], 0);
  testing::AddEmbed(&doc.Pages[3], 0);
  testing::AddComment(&doc.Pages[1], 1, 2, 3, u"一つ目");
  testing::AddComment(&doc.Pages[1], 4, 5, 6, u"");
  testing::AddKeyWord(&doc.Pages[1], 1, 2, 3, 4, u"鍵", u"欄");
  testing::AddKeyWord(&doc.Pages[1], 5, 6, 7, 8, u"", u"field");
  testing::AddKeyWord(&doc.Pages[2], 9, 9, 9, 9, u"k", u"f");
  testing::AddSquare(&doc.Pages[3], 7, -1, -2, 30, 40);
  testing::AddHyperLink(&doc.Pages[0], 1, 1, 2, 2, u"http://example.com/", u"");
  return doc;
}
constexpr int64_t kRows = 4 + 2 + 2 + 3 + 1 + 1;

// Writes `doc` into a copy of `template_path` at `path` through the engine,
// as the export does.
void Write(const ControlDocument& doc, const std::string& path,
           const std::string& template_path = kTemplate) {
  // Removed first: the Windows C++ library refuses to copy over a file.
  fs::remove(path);
  fs::copy_file(template_path, path);
  auto engine = jet::CreateJetEngine();
  std::unique_ptr<jet::Database> db;
  ASSERT_TRUE(engine->OpenDatabase(path, &db).ok());
  for (int t = 0; t < kOutputTableCount; ++t) ASSERT_TRUE(WriteTable(doc, t, *db, {}).ok());
  ASSERT_TRUE(db->Close().ok());
}

void Compact(const std::string& path) {
  const std::string work = path + ".compact";
  ASSERT_TRUE(jet::CreateJetEngine()->CompactDatabase(path, work).ok());
  fs::rename(work, path);
}

// Appends one keyword row with the key (PageNo, ID) through the engine, as
// another writer would.
void AppendKeyWord(const std::string& path, int page_no, int id, const KeyWordRecord& k) {
  auto engine = jet::CreateJetEngine();
  std::unique_ptr<jet::Database> db;
  ASSERT_TRUE(engine->OpenDatabase(path, &db).ok());
  std::unique_ptr<jet::Recordset> rs;
  ASSERT_TRUE(db->OpenRecordset(OutputTableAt(3).query, &rs).ok());
  ASSERT_TRUE(rs->AddNew().ok());
  const std::pair<const char16_t*, Value> fields[] = {
      {column::kPageNo, Value::Int(page_no)}, {column::kID, Value::Int(id)},
      {column::kLeft, Value::Int(k.Left)},    {column::kTop, Value::Int(k.Top)},
      {column::kWidth, Value::Int(k.Width)},  {column::kHeight, Value::Int(k.Height)},
      {column::kKeyWord, Value::Str(k.KeyWord)}, {column::kField, Value::Str(k.Field)}};
  for (const auto& [name, value] : fields) ASSERT_TRUE(rs->SetField(name, value).ok());
  ASSERT_TRUE(rs->Update().ok());
  ASSERT_TRUE(rs->Close().ok());
  ASSERT_TRUE(db->Close().ok());
}

TEST(VerifyTest, NamesTheFirstDifferenceOrCountsTheRows) {
  if (!fs::exists(kTemplate)) GTEST_SKIP() << "KP.dbd not built";
  const fs::path root = testing::MakeTempFolder("kp-verify");
  const std::string db = (root / "out.mdb").string();
  const ControlDocument doc = Document();
  // The same tables without primary keys, so that a key can be there twice.
  const std::string keyless = (root / "keyless.dbd").string();
  jet::DatabaseSpec database;
  std::vector<jet::TableDef> defs;
  ASSERT_TRUE(OutputTableDefs(&defs).ok());
  for (jet::TableDef& def : defs) database.tables.push_back({std::move(def), {}});
  ASSERT_TRUE(jet::WriteDatabase(database, keyless).ok());
  const KeyWordRecord other{0, 0, 0, 0, u"他所の行", u""};

  struct Case {
    const char* name;
    std::function<void()> make;
    const char* difference;  // empty: the database verifies
  };
  const Case cases[] = {
      {"as written", [&] { Write(doc, db); }, ""},
      {"compacted", [&] { Write(doc, db); Compact(db); }, ""},
      {"one value changed",
       [&] {
         ControlDocument changed = doc;
         changed.Pages[1].Comments[1].Text = u"違う";
         Write(changed, db);
       },
       "table 一覧_コメント, row PageNo 2, ID 2, column Text: expected \"\", found \"違う\""},
      {"a page's Name empty where the document has one",
       [&] {
         ControlDocument changed = doc;
         changed.Pages[0].Name.clear();
         Write(changed, db);
       },
       "table 一覧_ページ, row No 1, column Name: expected \"表紙\", found Null"},
      {"Angle assigned where the document leaves the default",
       [&] {
         ControlDocument changed = doc;
         changed.Pages[1].Angle = 3;
         Write(changed, db);
         Compact(db);
       },
       "table 一覧_ページ, row No 2, column Angle: expected 0, found 180"},
      {"an extra row appended by another writer",
       [&] { Write(doc, db); AppendKeyWord(db, 9, 1, other); },
       "table 一覧_キーワード, row PageNo 9, ID 1: extra row, not in the document"},
      {"an extra row amid the others, compacted",
       [&] { Write(doc, db); AppendKeyWord(db, 2, 3, other); Compact(db); },
       "table 一覧_キーワード, row PageNo 2, ID 3: extra row, not in the document"},
      {"a key twice, the row that differs first: that one is the extra row",
       [&] {
         ControlDocument changed = doc;
         changed.Pages[1].KeyWords[0].KeyWord = u"違う";
         Write(changed, db, keyless);
         AppendKeyWord(db, 2, 1, doc.Pages[1].KeyWords[0]);
       },
       "table 一覧_キーワード, row PageNo 2, ID 1: extra row, not in the document"},
      {"a key twice, the matching row first, compacted",
       [&] { Write(doc, db, keyless); AppendKeyWord(db, 2, 1, other); Compact(db); },
       "table 一覧_キーワード, row PageNo 2, ID 1: extra row, not in the document"},
      {"a row missing",
       [&] {
         ControlDocument fewer = doc;
         fewer.Pages[3].SquareCount = 0;
         Write(fewer, db);
       },
       "table 一覧_範囲マーク, row PageNo 4, ID 1: missing from the database"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.make();
    EXPECT_TRUE(CheckStructure(db).ok());
    VerifyResult result;
    ASSERT_TRUE(VerifyDatabase(doc, db, &result).ok());
    EXPECT_EQ(result.difference, c.difference);
    EXPECT_EQ(result.same, c.difference[0] == '\0');
    EXPECT_EQ(result.rows, result.same ? kRows : 0);
  }

  // A data page whose free-space count is wrong: every row reads back as
  // written, but the file is not whole, and the structure check names the page.
  Write(doc, db);
  uint32_t page = 0;
  {
    std::unique_ptr<jet::DatabaseReader> reader;
    ASSERT_TRUE(jet::DatabaseReader::Open(db, &reader).ok());
    jet::TableDef def;
    ASSERT_TRUE(reader->ReadTableDef(OutputTableAt(0).name, &def).ok());
    std::vector<uint32_t> pages;
    ASSERT_TRUE(reader->OwnedPages(def, &pages).ok());
    ASSERT_FALSE(pages.empty());
    page = pages[0];
  }
  std::string bytes = testing::ReadFile(db);
  bytes[page * jet::kPageSize + jet::kDataFreeSpaceOffset] ^= 0x10;
  testing::WriteFile(db, bytes);
  EXPECT_THAT(CheckStructure(db).ToString(), HasSubstr("page " + std::to_string(page) + ": "));
  VerifyResult result;
  ASSERT_TRUE(VerifyDatabase(doc, db, &result).ok());
  EXPECT_TRUE(result.same);

  // A file that is no database, and one without the output tables.
  testing::WriteFile(db, std::string(8192, 'x'));
  EXPECT_FALSE(VerifyDatabase(doc, db, &result).ok());
  jet::DatabaseSpec unrelated;
  unrelated.tables.resize(1);
  unrelated.tables[0].def.name = u"他";
  unrelated.tables[0].def.columns.push_back({u"x"});
  ASSERT_TRUE(jet::AssignColumnLayout(&unrelated.tables[0].def).ok());
  ASSERT_TRUE(jet::WriteDatabase(unrelated, db).ok());
  Status s = VerifyDatabase(doc, db, &result);
  EXPECT_THAT(s.ToString(), HasSubstr("table 一覧_ページ: not in the database"));
  fs::remove_all(root);
}

}  // namespace
}  // namespace kp
