// A KP.dbd replaced by another file: the export fails with the save failure
// message before any row and leaves the earlier output as it was.
#include "export/template_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "export/export_command.h"
#include "jet/builder.h"
#include "jet/format.h"
#include "jet/reader.h"
#include "jet/tdef_write.h"
#include "export/output_schema.h"
#include "tests/export/recording_ui.h"
#include "tests/export/test_docs.h"
#include "tests/support/ctl_writer.h"

namespace kp {
namespace {

namespace fs = std::filesystem;


// Writes the program's own template changed by `change` to `path`.
void WriteTemplate(const std::string& path, const std::function<void(jet::DatabaseSpec*)>& change) {
  jet::DatabaseSpec layout;
  std::vector<jet::TableDef> defs;
  ASSERT_TRUE(OutputTableDefs(&defs).ok());
  for (auto& d : defs) layout.tables.push_back({std::move(d), {}});
  change(&layout);
  ASSERT_TRUE(jet::WriteDatabase(layout, path).ok());
}

// The program's own template at `path`, then damaged where `place` says
// (given the template's reader and its bytes): one byte or two changed.
void WriteDamagedTemplate(const std::string& path,
                          const std::function<void(const jet::DatabaseReader&, std::string*)>& damage) {
  WriteTemplate(path, [](jet::DatabaseSpec*) {});
  std::string bytes = testing::ReadFile(path);
  {
    std::unique_ptr<jet::DatabaseReader> reader;
    ASSERT_TRUE(jet::DatabaseReader::Open(path, &reader).ok());
    damage(*reader, &bytes);
  }
  testing::WriteFile(path, bytes);
}

uint16_t U16At(const std::string& b, size_t at) { return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8); }

// Where the definition of the pages table starts in the file.
size_t PagesTdef(const jet::DatabaseReader& r) { return size_t(r.FindTable(u"一覧_ページ")->tdef_page()) * jet::kPageSize; }

// The damages a template picked up elsewhere has shown, each made once.
const std::pair<const char*, std::function<void(const jet::DatabaseReader&, std::string*)>> kDamages[] = {
    {"a catalog index entry that no longer matches its row",
     [](const jet::DatabaseReader& r, std::string* b) {
       const size_t leaf = size_t(r.catalog_def().physical_indexes[0].root_page) * jet::kPageSize;
       (*b)[leaf + jet::kIndexEntriesOffset + 2] ^= 0x10;
     }},
    {"a table definition whose length disagrees with its sections",
     [](const jet::DatabaseReader& r, std::string* b) { (*b)[PagesTdef(r) + jet::kTdefLengthOffset] += 2; }},
    {"variable-column offsets out of order",
     [](const jet::DatabaseReader& r, std::string* b) {
       // The first catalog row with two variable columns of different starts.
       std::vector<uint32_t> pages;
       ASSERT_TRUE(r.OwnedPages(r.catalog_def(), &pages).ok());
       const size_t page = size_t(pages.at(0)) * jet::kPageSize;
       size_t end = jet::kPageSize;
       for (size_t row = 0; row < U16At(*b, page + jet::kDataRowCountOffset); ++row) {
         const size_t start = U16At(*b, page + jet::kDataRowOffsetsOffset + 2 * row) & jet::kRowOffsetMask;
         const size_t mask = (U16At(*b, page + start) + 7) / 8, first = page + end - mask - 4;
         if (U16At(*b, page + end - mask - 2) >= 2 && U16At(*b, first) != U16At(*b, first - 2)) {
           std::swap((*b)[first], (*b)[first - 2]);
           std::swap((*b)[first + 1], (*b)[first - 1]);
           return;
         }
         end = start;
       }
       FAIL() << "no catalog row with two variable columns";
     }},
    {"a column descriptor's fixed zeros changed",
     [](const jet::DatabaseReader& r, std::string* b) {
       jet::TableDef def;
       ASSERT_TRUE(r.ReadTableDef(u"一覧_ページ", &def).ok());
       const size_t first_column =
           PagesTdef(r) + jet::kTdefHeaderBytes + jet::kTdefIndexCountBlockBytes * def.physical_indexes.size();
       (*b)[first_column + jet::kColumnZeroOffset] = 1;
     }},
};

TEST(TemplateCheckTest, TemplatesFromElsewhere) {
  const std::string root = testing::MakeTempFolder("kp-template");
  const std::string bin = root + "/bin", out = root + "/out", output = out + "/x.mdb";
  fs::create_directories(bin);
  fs::create_directories(out);
  const std::string dbd = bin + "/KP.dbd";
  struct Case {
    const char* name;
    std::function<void()> make;
    const char* cause;  // empty: the export succeeds
  };
  const Case cases[] = {
      {"own template", [&] { WriteTemplate(dbd, [](jet::DatabaseSpec*) {}); }, ""},
      {"read-only file",
       [&] {
         WriteTemplate(dbd, [](jet::DatabaseSpec*) {});
         chmod(dbd.c_str(), 0444);
       },
       ""},
      {"a table missing", [&] { WriteTemplate(dbd, [](jet::DatabaseSpec* l) { l->tables.pop_back(); }); },
       "is missing"},
      {"a column missing",
       [&] {
         WriteTemplate(dbd, [](jet::DatabaseSpec* l) {
           jet::ColumnDef& c = l->tables[2].def.columns.back();
           auto props = l->tables[2].def.properties.columns.extract(c.name);
           c.name = u"Other";
           if (!props.empty()) {
             props.key() = c.name;
             l->tables[2].def.properties.columns.insert(std::move(props));
           }
         });
       },
       "is missing"},
      {"a Long column narrowed to Integer",
       [&] {
         WriteTemplate(dbd, [](jet::DatabaseSpec* l) {
           for (auto& c : l->tables[0].def.columns) {
             if (c.type == jet::ColumnType::kLong) c.type = jet::ColumnType::kInteger;
           }
           ASSERT_TRUE(jet::AssignColumnLayout(&l->tables[0].def).ok());
         });
       },
       "narrower"},
      {"Memo columns as Text(255), as in older templates",
       [&] {
         WriteTemplate(dbd, [](jet::DatabaseSpec* l) {
           for (auto& t : l->tables) {
             for (auto& c : t.def.columns) {
               if (c.type == jet::ColumnType::kMemo) {
                 c.type = jet::ColumnType::kText;
                 c.length = 510;
               }
             }
             ASSERT_TRUE(jet::AssignColumnLayout(&t.def).ok());
           }
         });
       },
       ""},
      {"not a database", [&] { testing::WriteFile(dbd, "just some text, not a database"); }, "template"},
      {"an Access database without the tables",
       [&] { fs::copy_file(std::string(KP_REFERENCE_DIR) + "/empty.mdb", dbd); }, "is missing"},
      {kDamages[0].first, [&] { WriteDamagedTemplate(dbd, kDamages[0].second); }, "template: page "},
      {kDamages[1].first, [&] { WriteDamagedTemplate(dbd, kDamages[1].second); }, "template: page "},
      {kDamages[2].first, [&] { WriteDamagedTemplate(dbd, kDamages[2].second); }, "template: page "},
      {kDamages[3].first, [&] { WriteDamagedTemplate(dbd, kDamages[3].second); }, "template: page "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (std::string(c.name).find("Access") != std::string::npos &&
        !fs::exists(std::string(KP_REFERENCE_DIR) + "/empty.mdb")) {
      continue;
    }
    std::error_code ec;
    fs::remove(dbd, ec);
    c.make();
    const std::string template_bytes = testing::ReadFile(dbd);
    testing::WriteFile(output, "earlier");
    ExportCommand command(bin, [] { return jet::CreateJetEngine(); });
    command.set_template_check(CheckTemplate);
    testing::RecordingUi ui(output);
    ExportResult r = command.Run(testing::PlainDocument(2), &ui);
    if (*c.cause == 0) {
      EXPECT_EQ(r.outcome, ExportOutcome::kSavedAndCompacted) << r.cause.ToString();
    } else {
      EXPECT_EQ(r.outcome, ExportOutcome::kSaveFailed);
      EXPECT_NE(r.cause.message().find(c.cause), std::string::npos) << r.cause.ToString();
      EXPECT_EQ(ui.Messages(), std::vector<std::string>{testing::Utf8(kSaveFailedMessage)});
      EXPECT_FALSE(ui.Saw("show"));
      EXPECT_EQ(testing::ReadFile(output), "earlier");
    }
    if (std::string(c.cause) == "template: page ") {
      // The compaction refuses the same file, naming the page, and leaves
      // nothing behind.
      const std::string copy = root + "/compacted.mdb";
      Status s = jet::CompactDatabase(dbd, copy);
      EXPECT_TRUE(s.IsCorruption()) << s.ToString();
      EXPECT_NE(s.message().find(": page "), std::string::npos) << s.ToString();
      EXPECT_FALSE(fs::exists(copy));
    }
    EXPECT_EQ(testing::ReadFile(dbd), template_bytes);
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
    EXPECT_FALSE(fs::exists(bin + "/WorkDB.tmp"));
    chmod(dbd.c_str(), 0644);
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace kp
