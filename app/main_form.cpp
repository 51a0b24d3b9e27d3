#include "app/main_form.h"

#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <algorithm>
#include <cmath>

#include "app/app_fonts.h"
#include "form/form_layout.h"
#include "app/list_models.h"
#include "app/qt_export_ui.h"
#include "app/save_state_form.h"
#include "app/tab_control.h"
#include "ctl/load_command.h"
#include "export/export_command.h"
#include "inspect/page_list.h"

namespace kp {

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int Px(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }
QRect PxRect(int left, int top, int width, int height) {
  return QRect(Px(left), Px(top), Px(width), Px(height));
}
QString Q(const char16_t* s) { return QString::fromUtf16(s); }

inline const char16_t kLoadDialogFilter[] = u"KPファイル (*.CTL)|*.CTL";

enum class Frame { kFrame1, kFrame2, kFrame3, kFrame4 };

struct FrameSpec {
  const char* name;
  const char16_t* caption;
  int left, top, width, height;
};
// In tab order; the indexes are those of enum Frame.
constexpr FrameSpec kFrames[] = {
    {"Frame1", u"ﾌｧｲﾙ読込", 60, 60, 2715, 945},
    {"Frame2", u"ﾌｧｲﾙ出力", 60, 1080, 2715, 675},
    {"Frame3", u"総合情報", 60, 2640, 2715, 1755},
    {"Frame4", u"埋め込みﾌｧｲﾙ情報", 60, 1800, 2715, 795},
};

// Caption labels: centred text; the auto-sized ones fit their text and keep
// the frame's centre line.
struct LabelSpec {
  const char* name;
  Frame frame;
  const char16_t* caption;
  int left, top, width, height;
  bool auto_size;
};
constexpr LabelSpec kLabels[] = {
    {"Label1", Frame::kFrame3, u"ﾍﾟｰｼﾞ", 810, 240, 420, 180, true},
    {"Label3", Frame::kFrame3, u"ﾀｸﾞ", 900, 480, 240, 180, true},
    {"Label5", Frame::kFrame3, u"ｺﾒﾝﾄ", 120, 720, 1800, 180, false},
    {"Label4", Frame::kFrame4, u"登録ﾌｧｲﾙ総数", 480, 285, 1140, 180, false},
    {"Label6", Frame::kFrame4, u"使用回数", 660, 525, 720, 180, false},
    {"Label7", Frame::kFrame3, u"ｷｰﾜｰﾄﾞ", 120, 960, 1800, 180, false},
    {"Label9", Frame::kFrame3, u"範囲ﾏｰｸ", 120, 1200, 1800, 180, false},
    {"Label11", Frame::kFrame3, u"ﾊｲﾊﾟｰﾘﾝｸ", 120, 1440, 1800, 180, false},
};
constexpr int kFrame3CentreLine = 1020;

// Count labels, in the order the load sets them; each right-aligned in the
// box from 1980 to 2580 of its frame.
struct CountSpec {
  const char* name;
  Frame frame;
  int top;
};
constexpr CountSpec kCounts[] = {
    {"TotalKPE", Frame::kFrame4, 240},     {"TotalSetKPE", Frame::kFrame4, 480},
    {"TotalPage", Frame::kFrame3, 210},    {"TotalTag", Frame::kFrame3, 450},
    {"TotalComment", Frame::kFrame3, 690}, {"TotalKeyWord", Frame::kFrame3, 930},
    {"TotalSquare", Frame::kFrame3, 1170}, {"TotalHyperLink", Frame::kFrame3, 1410},
};

// The box a count label is laid out in (wider when its count needs it).
QRect CountBox(const CountSpec& s) { return PxRect(1980, s.top, 600, 240); }

struct DetailSpec {
  const char* name;
  const char16_t* tab;
  int height;
};
constexpr DetailSpec kDetails[kDetailListCount] = {
    {"CommentListView", u"ｺﾒﾝﾄ一覧", 1965},
    {"KeyWordListView", u"ｷｰﾜｰﾄﾞ一覧", 2115},
    {"SquareListView", u"範囲ﾏｰｸ一覧", 2115},
    {"HyperLinkListView", u"ﾊｲﾊﾟｰﾘﾝｸ一覧", 2115},
};

void PaintButtonFace(QPushButton* button, QColor face) {
  QPalette palette = button->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    palette.setColor(group, QPalette::Button, face);
  }
  button->setPalette(palette);
  button->setAutoFillBackground(true);
}

