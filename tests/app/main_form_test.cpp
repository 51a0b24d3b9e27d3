// The Qt window's own part: controls made from the design, the layout's
// surface in pixels, the lists' models and the widening count labels. What
// the window does is the presenter's (tests/form).
#include "app/qt/main_form.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTreeView>
#include <filesystem>

#include "app/qt/save_state_form.h"
#include "app/qt/tab_control.h"
#include "tests/export/test_docs.h"
#include "tests/support/ctl_writer.h"
#include "tests/support/qt_app.h"

namespace kp {
namespace {

namespace fs = std::filesystem;

class QuietDialogs : public AppDialogs {
 public:
  QString GetOpenFileName(QWidget*, const QString&) override { return {}; }
  QString GetSaveFileName(QWidget*, const QString&) override { return {}; }
  void ShowMessage(QWidget*, const QString& text) override { messages << text; }
  QStringList messages;
};

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestApp();
    Module1::Document() = ControlDocument();
    form_ = std::make_unique<MainForm>(&dialogs_);
    form_->show();
    QApplication::setActiveWindow(form_.get());
    QCoreApplication::processEvents();
  }
  void TearDown() override {
    form_.reset();
    SaveStateForm::Unload();
  }
  template <typename T = QWidget>
  T* Find(ControlId id) {
    T* w = form_->findChild<T*>(QString::fromLatin1(Control(id).name));
    EXPECT_NE(w, nullptr) << Control(id).name;
    return w;
  }
  QTreeView* List(ControlId id) { return Find<QTreeView>(id); }

  QuietDialogs dialogs_;
  std::unique_ptr<MainForm> form_;
};

TEST_F(MainFormTest, MadeFromTheDesign) {
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("ZIriRAV Convert Version 1.0"));
  for (const ControlSpec& c : Controls()) {
    SCOPED_TRACE(c.name);
    QWidget* w = Find(c.id);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->isEnabled(), c.enabled);
    const TwipsRect& r = c.rect;
    const QRect design(TwipsToPixels(r.left), TwipsToPixels(r.top), TwipsToPixels(r.width), TwipsToPixels(r.height));
    if (c.kind == ControlKind::kListView || c.kind == ControlKind::kTabControl) {
      EXPECT_EQ(w->x(), design.x());  // sized by the layout
    } else if (!c.auto_size) {
      EXPECT_EQ(w->geometry(), design);
    }
    if (auto* label = qobject_cast<QLabel*>(w); label && c.caption) {
      EXPECT_EQ(label->text(), QString::fromUtf16(c.caption));
    }
    if (c.kind == ControlKind::kListView) {
      auto columns = ListColumns(c.id);
      QAbstractItemModel* m = List(c.id)->model();
      ASSERT_EQ(m->columnCount(), int(columns.size()));
      EXPECT_EQ(m->rowCount(), 0);
      EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), QString::fromUtf16(columns[0].header));
      EXPECT_EQ(List(c.id)->header()->sectionSize(int(columns.size()) - 1),
                TwipsToPixels(columns.back().width_twips));
    }
  }
  EXPECT_TRUE(Find(ControlId::kKPFileLoadButton)->hasFocus());
  auto* tabs = Find<TabControl>(ControlId::kSSTab1);
  EXPECT_EQ(tabs->CurrentIndex(), 0);
  EXPECT_EQ(tabs->Bar()->tabText(3), QStringLiteral("ﾊｲﾊﾟｰﾘﾝｸ一覧"));
  EXPECT_EQ(Find<QProgressBar>(ControlId::kProgressLoad)->value(), 1);
  EXPECT_EQ(SaveStateForm::Instance(false), nullptr);
}

TEST_F(MainFormTest, LayoutFollowsTheWindow) {
  QWidget* tab = Find(ControlId::kSSTab1);
  auto expect_fits = [&](const char* when) {
    SCOPED_TRACE(when);
    EXPECT_EQ(tab->geometry().right() + 1, form_->width());
    EXPECT_EQ(tab->geometry().bottom() + 1, form_->height());
    EXPECT_EQ(tab->height(), 240);  // 3595 twips read back in pixels
    EXPECT_EQ(List(kPageList)->width(), tab->width());
    for (ControlId l : kDetailLists) EXPECT_EQ(List(l)->width(), tab->width() - 8);
    EXPECT_EQ(Find(ControlId::kFrame3)->geometry(), QRect(4, 176, 181, 117));  // the left column stays
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

// A load through the window: the models show the presenter's rows, the
// largest list whole, a five-digit count in a box widened to the left.
TEST_F(MainFormTest, PageWithTheLargestList) {
  const std::string folder = testing::MakeTempFolder("kp-form");
  ControlDocument doc = testing::PlainDocument(2);
  for (int i = 0; i < 32767; ++i) testing::AddKeyWord(&doc.Pages[0], 1, 2, 3, 4, u"k", u"f");
  form_->Presenter().LoadFile(testing::WriteDocumentFolder(folder + "/big", doc));
  fs::remove_all(folder);
  EXPECT_EQ(dialogs_.messages, QStringList{QStringLiteral("読込に成功しました。")});
  QAbstractItemModel* keywords = List(ControlId::kKeyWordListView)->model();
  ASSERT_EQ(keywords->rowCount(), 32767);
  EXPECT_EQ(keywords->data(keywords->index(32766, 0)).toString(), QStringLiteral("32767"));
  EXPECT_EQ(List(kPageList)->model()->data(List(kPageList)->model()->index(1, 0)).toString(),
            QStringLiteral("     2"));
  EXPECT_TRUE(List(kPageList)->hasFocus());
  EXPECT_TRUE(Find(ControlId::kOutputMDB)->isEnabled());
  const QLabel* count = Find<QLabel>(ControlId::kTotalKeyWord);
  const QLabel* small = Find<QLabel>(ControlId::kTotalPage);
  EXPECT_EQ(count->text(), QStringLiteral("32767"));
  EXPECT_GE(count->width(), count->fontMetrics().horizontalAdvance(count->text()));
  EXPECT_EQ(count->geometry().right(), small->geometry().right());
}

}  // namespace
}  // namespace kp
