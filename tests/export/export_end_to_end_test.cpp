// End to end: documents written as control files by the test writer, loaded,
// exported through the real engine into a copy of the
// built template, then every table read back by mdbtools and by mdb-reader
// and compared with what the document says, and the file checked by
// jet-check.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <map>

#include "base/text_util.h"
#include "ctl/load_command.h"
#include "export/export_command.h"
#include "jet/builder.h"
#include "export/output_schema.h"
#include "jet/tdef_write.h"
#include "export/row_mapping.h"
#include "tests/export/recording_ui.h"
#include "tests/export/test_docs.h"
#include "tests/support/jet_support.h"
#include "tests/support/ctl_writer.h"

namespace kp {
namespace {

namespace fs = std::filesystem;
using jet::testing::RowsByMdbReader;
using jet::testing::RowsByMdbtools;
using testing::RecordingUi;
using testing::Utf8;

const std::string kTemplate = std::string(KP_BUILD_DIR) + "/KP.dbd";

// A row in the readers' notation: fields joined by '|', Null as <NULL>,
// Booleans 0/1. mdbtools prints an empty text as <NULL> too.
struct Line {
  std::vector<std::string> fields;
  std::vector<bool> empty_text;  // per field: an empty string (not Null)
  std::string For(bool mdbtools) const {
    std::string s;
    for (size_t i = 0; i < fields.size(); ++i) {
      if (i) s += '|';
      s += (mdbtools && empty_text[i]) ? "<NULL>" : fields[i];
    }
    return s;
  }
};

class LineBuilder {
 public:
  LineBuilder& N(int64_t n) { return Add(std::to_string(n), false); }
  LineBuilder& T(const Text& t) { return Add(Utf8(t), t.empty()); }
  LineBuilder& Null() { return Add("<NULL>", false); }
  Line Done() { return std::move(line_); }