QIcon WindowIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) {
    icon.addFile(QStringLiteral(":/icons/zirirav-convert-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace

// The window and its controls in twips for the layout. The outer size is
// the client size plus the design frame, so the tab control ends exactly at
// the client area's right and bottom edges whatever frame is drawn.
class MainForm::Surface final : public LayoutSurface {
 public:
  explicit Surface(MainForm* form) : form_(form) {}

  LayoutWindowState State() const override {
    if (form_->isMinimized()) return LayoutWindowState::kMinimized;
    return form_->isMaximized() ? LayoutWindowState::kMaximized : LayoutWindowState::kNormal;
  }
  float OuterWidth() const override {
    return float(form_->width() * kTwipsPerPixel + kDesignFrameWidthTwips);
  }
  float OuterHeight() const override {
    return float(form_->height() * kTwipsPerPixel + kDesignFrameHeightTwips);
  }
  void SetOuterWidth(float width) override {
    form_->resize(Pixels(width - kDesignFrameWidthTwips, true), form_->height());
    form_->Form_Resize();  // the size change runs the layout, nested
  }
  void SetOuterHeight(float height) override {
    form_->resize(form_->width(), Pixels(height - kDesignFrameHeightTwips, true));
    form_->Form_Resize();
  }
  float Get(LayoutControl c, LayoutProperty p) const override {
    QRect r = Widget(c)->geometry();
    int px = 0;
    switch (p) {
      case LayoutProperty::kLeft: px = r.x(); break;
      case LayoutProperty::kTop: px = r.y(); break;
      case LayoutProperty::kWidth: px = r.width(); break;
      case LayoutProperty::kHeight: px = r.height(); break;
    }
    return float(px * kTwipsPerPixel);
  }
  void Set(LayoutControl c, LayoutProperty p, float value) override {
    QWidget* w = Widget(c);
    QRect r = w->geometry();
    int px = Pixels(value, false);
    switch (p) {
      case LayoutProperty::kLeft: r.moveLeft(px); break;
      case LayoutProperty::kTop: r.moveTop(px); break;
      // A platform that keeps the window below the minimum gives no
      // negative sizes: they stop at zero.
      case LayoutProperty::kWidth: r.setWidth(std::max(0, px)); break;
      case LayoutProperty::kHeight: r.setHeight(std::max(0, px)); break;
    }
    w->setGeometry(r);
  }

 private:
  // Twips to whole pixels; a window size rounds up so that it is never
  // below what was asked for.
  static int Pixels(float twips, bool round_up) {
    float px = twips / kTwipsPerPixel;
    return int(round_up ? std::ceil(px) : std::lround(px));
  }
  QWidget* Widget(LayoutControl c) const {
    switch (c) {
      case LayoutControl::kSSTab1: return form_->SSTab1_;
      case LayoutControl::kCommentListView: return form_->detail_views_[0];
      case LayoutControl::kKeyWordListView: return form_->detail_views_[1];
      case LayoutControl::kSquareListView: return form_->detail_views_[2];
      case LayoutControl::kHyperLinkListView: return form_->detail_views_[3];
      case LayoutControl::kImageListView: break;
    }
    return form_->ImageListView_;
  }

  MainForm* form_;
};

MainForm::MainForm(AppDialogs* dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), dialogs_(dialogs ? dialogs : PlatformDialogs()) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("ZIriRAV Convert Version 1.0"));
  setWindowIcon(WindowIcon());
  setFont(WindowFont());
  resize(kClientWidth, kClientHeight);
  // The layout's minimum outer size, in whole pixels of client area.
  setMinimumSize(int(std::ceil(float(kMinimumOuterWidth - kDesignFrameWidthTwips) / kTwipsPerPixel)),
                 int(std::ceil(float(kMinimumOuterHeight - kDesignFrameHeightTwips) / kTwipsPerPixel)));
  CreateControls();
  Form_Load();
}

MainForm::~MainForm() = default;

QTreeView* MainForm::CreateList(const char* name, QWidget* parent, QAbstractItemModel* model,
                                std::span<const ListColumn> columns, bool tinted) {
  auto* view = new QTreeView(parent);
  view->setObjectName(QString::fromLatin1(name));
  view->setModel(model);
  view->setRootIsDecorated(false);
  view->setItemsExpandable(false);
  view->setUniformRowHeights(true);
  view->setAllColumnsShowFocus(true);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setSortingEnabled(false);
  view->setFont(ListFont());
  QHeaderView* header = view->header();
  header->setStretchLastSection(false);
  header->setSectionsMovable(false);
  header->setSectionsClickable(false);
  header->setSectionResizeMode(QHeaderView::Fixed);
  header->setFont(ListFont());
  for (size_t c = 0; c < columns.size(); ++c) header->resizeSection(int(c), Px(columns[c].width_twips));
  if (tinted) {
    QPalette palette = view->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
      palette.setColor(group, QPalette::Base, QColor(224, 255, 255));
    }
    view->setPalette(palette);
  }
  return view;
}

