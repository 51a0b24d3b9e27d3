#include "form/main_presenter.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>

#include "ctl/control_reader.h"
#include "export/export_command.h"
#include "inspect/page_list.h"
#include "base/text_util.h"
#include "tests/export/fake_engine.h"
#include "tests/export/recording_ui.h"
#include "tests/export/test_docs.h"
#include "tests/support/ctl_writer.h"

namespace kp {
namespace {

namespace fs = std::filesystem;
using namespace kp::testing;
using Log = std::vector<std::string>;

std::string U8(const std::u16string& s) { return Utf16ToUtf8(s); }
std::string Name(ControlId id) { return Control(id).name; }
std::string Number(float f) { return std::to_string(int64_t(f)); }

// A view without a toolkit: it writes every call into `log`, answers the open
// dialog from a script, keeps the selected row as a list view would, and
// reports its selection back as a toolkit may. Its export port records too.
class RecordingView : public FormView {
 public:
  void SetListRows(ControlId l, int rows) override {
    Say("rows " + Name(l) + " " + std::to_string(rows));
    if (l == kPageList) selected = -1;
  }
  void SelectRow(ControlId l, int row) override {
    Say("select " + Name(l) + " " + std::to_string(row));
    selected = row;
    if (presenter) presenter->ImageListView_SelectionChanged();
  }
  int SelectedRow(ControlId) const override { return selected; }
  void Focus(ControlId c) override { Say("focus " + Name(c)); }
  void SetCount(ControlId c, const std::u16string& text) override { Say("count " + Name(c) + " " + U8(text)); }
  void SetProgressMax(ControlId c, float max) override { Say("max " + Name(c) + " " + Number(max)); }
  void SetProgressValue(ControlId c, float v) override { Say("value " + Name(c) + " " + Number(v)); }
  void Enable(ControlId c, bool on) override { Say("enable " + Name(c) + " " + std::to_string(on)); }
  void ShowMessage(const std::u16string& text) override { Say("message " + U8(text)); }
  bool AskOpenPath(const std::u16string& filter, Path* path) override {
    Say("open " + U8(filter));
    *path = answers.empty() ? Path() : answers.front();
    if (!answers.empty()) answers.pop_front();
    return !path->empty();
  }
  ExportUi* ExportPort() override { return &export_ui; }
  void UnloadProgressWindow() override { Say("unload"); }
  LayoutSurface* Layout() override { return nullptr; }

  Log log;
  std::deque<Path> answers;
  int selected = -1;
  MainPresenter* presenter = nullptr;
  RecordingUi export_ui{""};

 private:
  void Say(std::string s) { log.push_back(std::move(s)); }
};

class MainPresenterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = MakeTempFolder("kp-presenter");
    view_.presenter = &presenter_;
  }
  void TearDown() override { fs::remove_all(folder_); }

  Path Write(const std::string& sub, const ControlDocument& doc) {
    return WriteDocumentFolder(folder_ + "/" + sub, doc);
  }
  // The load button with the open dialog answering `path`; returns the log.
  Log Load(const Path& path) {
    view_.log.clear();
    view_.answers.push_back(path);
    presenter_.KPFileLoadButton_Click();
    return view_.log;
  }
  std::string Cell(ControlId list, int row, int column) { return U8(presenter_.CellText(list, row, column)); }
  std::vector<int> DetailRows() {
    std::vector<int> rows;
    for (ControlId l : kDetailLists) rows.push_back(presenter_.Rows(l));
    return rows;
  }

  // Three pages with comment counts 2, 0 and 5, the middle one tagged 目次.
  static ControlDocument ThreePages() {
    ControlDocument doc = PlainDocument(3);
    AddComment(&doc.Pages[0], 1, 10, 20, u"一");
    AddComment(&doc.Pages[0], 2, -20, 30, u"二");
    for (int i = 0; i < 5; ++i) AddComment(&doc.Pages[2], 3, 0, 0, u"三");
    AddKeyWord(&doc.Pages[1], 1, 2, 3, 4, u"目次", u"");
    doc.Pages[1].IsTag = 2;
    doc.Pages[1].Name = u"目次";
    AddRegisterEntry(&doc, u"a.kpe", u"x");
    AddEmbed(&doc.Pages[2], 0);
    return doc;
  }