 private:
  LineBuilder& Add(std::string f, bool empty) {
    line_.fields.push_back(std::move(f));
    line_.empty_text.push_back(empty);
    return *this;
  }
  Line line_;
};

// What each table must hold after exporting `doc` into the empty template,
// in the template's column order (which is also the assignment order).
std::vector<Line> Expected(const ControlDocument& doc, int table) {
  std::vector<Line> out;
  for (int32_t p = 0; p < doc.PageCount; ++p) {
    const PageRecord& pg = doc.Pages[p];
    const int64_t no = p + 1;
    switch (table) {
      case 0: {
        LineBuilder b;
        b.N(no);
        if (pg.Name.empty()) b.Null(); else b.T(pg.Name);
        b.N(pg.IsTag == 2).N(pg.Level).T(pg.FileName).N(pg.ImageLen);
        b.N(AngleDegrees(pg.Angle) < 0 ? 0 : AngleDegrees(pg.Angle));
        out.push_back(b.Done());
        break;
      }
      case 1:
        for (int j = 0; j < pg.EmbedCount; ++j) {
          const EmbeddedFileRecord& f = doc.EmbeddedFiles[pg.Embeds[j].RegisterIndex];
          out.push_back(LineBuilder().N(no).N(j + 1).T(f.KPE_FileName).T(f.InData).Done());
        }
        break;
      case 2:
        for (int j = 0; j < pg.CommentCount; ++j) {
          const CommentRecord& c = pg.Comments[j];
          out.push_back(LineBuilder().N(no).N(j + 1).N(c.Color).N(c.Left).N(c.Top).T(c.Text).Done());
        }
        break;
      case 3:
        for (int j = 0; j < pg.KeyWordCount; ++j) {
          const KeyWordRecord& k = pg.KeyWords[j];
          out.push_back(LineBuilder().N(no).N(j + 1).N(k.Left).N(k.Top).N(k.Width).N(k.Height)
                            .T(k.KeyWord).T(k.Field).Done());
        }
        break;
      case 4:
        for (int j = 0; j < pg.SquareCount; ++j) {
          const SquareRecord& q = pg.Squares[j];
          out.push_back(LineBuilder().N(no).N(j + 1).N(q.Color).N(q.Left).N(q.Top).N(q.Width)
                            .N(q.Height).Done());
        }
        break;
      case 5:
        for (int j = 0; j < pg.HyperLinkCount; ++j) {
          const HyperLinkRecord& h = pg.HyperLinks[j];
          out.push_back(LineBuilder().N(no).N(j + 1).N(h.Left).N(h.Top).N(h.Width).N(h.Height)
                            .T(h.LinkInfo1).T(h.LinkInfo2).Done());
        }
        break;
    }
  }
  return out;
}

std::vector<std::string> For(const std::vector<Line>& lines, bool mdbtools) {
  std::vector<std::string> out;
  for (const Line& l : lines) out.push_back(l.For(mdbtools));
  return out;
}

// `doc` written as a control file with its page images, then loaded back:
// the document the export really sees.
ControlDocument WrittenAndLoaded(const ControlDocument& doc) {
  const std::string folder = testing::MakeTempFolder("kp-e2e-doc");
  const std::string ctl = testing::WriteDocumentFolder(folder, doc);
  ControlDocument loaded;
  FileSystemImageSizer sizer;
  LoadResult r = LoadControlFile(Utf8ToUtf16(ctl), &sizer, &loaded);
  EXPECT_TRUE(r.ok()) << r.cause;
  std::error_code ec;
  fs::remove_all(folder, ec);
  return loaded;
}

// The first row where `got` and `want` differ, for a readable failure.
std::string FirstDifference(const std::vector<std::string>& got, const std::vector<std::string>& want) {
  for (size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
    const std::string g = i < got.size() ? got[i] : "(none)";
    const std::string w = i < want.size() ? want[i] : "(none)";
    if (g != w) return "row " + std::to_string(i + 1) + ": got " + g.substr(0, 300) + "\n want " + w.substr(0, 300);
  }
  return "";
}

Text Repeat(const Text& unit, size_t n) {
  Text s;
  for (size_t i = 0; i < n; ++i) s += unit;
  return s;
}

// The main document: pages without lists, lists on some pages only, one
// register entry used on pages 1 and 4, empty and single-space names, every
// IsTag and Angle case, long Japanese texts.
ControlDocument RichDocument() {
  using namespace testing;
  ControlDocument doc;
  AddRegisterEntry(&doc, u"図面一.kpe", Repeat(u"埋め込みデータ", 700));
  AddRegisterEntry(&doc, u"unused.kpe", u"never exported");
  AddRegisterEntry(&doc, u"二.kpe", u"");
  const uint8_t tags[] = {0, 1, 2, 3, 255, 2, 0};
  const uint8_t angles[] = {0, 1, 2, 3, 4, 5, 255};
  const Text names[] = {u"", u" ", u"表紙", u"ﾊﾝｶｸ", Repeat(u"長", 255), u"目次", u""};
  for (int i = 0; i < 7; ++i) {
    PageRecord p = MakePage(u"\\ページ" + Text(1, u'1' + i) + u".TIF");
    p.IsTag = tags[i];
    p.Angle = angles[i];
    p.Name = names[i];
    p.Level = uint8_t(i * 40);
    p.ImageLen = i == 6 ? 2147483647 : i * 1000;
    AddPage(&doc, p);
  }
  AddEmbed(&doc.Pages[0], 0);
  AddEmbed(&doc.Pages[3], 0);
  AddEmbed(&doc.Pages[3], 2);
  AddComment(&doc.Pages[1], 255, -32768, 32767, Repeat(u"長いコメント。", 1200));
  AddComment(&doc.Pages[1], 0, 0, 0, u"");
  AddComment(&doc.Pages[5], 7, 10, 20, u"短い");
  AddKeyWord(&doc.Pages[1], 1, 2, 3, 4, Repeat(u"鍵", 255), u"");
  AddKeyWord(&doc.Pages[2], -1, -2, -3, -4, u"", u"分野");
  AddKeyWord(&doc.Pages[2], 5, 6, 7, 8, u"kw", u"field");
  AddKeyWord(&doc.Pages[2], 9, 9, 9, 9, u"三つ目", u" ");
  AddSquare(&doc.Pages[4], 1, 2, 3, 4, 5);
  AddSquare(&doc.Pages[6], -1, 32767, -32768, 0, 0);
  AddHyperLink(&doc.Pages[4], 1, 1, 100, 20, u"http://example.com/ページ", Repeat(u"リンク", 3000));
  AddHyperLink(&doc.Pages[4], 2, 2, 2, 2, u"", u"");
  return doc;
}

class ExportEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kTemplate)) GTEST_SKIP() << kTemplate << " missing: the build writes it";
    root_ = testing::MakeTempFolder("kp-e2e");
    program_ = root_ / "bin";
    fs::create_directories(program_);
    fs::copy_file(kTemplate, program_ / "KP.dbd");
    output_ = (root_ / "出力.mdb").string();
    command_ = std::make_unique<ExportCommand>(program_.string(), [] { return jet::CreateJetEngine(); });
  }
  void TearDown() override {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  ExportResult Export(const ControlDocument& doc, const ExportOptions& options = ExportOptions()) {
    RecordingUi ui(output_);
    ExportResult r = command_->Run(doc, &ui, options);
    messages_ = ui.Messages();
    return r;
  }

  // Every table as both readers see it equals `want[t]` (rows in order).
  void ExpectTables(const std::vector<std::vector<Line>>& want) {
    for (int t = 0; t < kOutputTableCount; ++t) {
      const std::string name = Utf8(OutputTableAt(t).name);
      SCOPED_TRACE(name);
      bool ok = false;
      std::vector<std::string> got = RowsByMdbtools(output_, name, &ok);
      ASSERT_TRUE(ok) << "mdb-export failed";
      EXPECT_EQ(got.size(), want[t].size());
      EXPECT_EQ(FirstDifference(got, For(want[t], true)), "") << "mdbtools disagrees";
      got = RowsByMdbReader(output_, name, &ok);
      ASSERT_TRUE(ok) << "mdb-reader failed";
      EXPECT_EQ(FirstDifference(got, For(want[t], false)), "") << "mdb-reader disagrees";
    }
  }
  void ExpectTablesOf(const ControlDocument& doc) {
    std::vector<std::vector<Line>> want;
    for (int t = 0; t < kOutputTableCount; ++t) want.push_back(Expected(doc, t));
    ExpectTables(want);
  }
  void ExpectJetCheckPasses() { jet::testing::ExpectCheckerClean(output_); }

  fs::path root_, program_;
  std::string output_;
  std::unique_ptr<ExportCommand> command_;
  std::vector<std::string> messages_;
};