void MainForm::CreateControls() {
  std::array<QGroupBox*, 4> frames{};
  auto make_frame = [&](Frame f) {
    const FrameSpec& s = kFrames[int(f)];
    auto* box = new QGroupBox(Q(s.caption), this);
    box->setObjectName(QString::fromLatin1(s.name));
    box->setGeometry(PxRect(s.left, s.top, s.width, s.height));
    // The frame's line runs through the middle of its caption, as on the
    // desktop the design was drawn for, so the first row of controls (16 px
    // down) sits inside it.
    box->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 0px; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 6px; top: 0px; padding: 0px 2px; }"));
    frames[size_t(f)] = box;
  };

  // Created in tab order, which is also the focus order.
  make_frame(Frame::kFrame1);
  KPFileLoadButton_ = new QPushButton(Q(u"KPファイル読込"), frames[0]);
  KPFileLoadButton_->setObjectName(QStringLiteral("KPFileLoadButton"));
  KPFileLoadButton_->setGeometry(PxRect(60, 240, 2595, 375));
  PaintButtonFace(KPFileLoadButton_, QColor(255, 255, 192));
  ProgressLoad_ = new QProgressBar(frames[0]);
  ProgressLoad_->setObjectName(QStringLiteral("ProgressLoad"));
  ProgressLoad_->setGeometry(PxRect(60, 630, 2595, 255));
  ProgressLoad_->setRange(1, 100);
  ProgressLoad_->setValue(1);
  ProgressLoad_->setTextVisible(false);

  make_frame(Frame::kFrame3);
  make_frame(Frame::kFrame4);
  for (const LabelSpec& s : kLabels) {
    auto* label = new QLabel(Q(s.caption), frames[size_t(s.frame)]);
    label->setObjectName(QString::fromLatin1(s.name));
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(PxRect(s.left, s.top, s.width, s.height));
    if (s.auto_size) {
      int width = label->fontMetrics().horizontalAdvance(label->text());
      label->setGeometry(Px(kFrame3CentreLine) - width / 2, Px(s.top), width, Px(s.height));
    }
  }
  for (size_t i = 0; i < std::size(kCounts); ++i) {
    const CountSpec& s = kCounts[i];
    auto* label = new QLabel(QStringLiteral("0"), frames[size_t(s.frame)]);
    label->setObjectName(QString::fromLatin1(s.name));
    label->setFont(CountFont());
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setGeometry(CountBox(s));
    totals_[i] = label;
  }

  page_model_ = new PageListModel(&Module1::Document(), this);
  for (int i = 0; i < kDetailListCount; ++i) detail_models_[size_t(i)] = new DetailListModel(DetailList(i), this);

  ImageListView_ = CreateList("ImageListView", this, page_model_, PageListColumns(), false);
  ImageListView_->setGeometry(PxRect(2820, 60, 8535, 6255));
  SSTab1_ = new TabControl(this);
  SSTab1_->setObjectName(QStringLiteral("SSTab1"));
  SSTab1_->setGeometry(PxRect(2820, 6360, 8610, 2505));
  for (int i = 0; i < kDetailListCount; ++i) {
    const DetailSpec& s = kDetails[i];
    QTreeView* view = CreateList(s.name, SSTab1_, detail_models_[size_t(i)],
                                 DetailListColumns(DetailList(i)), true);
    view->setGeometry(PxRect(60, 360, 8475, s.height));
    SSTab1_->AddTab(Q(s.tab), view);
    detail_views_[size_t(i)] = view;
  }
  SSTab1_->SetCurrentIndex(0);

  make_frame(Frame::kFrame2);
  OutputMDB_ = new QPushButton(Q(u"MDBファイル出力"), frames[1]);
  OutputMDB_->setObjectName(QStringLiteral("OutputMDB"));
  OutputMDB_->setGeometry(PxRect(60, 240, 2595, 375));
  PaintButtonFace(OutputMDB_, QColor(192, 255, 192));
  OutputMDB_->setEnabled(false);

  QWidget* order[] = {KPFileLoadButton_, ImageListView_, SSTab1_->Bar(), detail_views_[0],
                      detail_views_[1],  detail_views_[2], detail_views_[3], OutputMDB_};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

  connect(KPFileLoadButton_, &QPushButton::clicked, this, &MainForm::KPFileLoadButton_Click);
  connect(OutputMDB_, &QPushButton::clicked, this, &MainForm::OutputMDB_Click);
  // An item click: a row clicked with the mouse, or chosen with the keys.
  connect(ImageListView_, &QTreeView::clicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) ImageListView_ItemClick();
  });
  connect(ImageListView_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (!selecting_ && current.isValid() && ImageListView_->hasFocus() &&
                !(QGuiApplication::mouseButtons() & Qt::LeftButton)) {
              ImageListView_ItemClick();
            }
          });
  KPFileLoadButton_->setFocus();
}

