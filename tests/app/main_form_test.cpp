#include "app/main_form.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <deque>
#include <filesystem>
#include <span>

#include "app/save_state_form.h"
#include "app/tab_control.h"
#include "base/text_util.h"
#include "jet/reader.h"
#include "tests/export/test_docs.h"
#include "tests/support/ctl_writer.h"
#include "tests/support/qt_app.h"

namespace kp {
namespace {

namespace fs = std::filesystem;
using namespace kp::testing;

// Dialogs that answer from a script and remember every message.
class ScriptedDialogs : public AppDialogs {
 public:
  QString GetOpenFileName(QWidget*, const QString& filter) override { return Next(filter); }
  QString GetSaveFileName(QWidget*, const QString& filter) override { return Next(filter); }
  void ShowMessage(QWidget*, const QString& text) override { messages << text; }

  std::deque<QString> answers;
  QStringList filters, messages;

 private:
  QString Next(const QString& filter) {
    filters << filter;
    QString a = answers.empty() ? QString() : answers.front();
    if (!answers.empty()) answers.pop_front();
    return a;
  }
};

const char* const kLists[] = {"ImageListView", "CommentListView", "KeyWordListView", "SquareListView",
                              "HyperLinkListView"};
const char* const kCounts[] = {"TotalPage", "TotalTag",      "TotalComment", "TotalKeyWord",
                               "TotalSquare", "TotalHyperLink", "TotalKPE",     "TotalSetKPE"};

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    Module1::Document() = ControlDocument();
    folder_ = MakeTempFolder("kp-form");
    form_ = std::make_unique<MainForm>(&dialogs_);
    form_->show();
    QApplication::setActiveWindow(form_.get());
    QCoreApplication::processEvents();
  }
  void TearDown() override {
    form_.reset();
    SaveStateForm::Unload();
    fs::remove_all(folder_);
  }

  template <typename T = QWidget>
  T* Find(const char* name) {
    T* w = form_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QTreeView* List(const char* name) { return Find<QTreeView>(name); }
  int Rows(const char* name) { return List(name)->model()->rowCount(); }
  QString Cell(const char* name, int row, int column) {
    QAbstractItemModel* m = List(name)->model();
    return m->data(m->index(row, column)).toString();
  }
  QString Count(const char* name) { return Find<QLabel>(name)->text(); }
  QStringList AllCounts() {
    QStringList out;
    for (const char* c : kCounts) out << Count(c);
    return out;
  }

  // Writes a document folder and loads it through the button.
  QString Write(const std::string& sub, const ControlDocument& doc) {
    return QString::fromStdString(WriteDocumentFolder(folder_ + "/" + sub, doc));
  }
  void Load(const QString& path) {
    dialogs_.answers.push_back(path);
    QTest::mouseClick(Find<QPushButton>("KPFileLoadButton"), Qt::LeftButton);
  }
  void ClickRow(int row) {
    QTreeView* view = List("ImageListView");
    QRect r = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
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
    return doc;
  }

  ScriptedDialogs dialogs_;
  std::string folder_;
  std::unique_ptr<MainForm> form_;
};

TEST_F(MainFormTest, StartState) {
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("ZIriRAV Convert Version 1.0"));
  for (const char* l : kLists) EXPECT_EQ(Rows(l), 0) << l;
  EXPECT_EQ(AllCounts(), QStringList(8, QStringLiteral("0")));
  EXPECT_FALSE(Find("OutputMDB")->isEnabled());
  EXPECT_TRUE(Find("KPFileLoadButton")->hasFocus());
  EXPECT_EQ(Find<TabControl>("SSTab1")->CurrentIndex(), 0);
  EXPECT_EQ(Find<TabControl>("SSTab1")->Bar()->tabText(0), QStringLiteral("ｺﾒﾝﾄ一覧"));
  EXPECT_EQ(Find<QProgressBar>("ProgressLoad")->value(), 1);
  EXPECT_EQ(SaveStateForm::Instance(false), nullptr);
}

