#include "app/qt/save_state_form.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/qt/qt_export_ui.h"
#include "tests/export/fake_engine.h"
#include "tests/export/test_docs.h"
#include "tests/support/ctl_writer.h"
#include "tests/support/qt_app.h"

namespace kp {
namespace {

namespace fs = std::filesystem;

// Answers every modal message box with OK while it lives and remembers what
// they showed.
class MessageWatcher {
 public:
  MessageWatcher() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->isVisible()) return;
      texts << box->text();
      plain = plain && box->icon() == QMessageBox::NoIcon &&
              box->standardButtons() == QMessageBox::Ok &&
              box->windowTitle() == QStringLiteral("ZIriRAV Convert");
      box->accept();
    });
    timer_.start();
  }

  QStringList texts;
  bool plain = true;  // no icon, OK only, the program's title

 private:
  QTimer timer_;
};

class SaveStateFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestApp();
    SaveStateForm::Unload();
  }
  void TearDown() override { SaveStateForm::Unload(); }
};

TEST_F(SaveStateFormTest, CreatedOnFirstUseWithItsDesignProperties) {
  EXPECT_EQ(SaveStateForm::Instance(false), nullptr);
  SaveStateForm* form = SaveStateForm::Instance(true);
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(SaveStateForm::Instance(true), form);
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->minimumSize(), form->maximumSize());  // cannot be resized
  Qt::WindowFlags flags = form->windowFlags();
  EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(form->parentWidget(), nullptr);
  QProgressBar* bar = form->findChild<QProgressBar*>(QStringLiteral("ProgressSave"));
  ASSERT_EQ(bar, form->Bar());
  EXPECT_EQ(bar->geometry(), form->rect());
  EXPECT_EQ(bar->minimum(), 1);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->value(), 1);
}

TEST_F(SaveStateFormTest, BarKeepsItsMinimumForOddRanges) {
  SaveStateForm* form = SaveStateForm::Instance(true);
  form->SetMax(0);  // an empty page list
  form->SetValue(5);
  EXPECT_EQ(form->Max(), 0.0f);
  EXPECT_EQ(form->Bar()->minimum(), 1);
  EXPECT_EQ(form->Bar()->maximum(), 1);
  EXPECT_EQ(form->Bar()->value(), 1);
  form->SetMax(3e10f);
  form->SetValue(2);
  EXPECT_EQ(form->Bar()->value(), 2);
}

TEST_F(SaveStateFormTest, ExportShowsThenHidesAndKeepsTheWindow) {
  const fs::path folder = testing::MakeTempFolder("kp-app");
  std::ofstream(folder / "KP.dbd") << "T";
  auto log = std::make_shared<testing::FakeLog>();
  ExportCommand command(folder.string(), [log] { return std::make_unique<testing::FakeEngine>(log); });

  QWidget main_window;
  main_window.show();
  const std::string output = (folder / "out.mdb").string();
  QString filter_seen;
  bool disabled_while_writing = false;
  QtExportUi ui(&main_window, [&](QWidget*, const QString& qt_filter) {
    filter_seen = qt_filter;
    return QString::fromStdString(output);
  });

  // While rows are written: the window is up with a table's caption and the
  // main window refuses input.
  log->on_update = [&] {
    SaveStateForm* form = SaveStateForm::Instance(false);
    disabled_while_writing = !main_window.isEnabled() && form && form->isVisible() &&
                             form->windowTitle().startsWith(QStringLiteral("変換状況 …"));
  };
  log->fail_column = u"Text";  // fails in the comments table
  ControlDocument doc = testing::PlainDocument(2);
  testing::AddComment(&doc.Pages[1], 1, 2, 3, u"c");
  MessageWatcher messages;
  ExportResult r = command.Run(doc, &ui);
  EXPECT_EQ(r.outcome, ExportOutcome::kSaveFailed);
  EXPECT_EQ(messages.texts, QStringList{QStringLiteral("保存に失敗しました。")});
  EXPECT_TRUE(messages.plain);
  EXPECT_TRUE(disabled_while_writing);
  EXPECT_EQ(filter_seen, QStringLiteral("MDBファイル (*.MDB)"));

  SaveStateForm* form = SaveStateForm::Instance(false);
  ASSERT_NE(form, nullptr);  // shown once, then hidden and kept
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->windowTitle(), QStringLiteral("変換状況"));
  EXPECT_EQ(form->Max(), 100.0f);
  EXPECT_EQ(form->Value(), 1.0f);
  EXPECT_TRUE(main_window.isEnabled());

  // A successful export reuses the same window and shows both messages.
  log->fail_column.reset();
  messages.texts.clear();
  r = command.Run(doc, &ui);
  EXPECT_EQ(r.outcome, ExportOutcome::kSavedAndCompacted) << r.cause.ToString();
  EXPECT_EQ(messages.texts, (QStringList{QStringLiteral("保存に成功しました。"),
                                         QStringLiteral("最適化に成功しました。")}));
  EXPECT_EQ(SaveStateForm::Instance(false), form);
  EXPECT_FALSE(form->isVisible());

  SaveStateForm::Unload();
  EXPECT_EQ(SaveStateForm::Instance(false), nullptr);
  SaveStateForm::Unload();  // nothing left to unload
  fs::remove_all(folder);
}

TEST_F(SaveStateFormTest, FailureBeforeShowingCreatesNoWindow) {
  QtExportUi ui(nullptr, [](QWidget*, const QString&) { return QString(); });  // cancelled
  ExportCommand command("/nonexistent", {});
  MessageWatcher messages;
  EXPECT_EQ(command.Run(testing::PlainDocument(1), &ui).outcome, ExportOutcome::kSaveFailed);
  EXPECT_EQ(SaveStateForm::Instance(false), nullptr);
  EXPECT_EQ(messages.texts.size(), 1);
}

TEST(QtNameFilterTest, PairsBecomeQtFilters) {
  EXPECT_EQ(QtNameFilter(u"MDBファイル|*.MDB"), QStringLiteral("MDBファイル (*.MDB)"));
  EXPECT_EQ(QtNameFilter(u"KPファイル (*.CTL)|*.CTL|All|*.a;*.b"),
            QStringLiteral("KPファイル (*.CTL);;All (*.a *.b)"));
}

}  // namespace
}  // namespace kp