  std::string folder_;
  ControlDocument doc_;
  RecordingView view_;
  MainPresenter presenter_{&view_, &doc_};
};

TEST_F(MainPresenterTest, LoadRunsItsStepsInOrder) {
  EXPECT_EQ(Load(Write("three", ThreePages())),
            (Log{"open KPファイル (*.CTL)|*.CTL",
                 "max ProgressLoad 3", "value ProgressLoad 1",
                 "rows ImageListView 0", "rows ImageListView 3",
                 "value ProgressLoad 1", "value ProgressLoad 2", "value ProgressLoad 3", "value ProgressLoad 3",
                 "select ImageListView 0", "focus ImageListView",
                 "rows CommentListView 2", "rows KeyWordListView 0", "rows SquareListView 0",
                 "rows HyperLinkListView 0",
                 "count TotalKPE 1", "count TotalSetKPE 1", "count TotalPage 3", "count TotalTag 1",
                 "count TotalComment 7", "count TotalKeyWord 1", "count TotalSquare 0", "count TotalHyperLink 0",
                 "max ProgressLoad 100", "value ProgressLoad 1",
                 "message 読込に成功しました。", "enable OutputMDB 1"}));
  EXPECT_EQ(doc_.PageCount, 3);
  EXPECT_EQ(presenter_.Rows(kPageList), 3);
  EXPECT_EQ(Cell(kPageList, 2, 0), "     3");
  EXPECT_EQ(Cell(kPageList, 1, 1), "●目次");
  EXPECT_EQ(Cell(kPageList, 0, 7), "0.977");  // 1000 bytes
  EXPECT_EQ(Cell(ControlId::kCommentListView, 1, 1), "-20");
  EXPECT_EQ(Cell(kPageList, 3, 0), "");  // outside the list
  EXPECT_EQ(Cell(ControlId::kCommentListView, 2, 0), "");
}

// The detail lists always show the selected row's page: after a click, after
// a selection moved without one, and none when the row names no page.
TEST_F(MainPresenterTest, RefillFollowsTheSelectedRow) {
  Load(Write("three", ThreePages()));
  const struct {
    const char* what;
    int selected;
    bool click;
    std::vector<int> rows;  // of the four detail lists
    int shown;
    size_t calls;  // of the view
  } steps[] = {
      {"click on row 2", 1, true, {0, 1, 0, 0}, 1, 4},
      {"the same row again: the same rows once", 1, true, {0, 1, 0, 0}, 1, 4},
      {"dragged to row 3, no click", 2, false, {5, 0, 0, 0}, 2, 4},
      {"the selection reported again: nothing to do", 2, false, {5, 0, 0, 0}, 2, 0},
      {"a row the view has but the document not", 7, true, {0, 0, 0, 0}, -1, 4},
      {"no row selected", -1, true, {0, 0, 0, 0}, -1, 4},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    view_.log.clear();
    view_.selected = s.selected;
    if (s.click) {
      presenter_.ImageListView_ItemClick();
    } else {
      presenter_.ImageListView_SelectionChanged();
    }
    EXPECT_EQ(DetailRows(), s.rows);
    EXPECT_EQ(presenter_.ShownPage(), s.shown);
    EXPECT_EQ(view_.log.size(), s.calls);
  }
  view_.selected = 2;
  presenter_.ImageListView_ItemClick();
  EXPECT_EQ(Cell(ControlId::kCommentListView, 4, 0), "    5");
}