// Documents exported one after another into the same output and read back
// exactly: each export replaces the one before it (the document without
// lists follows a rich one), and the export only reads the document.
TEST_F(ExportEndToEndTest, DocumentsReadBackExactly) {
  KP_SKIP_WITHOUT_ORACLES();
  ControlDocument long_texts = RichDocument();  // the longest texts a control file can hold, in every text column
  long_texts.Pages[0].Name = Repeat(u"名", 300);
  long_texts.Pages[1].FileName = u"\\" + Repeat(u"f", 240) + u".TIF";  // an image file name the file system takes
  long_texts.EmbeddedFiles[0].KPE_FileName = Repeat(u"埋", 400);
  long_texts.Pages[2].KeyWords[1].KeyWord = Repeat(u"x", 32767);
  long_texts.Pages[2].KeyWords[1].Field = Repeat(u"分", 16383);
  ControlDocument keywords = testing::PlainDocument(2);
  for (int k = 0; k < 32767; ++k) {
    testing::AddKeyWord(&keywords.Pages[1], int16_t(k), int16_t(-k), 1, 2,
                        u"語" + Text(1, char16_t(u'0' + k % 10)), k % 3 ? u"" : u"欄");
  }
  const std::vector<std::string> saved = {"保存に成功しました。", "最適化に成功しました。"};
  const struct {
    const char* name;
    ControlDocument doc;
    bool work_file_present;  // someone else's WorkDB.tmp: kept, and the output is not compacted
    ExportOutcome outcome;
    std::vector<std::string> messages;
  } cases[] = {
      {"rich document", RichDocument(), false, ExportOutcome::kSavedAndCompacted, saved},
      {"texts of any length", long_texts, false, ExportOutcome::kSavedAndCompacted, saved},
      {"work file already present", RichDocument(), true, ExportOutcome::kSavedNotCompacted,
       {"保存に成功しました。", "最適化に失敗しました。（容量が多くなることがあります。）"}},
      {"no lists: only the pages table", testing::PlainDocument(5), false, ExportOutcome::kSavedAndCompacted, saved},
      {"32767 keywords on one page", keywords, false, ExportOutcome::kSavedAndCompacted, saved},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.work_file_present) std::ofstream(program_ / "WorkDB.tmp") << "left over";
    const ControlDocument doc = WrittenAndLoaded(c.doc);
    const std::string before = testing::EncodeControlFile(doc);
    ExportResult r = Export(doc);
    ASSERT_EQ(r.outcome, c.outcome) << r.cause.ToString();
    EXPECT_EQ(testing::EncodeControlFile(doc), before);
    EXPECT_EQ(messages_, c.messages);
    EXPECT_EQ(fs::exists(program_ / "WorkDB.tmp"), c.work_file_present);
    fs::remove(program_ / "WorkDB.tmp");
    ExpectTablesOf(doc);
    ExpectJetCheckPasses();
  }
}

