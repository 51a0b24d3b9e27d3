#include "app/qt/main_form.h"

#include <QCloseEvent>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <algorithm>
#include <cmath>

#include "app/qt/app_fonts.h"
#include "app/qt/list_model.h"
#include "app/qt/qt_export_ui.h"
#include "app/qt/save_state_form.h"
#include "app/qt/tab_control.h"
#include "form/form_layout.h"

namespace kp {

namespace {

constexpr int kTwipsPerPixel = 15;
QRect PxRect(const TwipsRect& r) {
  return QRect(TwipsToPixels(r.left), TwipsToPixels(r.top), TwipsToPixels(r.width), TwipsToPixels(r.height));
}
QString Q(const char16_t* s) { return QString::fromUtf16(s); }
QColor Colour(Rgb c) { return QColor(c.r, c.g, c.b); }

void SetPaletteColour(QWidget* w, QPalette::ColorRole role, QColor colour) {
  QPalette palette = w->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    palette.setColor(group, role, colour);
  }
  w->setPalette(palette);
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
    form_->presenter_->Form_Resize();  // the size change runs the layout, nested
  }
  void SetOuterHeight(float height) override {
    form_->resize(form_->width(), Pixels(height - kDesignFrameHeightTwips, true));
    form_->presenter_->Form_Resize();
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
      case LayoutControl::kSSTab1: return form_->Widget(ControlId::kSSTab1);
      case LayoutControl::kCommentListView: return form_->Widget(ControlId::kCommentListView);
      case LayoutControl::kKeyWordListView: return form_->Widget(ControlId::kKeyWordListView);
      case LayoutControl::kSquareListView: return form_->Widget(ControlId::kSquareListView);
      case LayoutControl::kHyperLinkListView: return form_->Widget(ControlId::kHyperLinkListView);
      case LayoutControl::kImageListView: break;
    }
    return form_->Widget(ControlId::kImageListView);
  }

  MainForm* form_;
};

MainForm::MainForm(AppDialogs* dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window),
      dialogs_(dialogs ? dialogs : PlatformDialogs()),
      presenter_(std::make_unique<MainPresenter>(this)),
      export_ui_(std::make_unique<QtExportUi>(this, dialogs_)),
      surface_(std::make_unique<Surface>(this)) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(Q(kMainFormCaption));
  setWindowIcon(WindowIcon());
  setFont(FormFont(FontRole::kWindow));
  resize(kClientWidth, kClientHeight);
  // The layout's minimum outer size, in whole pixels of client area.
  setMinimumSize(int(std::ceil(float(kMinimumOuterWidth - kDesignFrameWidthTwips) / kTwipsPerPixel)),
                 int(std::ceil(float(kMinimumOuterHeight - kDesignFrameHeightTwips) / kTwipsPerPixel)));
  CreateControls();
  presenter_->Form_Load();
}

MainForm::~MainForm() = default;

QTreeView* MainForm::CreateList(const ControlSpec& design, QWidget* parent) {
  auto* model = new FormListModel(
      design.id, [this, id = design.id](int row, int column) { return presenter_->CellText(id, row, column); },
      this);
  models_[size_t(design.id)] = model;
  auto* view = new QTreeView(parent);
  view->setModel(model);
  view->setRootIsDecorated(false);
  view->setItemsExpandable(false);
  view->setUniformRowHeights(true);
  view->setAllColumnsShowFocus(true);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setSortingEnabled(false);
  view->setFont(FormFont(design.font));
  QHeaderView* header = view->header();
  header->setStretchLastSection(false);
  header->setSectionsMovable(false);
  header->setSectionsClickable(false);
  header->setSectionResizeMode(QHeaderView::Fixed);
  header->setFont(FormFont(design.font));
  auto columns = ListColumns(design.id);
  for (size_t c = 0; c < columns.size(); ++c) header->resizeSection(int(c), TwipsToPixels(columns[c].width_twips));
  if (design.colour) SetPaletteColour(view, QPalette::Base, Colour(*design.colour));
  return view;
}

