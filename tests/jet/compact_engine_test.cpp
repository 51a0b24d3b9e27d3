// Compaction: the same rows in a file no larger, a second compaction byte
// for byte the same, an existing destination refused, and sources holding
// what cannot be carried over refused with nothing left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "export/jet/compact.h"
#include "export/jet/engine.h"
#include "tests/jet/engine_support.h"

namespace kp::jet {
namespace {

using namespace testing;

// Appends `n` comment rows (memo of 20-45 characters) and `n / 10` page rows.
void Fill(const std::string& path, int n) {
  auto engine = CreateJetEngine();
  std::unique_ptr<Database> db;
  ASSERT_TRUE(engine->OpenDatabase(path, &db).ok());
  std::unique_ptr<Recordset> rs;
  ASSERT_TRUE(db->OpenRecordset(u"SELECT * FROM [一覧_コメント]", &rs).ok());
  for (int i = 0; i < n; ++i) {
    std::u16string text;
    for (int k = 0; k < 20 + i % 26; ++k) text.push_back(char16_t(0x4E00 + (i * 7 + k) % 500));
    ASSERT_TRUE(rs->AddNew().ok());
    ASSERT_TRUE(rs->SetField(u"PageNo", Value::Int(1 + i / 50)).ok());
    ASSERT_TRUE(rs->SetField(u"ID", Value::Int(1 + i % 50)).ok());
    ASSERT_TRUE(rs->SetField(u"Text", Value::Str(text)).ok());
    ASSERT_TRUE(rs->Update().ok());
  }
  ASSERT_TRUE(rs->Close().ok());
  ASSERT_TRUE(db->OpenRecordset(u"SELECT * FROM [一覧_ページ]", &rs).ok());
  for (int i = 0; i < n / 10; ++i) {
    ASSERT_TRUE(rs->AddNew().ok());
    ASSERT_TRUE(rs->SetField(u"No", Value::Int(i + 1)).ok());
    ASSERT_TRUE(rs->SetField(u"FileName", Value::Str(u"page" + std::u16string(1, char16_t(u'0' + i % 10)))).ok());
    ASSERT_TRUE(rs->Update().ok());
  }
  ASSERT_TRUE(db->Close().ok());
}

TEST(CompactEngine, SameRowsNoLargerAndStableOnASecondPass) {
  const std::string source = KpCopy("compact_src.mdb");
  // Two sessions, so that the source has pages of both in between.
  Fill(source, 6000);
  Fill(source, 3000);
  const std::string once = TempPath("compact_once.mdb");
  const std::string twice = TempPath("compact_twice.mdb");
  auto engine = CreateJetEngine();
  Status s = engine->CompactDatabase(source, once);
  ASSERT_TRUE(s.ok()) << s.ToString();
  ExpectCheckerClean(once);
  EXPECT_LE(std::filesystem::file_size(once), std::filesystem::file_size(source));
  std::vector<TableDef> defs;
  ASSERT_TRUE(KpTableDefs(&defs).ok());
  for (const TableDef& d : defs) {
    EXPECT_EQ(ReadBack(once, d.name), ReadBack(source, d.name)) << Utf8(d.name);
  }
  ExpectRowsThreeWays(once, u"一覧_ページ", ReadBack(source, u"一覧_ページ"));
  // The header page is the source's.
  const Bytes a = ReadWholeFile(source), b = ReadWholeFile(once);
  EXPECT_EQ(PageOf(a, 0), PageOf(b, 0));

  ASSERT_TRUE(engine->CompactDatabase(once, twice).ok());
  EXPECT_EQ(ReadWholeFile(once), ReadWholeFile(twice));

  // The compacted file takes appended rows like the template does.
  Fill(twice, 100);
  ExpectCheckerClean(twice);
  EXPECT_EQ(ReadBack(twice, u"一覧_コメント").size(), 9100u);
}

TEST(CompactEngine, ExistingDestinationIsRefusedAndKept) {
  const std::string source = KpCopy("compact_src2.mdb");
  const std::string dest = TempPath("compact_exists.mdb");
  { std::ofstream(dest) << "keep me"; }
  Status s = CreateJetEngine()->CompactDatabase(source, dest);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("exists"), std::string::npos) << s.message();
  std::ifstream in(dest);
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "keep me");
}

TEST(CompactEngine, RefusesWhatItCannotCarryAndLeavesNothing) {
  struct Case {
    const char* file;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"empty.mdb", "compaction cannot carry over"},           // Access's own objects
      {"queryTestV2000.mdb", "compaction cannot carry over"},  // saved queries
      {"indexTestV2000.mdb", "compaction cannot carry over"},
  };
  for (const Case& c : cases) {
    const std::string source = ReferencePath(c.file);
    if (!std::filesystem::exists(source)) GTEST_SKIP() << "no reference files at " << KP_REFERENCE_DIR;
    const Bytes before = ReadWholeFile(source);
    const std::string dest = TempPath(std::string("compact_refused_") + c.file);
    Status s = CreateJetEngine()->CompactDatabase(source, dest);
    EXPECT_TRUE(s.IsNotSupported()) << c.file << ": " << s.ToString();
    EXPECT_NE(s.message().find(c.says), std::string::npos) << s.message();
    EXPECT_FALSE(std::filesystem::exists(dest)) << c.file;
    EXPECT_EQ(ReadWholeFile(source), before);
  }
}

TEST(CompactEngine, EngineMadeBlankDatabase) {
  const std::string source = ReferencePath("adox_jet4.mdb");
  if (!std::filesystem::exists(source)) GTEST_SKIP() << "no reference files at " << KP_REFERENCE_DIR;
  const std::string dest = TempPath("compact_adox.mdb");
  Status s = CreateJetEngine()->CompactDatabase(source, dest);
  ASSERT_TRUE(s.ok()) << s.ToString();
  ExpectCheckerClean(dest);
  EXPECT_LE(std::filesystem::file_size(dest), std::filesystem::file_size(source));
}

}  // namespace
}  // namespace kp::jet