TEST_F(MainFormTest, LoadShowsPagesTotalsAndPageOne) {
  ControlDocument doc = ThreePages();
  AddRegisterEntry(&doc, u"a.kpe", u"x");
  AddEmbed(&doc.Pages[2], 0);
  Load(Write("three", doc));
  EXPECT_EQ(dialogs_.filters.value(0), QStringLiteral("KPファイル (*.CTL)"));
  EXPECT_EQ(dialogs_.messages, QStringList{QStringLiteral("読込に成功しました。")});
  EXPECT_EQ(AllCounts(), (QStringList{"3", "1", "7", "1", "0", "0", "1", "1"}));
  ASSERT_EQ(Rows("ImageListView"), 3);
  EXPECT_EQ(Cell("ImageListView", 2, 0), QStringLiteral("     3"));
  EXPECT_EQ(Cell("ImageListView", 1, 1), QStringLiteral("●目次"));
  EXPECT_EQ(Cell("ImageListView", 0, 7), QStringLiteral("0.977"));  // 1000 bytes
  EXPECT_TRUE(List("ImageListView")->hasFocus());
  EXPECT_EQ(List("ImageListView")->selectionModel()->selectedRows().value(0).row(), 0);
  EXPECT_EQ(Rows("CommentListView"), 2);  // page 1 without a click
  EXPECT_EQ(Cell("CommentListView", 1, 1), QStringLiteral("-20"));
  EXPECT_TRUE(Find("OutputMDB")->isEnabled());
  QProgressBar* bar = Find<QProgressBar>("ProgressLoad");
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->value(), 1);

  // Page 2 has no comments: the list is cleared; the same row twice adds nothing.
  for (int i = 0; i < 2; ++i) {
    ClickRow(1);
    EXPECT_EQ(Rows("CommentListView"), 0);
    EXPECT_EQ(Rows("KeyWordListView"), 1);
  }
  ClickRow(2);
  EXPECT_EQ(Rows("CommentListView"), 5);
  EXPECT_EQ(Cell("CommentListView", 4, 0), QStringLiteral("    5"));

  // Switching tabs changes no rows; a click below the last row starts nothing.
  TabControl* tabs = Find<TabControl>("SSTab1");
  for (int t : {1, 2, 3, 0}) {
    tabs->SetCurrentIndex(t);
    EXPECT_TRUE(List(kLists[t + 1])->isVisible());
    EXPECT_EQ(Rows("CommentListView"), 5);
    EXPECT_EQ(Rows("KeyWordListView"), 0);
  }
  QTreeView* pages = List("ImageListView");
  QTest::mouseClick(pages->viewport(), Qt::LeftButton, {}, QPoint(10, pages->viewport()->height() - 3));
  EXPECT_EQ(Rows("CommentListView"), 5);
  EXPECT_EQ(dialogs_.messages.size(), 1);
}

TEST_F(MainFormTest, FailedLoadsChangeNothing) {
  const QString good = Write("good", ThreePages());
  ControlDocument other = PlainDocument(2);
  const QString missing_image = Write("missing", other);
  fs::remove(folder_ + "/missing/P2.TIF");
  fs::create_directories(folder_ + "/magic");
  WriteFile(folder_ + "/magic/DEFAULT.CTL", "NOTAKPFILE.....");
  const QString lower = QString::fromStdString(folder_ + "/good/default.ctl");

  // Before any load: a wrong name, a wrong magic, a cancel.
  Load(lower);
  Load(QString::fromStdString(folder_ + "/magic/DEFAULT.CTL"));
  Load(QString());
  EXPECT_EQ(dialogs_.messages,
            (QStringList{"DEFAULT.CTLﾌｧｲﾙのみ受付けます。", "開始コードが異なるのでKPファイルではない可能性があります。",
                         "DEFAULT.CTLﾌｧｲﾙのみ受付けます。"}));
  EXPECT_EQ(Rows("ImageListView"), 0);
  EXPECT_FALSE(Find("OutputMDB")->isEnabled());

  // A good load after a wrong magic, then failures after it.
  Load(good);
  ClickRow(2);
  dialogs_.messages.clear();
  for (const QString& bad : {missing_image, lower, QString::fromStdString(folder_ + "/magic/DEFAULT.CTL")}) {
    Load(bad);
    EXPECT_EQ(Rows("ImageListView"), 3);
    EXPECT_EQ(Rows("CommentListView"), 5);
    EXPECT_EQ(Count("TotalComment"), QStringLiteral("7"));
    EXPECT_TRUE(Find("OutputMDB")->isEnabled());
    EXPECT_EQ(Module1::Document().PageCount, 3);
  }
  EXPECT_EQ(dialogs_.messages.value(0), QStringLiteral("読込に失敗しました。"));
}