void MainForm::CreateControls() {
  // Created in tab order, which is also the focus order.
  std::vector<QWidget*> focus_order;
  for (const ControlSpec& design : Controls()) {
    QWidget* parent = design.container == ControlId::kMainForm ? this : Widget(design.container);
    QWidget* w = nullptr;
    switch (design.kind) {
      case ControlKind::kFrame: {
        auto* box = new QGroupBox(Q(design.caption), parent);
        // The frame's line runs through the middle of its caption, as on the
        // desktop the design was drawn for, so the first row of controls (16
        // px down) sits inside it.
        box->setStyleSheet(QStringLiteral(
            "QGroupBox { border: 1px solid palette(mid); border-radius: 0px; margin-top: 6px; }"
            "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
            " left: 6px; top: 0px; padding: 0px 2px; }"));
        w = box;
        break;
      }
      case ControlKind::kButton: {
        auto* button = new QPushButton(Q(design.caption), parent);
        if (design.colour) {
          SetPaletteColour(button, QPalette::Button, Colour(*design.colour));
          button->setAutoFillBackground(true);
        }
        connect(button, &QPushButton::clicked, this, [this, id = design.id] {
          if (id == ControlId::kKPFileLoadButton) presenter_->KPFileLoadButton_Click();
          if (id == ControlId::kOutputMDB) presenter_->OutputMDB_Click();
        });
        w = button;
        focus_order.push_back(w);
        break;
      }
      case ControlKind::kProgressBar: {
        auto* bar = new QProgressBar(parent);
        bar->setRange(1, 100);
        bar->setValue(1);
        bar->setTextVisible(false);
        w = bar;
        break;
      }
      case ControlKind::kLabel: {
        auto* label = new QLabel(Q(design.caption), parent);
        label->setAlignment(design.align == TextAlign::kRight ? Qt::AlignRight | Qt::AlignVCenter
                                                            : Qt::AlignCenter);
        if (design.font != FontRole::kWindow) label->setFont(FormFont(design.font));
        w = label;
        break;
      }
      case ControlKind::kListView: {
        QTreeView* view = CreateList(design, parent);
        if (auto* tabs = dynamic_cast<TabControl*>(parent)) {
          for (const TabSpec& tab : Tabs()) {
            if (tab.list == design.id) tabs->AddTab(Q(tab.caption), view);
          }
        }
        w = view;
        focus_order.push_back(w);
        break;
      }
      case ControlKind::kTabControl: {
        auto* tabs = new TabControl(parent);
        w = tabs;
        focus_order.push_back(tabs->Bar());
        break;
      }
    }
    w->setObjectName(QString::fromLatin1(design.name));
    w->setGeometry(PxRect(design.rect));
    if (design.auto_size) {
      // Sized to its text, on the frame's centre line.
      int width = w->fontMetrics().horizontalAdvance(Q(design.caption));
      w->setGeometry(TwipsToPixels(kFrame3CentreLine) - width / 2, TwipsToPixels(design.rect.top), width,
                     TwipsToPixels(design.rect.height));
    }
    w->setEnabled(design.enabled);
    widgets_[size_t(design.id)] = w;
  }
  static_cast<TabControl*>(Widget(ControlId::kSSTab1))->SetCurrentIndex(0);
  for (size_t i = 0; i + 1 < focus_order.size(); ++i) setTabOrder(focus_order[i], focus_order[i + 1]);

  // An item click: a row clicked with the mouse. A selection moved without
  // a click (dragged with the button held, or by the keys) is reported too.
  QTreeView* pages = List(kPageList);
  connect(pages, &QTreeView::clicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) presenter_->ImageListView_ItemClick();
  });
  connect(pages->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { presenter_->ImageListView_SelectionChanged(); });
  Widget(ControlId::kKPFileLoadButton)->setFocus();
}

QTreeView* MainForm::List(ControlId id) const { return static_cast<QTreeView*>(Widget(id)); }
FormListModel* MainForm::Model(ControlId list) const { return models_[size_t(list)]; }

void MainForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  presenter_->Form_Resize();
}

void MainForm::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) presenter_->Form_Resize();
}

void MainForm::closeEvent(QCloseEvent* event) {
  presenter_->Form_Unload();
  event->accept();
}

void MainForm::SetListRows(ControlId list, int rows) {
  if (FormListModel* model = Model(list)) model->SetRows(rows);
}

void MainForm::SelectRow(ControlId list, int row) {
  QTreeView* view = List(list);
  QModelIndex index = view->model()->index(row, 0);
  view->selectionModel()->setCurrentIndex(index,
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  view->scrollTo(index);
}

int MainForm::SelectedRow(ControlId list) const {
  QItemSelectionModel* selection = List(list)->selectionModel();
  QModelIndex current = selection->currentIndex();
  return current.isValid() && selection->isRowSelected(current.row()) ? current.row() : -1;
}

void MainForm::Focus(ControlId control) { Widget(control)->setFocus(); }

void MainForm::SetCount(ControlId id, const std::u16string& text) {
  auto* label = static_cast<QLabel*>(Widget(id));
  label->setText(QString::fromStdU16String(text));
  // A count wider than its box (five digits and more) widens it to the
  // left, its right edge kept, rather than losing its first digits.
  const QRect box = PxRect(Control(id).rect);
  const int width = std::max(box.width(), label->fontMetrics().horizontalAdvance(label->text()) + 2);
  label->setGeometry(box.right() + 1 - width, box.top(), width, box.height());
}

void MainForm::SetProgressMax(ControlId id, float max) {
  static_cast<QProgressBar*>(Widget(id))->setRange(1, std::max(1, int(max)));
}

void MainForm::SetProgressValue(ControlId id, float value) {
  static_cast<QProgressBar*>(Widget(id))->setValue(int(value));
}

void MainForm::Enable(ControlId control, bool enabled) { Widget(control)->setEnabled(enabled); }

void MainForm::ShowMessage(const std::u16string& text) {
  dialogs_->ShowMessage(this, QString::fromStdU16String(text));
}

bool MainForm::AskOpenPath(const std::u16string& filter, Path* path) {
  QString chosen = dialogs_->GetOpenFileName(this, QtNameFilter(filter));
  if (chosen.isEmpty()) return false;
  *path = Path(QFile::encodeName(chosen).toStdString());
  return true;
}

ExportUi* MainForm::ExportPort() { return export_ui_.get(); }

void MainForm::UnloadProgressWindow() { SaveStateForm::Unload(); }

LayoutSurface* MainForm::Layout() { return Widget(ControlId::kSSTab1) ? surface_.get() : nullptr; }

}  // namespace kp
