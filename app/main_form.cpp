#include "app/main_form.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QVBoxLayout>

#include "app/qt_export_ui.h"
#include "app/save_state_form.h"
#include "ctl/load_command.h"
#include "export/export_command.h"

namespace kp {

namespace {
QString Q(const std::u16string& s) { return QString::fromUtf16(s.data(), qsizetype(s.size())); }

const char16_t* const kColumnHeaders[8] = {u"ﾍﾟｰｼﾞ", u"ﾀｸﾞ名", u"ｺﾒﾝﾄ", u"ｷｰﾜｰﾄﾞ",
                                           u"範囲ﾏｰｸ", u"ﾊｲﾊﾟｰﾘﾝｸ", u"ﾌｧｲﾙ名", u"ｻｲｽﾞ(KB)"};
const char16_t* const kTotalCaptions[8] = {u"埋込ﾌｧｲﾙ", u"埋込設定", u"ﾍﾟｰｼﾞ", u"ﾀｸﾞ",
                                           u"ｺﾒﾝﾄ", u"ｷｰﾜｰﾄﾞ", u"範囲ﾏｰｸ", u"ﾊｲﾊﾟｰﾘﾝｸ"};
}  // namespace

MainForm::MainForm(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("ZIriRAV Convert Version 1.0"));
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);

  auto* buttons = new QHBoxLayout();
  KPFileLoadButton_ = new QPushButton(Q(u"KPファイル読込"), central);
  OutputMDB_ = new QPushButton(Q(u"MDB出力"), central);
  OutputMDB_->setEnabled(false);
  buttons->addWidget(KPFileLoadButton_);
  buttons->addWidget(OutputMDB_);
  buttons->addStretch();
  layout->addLayout(buttons);

  ImageListView_ = new QTreeWidget(central);
  ImageListView_->setRootIsDecorated(false);
  ImageListView_->setUniformRowHeights(true);
  QStringList headers;
  for (const char16_t* h : kColumnHeaders) headers << Q(h);
  ImageListView_->setHeaderLabels(headers);
  layout->addWidget(ImageListView_, 1);

  auto* frame = new QGroupBox(Q(u"合計"), central);
  auto* grid = new QGridLayout(frame);
  for (int i = 0; i < 8; ++i) {
    grid->addWidget(new QLabel(Q(kTotalCaptions[i]), frame), i / 4, (i % 4) * 2);
    totals_[i] = new QLabel(QStringLiteral("0"), frame);
    totals_[i]->setMinimumWidth(60);
    grid->addWidget(totals_[i], i / 4, (i % 4) * 2 + 1);
  }
  layout->addWidget(frame);
  setCentralWidget(central);
  resize(900, 600);

  connect(KPFileLoadButton_, &QPushButton::clicked, this, &MainForm::KPFileLoadButton_Click);
  connect(OutputMDB_, &QPushButton::clicked, this, &MainForm::OutputMDB_Click);
  KPFileLoadButton_->setFocus();
}

void MainForm::KPFileLoadButton_Click() {
  QString path = QFileDialog::getOpenFileName(this, QString(), QString(), Q(u"KPファイル (*.CTL)"));
  LoadResult result = LoadControlFile(QFile::encodeName(path).toStdString());
  if (result.ok()) {
    FillPageList();
    OutputMDB_->setEnabled(true);
  }
  ShowAppMessage(this, Q(result.message()));
}

void MainForm::FillPageList() {
  const ControlDocument& doc = Module1::Document();
  ImageListView_->clear();
  QList<QTreeWidgetItem*> items;
  items.reserve(qsizetype(doc.Pages.size()));
  for (size_t i = 0; i < doc.Pages.size(); ++i) {
    PageRowTexts row = PageRow(doc.Pages[i], int64_t(i) + 1);
    QStringList texts;
    for (const auto& t : row) texts << Q(t);
    items << new QTreeWidgetItem(texts);
  }
  ImageListView_->addTopLevelItems(items);
  if (!items.isEmpty()) ImageListView_->setCurrentItem(items.first());
  ImageListView_->setFocus();
  auto labels = TotalLabels(ComputeTotals(doc));
  for (size_t i = 0; i < labels.size(); ++i) totals_[i]->setText(QString::number(labels[i].second));
}

void MainForm::OutputMDB_Click() {
  QtExportUi ui(this);
  DefaultExportCommand().Run(Module1::Document(), &ui);
}

void MainForm::closeEvent(QCloseEvent* event) {
  SaveStateForm::Unload();
  event->accept();
}

}  // namespace kp