TEST_F(MainFormTest, PageWithTheLargestList) {
  ControlDocument doc = PlainDocument(1);
  for (int i = 0; i < 32767; ++i) AddKeyWord(&doc.Pages[0], 1, 2, 3, 4, u"k", u"f");
  Load(Write("big", doc));
  ASSERT_EQ(Rows("KeyWordListView"), 32767);
  EXPECT_EQ(Cell("KeyWordListView", 32766, 0), QStringLiteral("32767"));
  EXPECT_EQ(Count("TotalKeyWord"), QStringLiteral("32767"));
  // Shown whole: the box widens to the left, its right edge where it was.
  const QLabel* count = Find<QLabel>("TotalKeyWord");
  const QLabel* small = Find<QLabel>("TotalPage");
  EXPECT_GE(count->width(), count->fontMetrics().horizontalAdvance(count->text()));
  EXPECT_EQ(count->geometry().right(), small->geometry().right());
}

TEST_F(MainFormTest, LayoutFollowsTheWindow) {
  QWidget* tab = Find("SSTab1");
  auto expect_fits = [&](const char* when) {
    SCOPED_TRACE(when);
    EXPECT_EQ(tab->geometry().right() + 1, form_->width());
    EXPECT_EQ(tab->geometry().bottom() + 1, form_->height());
    EXPECT_EQ(tab->height(), 240);  // 3595 twips read back in pixels
    EXPECT_EQ(List("ImageListView")->width(), tab->width());
    for (const char* l : std::span(kLists).subspan(1)) EXPECT_EQ(List(l)->width(), tab->width() - 8);
    EXPECT_EQ(Find("Frame3")->geometry(), QRect(4, 176, 181, 117));  // the left column stays
  };
  expect_fits("start");
  form_->resize(1000, 700);
  QCoreApplication::processEvents();
  expect_fits("larger");
  form_->resize(10, 10);  // below the minimum: held at it
  QCoreApplication::processEvents();
  EXPECT_EQ(form_->size(), QSize(326, 307));
  expect_fits("minimum");
  form_->showMaximized();
  QCoreApplication::processEvents();
  expect_fits("maximised");
  QRect before = tab->geometry();
  form_->showMinimized();
  QCoreApplication::processEvents();
  EXPECT_EQ(tab->geometry(), before);
  form_->showNormal();
  QCoreApplication::processEvents();
  expect_fits("restored");
}

// Started as a file manager starts it, with a DEFAULT.CTL: loaded without the
// open dialog; then an export, and closing the window ends the program.
TEST_F(MainFormTest, FileNamedAtStartExportThenCloseEndsTheProgram) {
  form_->LoadFile(Write("doc", ThreePages()).toStdString());
  EXPECT_TRUE(dialogs_.filters.isEmpty());
  EXPECT_EQ(dialogs_.messages, QStringList{QStringLiteral("読込に成功しました。")});
  const std::string out = folder_ + "/out.MDB";
  dialogs_.answers.push_back(QString::fromStdString(out));
  dialogs_.messages.clear();
  QTest::mouseClick(Find<QPushButton>("OutputMDB"), Qt::LeftButton);
  EXPECT_EQ(dialogs_.filters, QStringList{QStringLiteral("MDBファイル (*.MDB)")});
  EXPECT_EQ(dialogs_.messages, (QStringList{"保存に成功しました。", "最適化に成功しました。"}));
  EXPECT_TRUE(form_->isEnabled());
  ASSERT_NE(SaveStateForm::Instance(false), nullptr);
  EXPECT_FALSE(SaveStateForm::Instance(false)->isVisible());
  std::unique_ptr<jet::DatabaseReader> db;
  ASSERT_TRUE(jet::DatabaseReader::Open(out, &db).ok());
  jet::TableDef comments;
  std::vector<jet::Row> rows;
  ASSERT_TRUE(db->ReadTableDef(u"一覧_コメント", &comments).ok());
  ASSERT_TRUE(db->ReadRows(comments, &rows).ok());
  EXPECT_EQ(rows.size(), 7u);

  // Closing the window in a running event loop ends it (a time-out would
  // end it too, but without the signal).
  QSignalSpy last(qApp, &QGuiApplication::lastWindowClosed);
  QTimer::singleShot(0, form_.get(), [this] { form_->close(); });
  QTimer::singleShot(10000, qApp, &QCoreApplication::quit);
  QApplication::exec();
  EXPECT_EQ(SaveStateForm::Instance(false), nullptr);
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
  EXPECT_EQ(last.count(), 1);
}

}  // namespace
}  // namespace kp