TEST_F(MainPresenterTest, FailedLoadsChangeNothing) {
  const Path good = Write("good", ThreePages());
  const Path missing_image = Write("missing", PlainDocument(2));
  fs::remove(folder_ + "/missing/P2.TIF");
  fs::create_directories(folder_ + "/magic");
  WriteFile(folder_ + "/magic/DEFAULT.CTL", "NOTAKPFILE.....");
  const Path magic = folder_ + "/magic/DEFAULT.CTL";
  const Path lower = folder_ + "/good/default.ctl";
  const std::string open = "open KPファイル (*.CTL)|*.CTL";
  const std::string wrong_name = "message DEFAULT.CTLﾌｧｲﾙのみ受付けます。";
  const std::string wrong_magic = "message 開始コードが異なるのでKPファイルではない可能性があります。";
  const std::string failed = "message 読込に失敗しました。";

  // Before any load, and after a good one with page 3 shown: each failure
  // shows its message and nothing else; document, rows and totals stay.
  for (bool loaded : {false, true}) {
    SCOPED_TRACE(loaded ? "after a good load" : "before any load");
    const struct {
      Path path;
      std::string message;
    } cases[] = {{lower, wrong_name}, {Path(), wrong_name}, {magic, wrong_magic}, {missing_image, failed}};
    for (const auto& c : cases) {
      EXPECT_EQ(Load(c.path), (Log{open, c.message})) << c.path;
      EXPECT_EQ(doc_.PageCount, loaded ? 3 : 0);
      EXPECT_EQ(presenter_.Rows(kPageList), loaded ? 3 : 0);
      EXPECT_EQ(DetailRows(), (std::vector<int>{loaded ? 5 : 0, 0, 0, 0}));
    }
    view_.log.clear();
    presenter_.KPFileLoadButton_Click();  // a cancelled dialog
    EXPECT_EQ(view_.log, (Log{open, wrong_name}));
    if (!loaded) {
      Load(good);
      view_.selected = 2;
      presenter_.ImageListView_ItemClick();
    }
  }
  EXPECT_EQ(Cell(kPageList, 1, 1), "●目次");
}

TEST_F(MainPresenterTest, ExportAndUnloadGoThroughTheirPorts) {
  const fs::path program = folder_ + "/program";
  fs::create_directories(program);
  std::ofstream(program / "KP.dbd") << "T";
  ExportCommand command(program.string(), [] { return std::make_unique<FakeEngine>(std::make_shared<FakeLog>()); });
  MainPresenter presenter(&view_, &doc_, nullptr, &command);
  view_.export_ui = RecordingUi(folder_ + "/out.MDB");
  view_.log.clear();
  presenter.OutputMDB_Click();
  presenter.Form_Unload();
  presenter.Form_Load();  // no surface to lay out: nothing
  EXPECT_EQ(view_.log, Log{"unload"});
  EXPECT_EQ(view_.export_ui.last_filter, u"MDBファイル|*.MDB");
  EXPECT_EQ(view_.export_ui.Messages(), (Log{"保存に成功しました。", "最適化に成功しました。"}));
}

// The design's tables agree with the texts the lists show, and the lists'
// face is a fixed-pitch one wherever one is installed.
TEST(FormDesignTest, ListsAndFonts) {
  EXPECT_EQ(ListColumns(kPageList).size(), size_t(kPageListColumns));
  for (int i = 0; i < kDetailListCount; ++i) {
    EXPECT_EQ(ListColumns(kDetailLists[i]).size(), size_t(DetailTable::ColumnCount(DetailList(i))));
    EXPECT_EQ(Tabs()[size_t(i)].list, kDetailLists[i]);
  }
  auto faces = Font(FontRole::kList).faces;
  auto pick = [&](std::vector<std::u16string> installed) {
    const char16_t* face = PickFace(faces, [&](std::u16string_view f) {
      return std::find(installed.begin(), installed.end(), f) != installed.end();
    });
    return face ? U8(face) : std::string();
  };
  EXPECT_EQ(pick({u"IPAexGothic", u"DejaVu Sans Mono"}), "DejaVu Sans Mono");
  EXPECT_EQ(pick({u"IPAexGothic"}), "IPAexGothic");
}

}  // namespace
}  // namespace kp