TEST_F(ExportEndToEndTest, FailureInTheFourthTableKeepsACompleteValidPrefix) {
  KP_SKIP_WITHOUT_ORACLES();
  // A user's template whose keyword column is Text(255): a longer keyword
  // fails on page 3's second keyword.
  std::vector<jet::TableDef> defs;
  ASSERT_TRUE(OutputTableDefs(&defs).ok());
  jet::DatabaseSpec layout;
  for (jet::TableDef& d : defs) {
    for (jet::ColumnDef& c : d.columns) {
      if (c.name == u"KeyWord") {
        c = jet::ColumnDef();
        c.name = u"KeyWord";
        c.type = jet::ColumnType::kText;
        c.length = 510;
      }
    }
    ASSERT_TRUE(jet::AssignColumnLayout(&d).ok());
    layout.tables.push_back({d, {}});
  }
  ASSERT_TRUE(jet::WriteDatabase(layout, (program_ / "KP.dbd").string()).ok());
  ControlDocument doc = RichDocument();
  doc.Pages[2].KeyWords[1].KeyWord = Repeat(u"x", 256);
  doc = WrittenAndLoaded(doc);
  ExportResult r = Export(doc);
  EXPECT_EQ(r.outcome, ExportOutcome::kSaveFailed);
  EXPECT_THAT(r.cause.message(), ::testing::HasSubstr("keywords table, page 3 item 2"));
  EXPECT_EQ(messages_, std::vector<std::string>{"保存に失敗しました。"});
  std::vector<std::vector<Line>> want;
  for (int t = 0; t < kOutputTableCount; ++t) want.push_back(t < 3 ? Expected(doc, t) : std::vector<Line>{});
  std::vector<Line> keywords = Expected(doc, 3);
  want[3].assign(keywords.begin(), keywords.begin() + 2);  // page 2's one, page 3's first
  ExpectTables(want);
  ExpectJetCheckPasses();
}

// Puts a KP.dbd with the primary keys or without them in the program folder.
void WriteTemplate(const fs::path& program, bool primary_keys) {
  std::vector<jet::TableDef> defs;
  ASSERT_TRUE(OutputTableDefs(&defs, primary_keys).ok());
  jet::DatabaseSpec layout;
  for (jet::TableDef& d : defs) layout.tables.push_back({d, {}});
  ASSERT_TRUE(jet::WriteDatabase(layout, (program / "KP.dbd").string()).ok());
}

TEST_F(ExportEndToEndTest, RowsAlreadyInTheTemplateStayFirst) {
  KP_SKIP_WITHOUT_ORACLES();
  // A template without keys, which takes the same pages twice.
  WriteTemplate(program_, false);
  ControlDocument first = WrittenAndLoaded(testing::PlainDocument(2));
  ExportOptions no_compact;
  no_compact.compact = false;
  ASSERT_EQ(Export(first, no_compact).outcome, ExportOutcome::kSaved);
  fs::copy_file(output_, program_ / "KP.dbd", fs::copy_options::overwrite_existing);

  ControlDocument second = WrittenAndLoaded(RichDocument());
  ASSERT_EQ(Export(second).outcome, ExportOutcome::kSavedAndCompacted);
  std::vector<std::vector<Line>> want;
  for (int t = 0; t < kOutputTableCount; ++t) {
    want.push_back(Expected(first, t));
    for (Line& l : Expected(second, t)) want.back().push_back(std::move(l));
  }
  ExpectTables(want);
  ExpectJetCheckPasses();
}

TEST_F(ExportEndToEndTest, ARepeatedPrimaryKeyEndsOnTheSaveFailurePath) {
  KP_SKIP_WITHOUT_ORACLES();
  // The template with its primary keys, holding an earlier export: page 1
  // comes again.
  WriteTemplate(program_, true);
  ControlDocument first = WrittenAndLoaded(testing::PlainDocument(2));
  ExportOptions no_compact;
  no_compact.compact = false;
  ASSERT_EQ(Export(first, no_compact).outcome, ExportOutcome::kSaved);
  fs::copy_file(output_, program_ / "KP.dbd", fs::copy_options::overwrite_existing);
  ExportResult r = Export(WrittenAndLoaded(RichDocument()));
  EXPECT_EQ(r.outcome, ExportOutcome::kSaveFailed);
  EXPECT_THAT(r.cause.message(), ::testing::HasSubstr("index PrimaryKey already holds the key No = 1"));
  EXPECT_EQ(messages_, std::vector<std::string>{"保存に失敗しました。"});
  std::vector<std::vector<Line>> want;
  for (int t = 0; t < kOutputTableCount; ++t) want.push_back(Expected(first, t));
  ExpectTables(want);
  ExpectJetCheckPasses();
}

}  // namespace
}  // namespace kp
