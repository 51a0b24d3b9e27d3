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
    EXPECT_EQ(testing::ReadFile(dbd), template_bytes);
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
    EXPECT_FALSE(fs::exists(bin + "/WorkDB.tmp"));
    chmod(dbd.c_str(), 0644);
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace kp