void MainForm::Form_Load() { Form_Resize(); }

void MainForm::Form_Resize() {
  if (!SSTab1_ || layout_depth_ >= 2) return;  // a nested run at most
  ++layout_depth_;
  Surface surface(this);
  RunFormLayout(&surface);
  --layout_depth_;
}

void MainForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Form_Resize();
}

void MainForm::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) Form_Resize();
}

void MainForm::closeEvent(QCloseEvent* event) {
  SaveStateForm::Unload();
  event->accept();
}

void MainForm::ImageListView_ItemClick() { PageInfoUpDate(); }

void MainForm::PageInfoUpDate() {
  QModelIndex current = ImageListView_->selectionModel()->currentIndex();
  bool selected = current.isValid() && ImageListView_->selectionModel()->isRowSelected(current.row());
  std::u16string text = selected ? page_model_->RowText(current.row()) : std::u16string();
  auto tables = PageDetails(Module1::Document(), text);
  for (int i = 0; i < kDetailListCount; ++i) detail_models_[size_t(i)]->SetTable(tables[size_t(i)]);
}

void MainForm::SetTotals() {
  auto labels = TotalLabels(ComputeTotals(Module1::Document()));
  for (size_t i = 0; i < labels.size(); ++i) {
    QLabel* label = totals_[i];
    label->setText(QString::number(labels[i].second));
    // A count wider than its box (five digits and more) widens it to the
    // left, its right edge kept, rather than losing its first digits.
    const QRect box = CountBox(kCounts[i]);
    const int width = std::max(box.width(), label->fontMetrics().horizontalAdvance(label->text()) + 2);
    label->setGeometry(box.right() + 1 - width, box.top(), width, box.height());
  }
}

void MainForm::KPFileLoadButton_Click() {
  QString path = dialogs_->GetOpenFileName(this, QtNameFilter(kLoadDialogFilter));
  LoadFile(QFile::encodeName(path).toStdString());
}

void MainForm::LoadFile(const std::string& path) {
  // The file is read into a fresh document; the current one, the page list
  // and the totals change together, and only when the whole load succeeded.
  ControlDocument fresh;
  FileSystemImageSizer sizer;
  LoadResult result = LoadControlFile(path, &sizer, &fresh);
  if (!result.ok()) {
    dialogs_->ShowMessage(this, Q(result.message()));
    return;
  }
  const int pages = int(fresh.Pages.size());
  ProgressLoad_->setRange(1, std::max(1, pages));
  ProgressLoad_->setValue(1);
  page_model_->Replace([&] { Module1::Document() = std::move(fresh); });
  // The rows are there at once; the bar still counts them, in steps a
  // person can see.
  const int step = std::max(1, pages / 200);
  for (int n = 1; n <= pages; n += step) ProgressLoad_->setValue(n);
  ProgressLoad_->setValue(pages);

  selecting_ = true;
  QModelIndex first = page_model_->index(0, 0);
  ImageListView_->selectionModel()->setCurrentIndex(
      first, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  ImageListView_->scrollToTop();
  ImageListView_->setFocus();
  selecting_ = false;
  PageInfoUpDate();
  SetTotals();
  ProgressLoad_->setRange(1, 100);
  ProgressLoad_->setValue(1);
  dialogs_->ShowMessage(this, Q(result.message()));
  OutputMDB_->setEnabled(true);
}

void MainForm::OutputMDB_Click() {
  QtExportUi ui(this, dialogs_);
  DefaultExportCommand().Run(Module1::Document(), &ui);
}

}  // namespace kp
