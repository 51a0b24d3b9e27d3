#include "form/main_presenter.h"

#include <algorithm>

#include "base/path.h"
#include "ctl/control_reader.h"
#include "ctl/load_command.h"
#include "export/export_command.h"
#include "form/form_layout.h"
#include "inspect/page_list.h"

namespace kp {

namespace {

// The detail list's index in refill order, or -1.
int DetailIndex(ControlId list) {
  for (int i = 0; i < kDetailListCount; ++i) {
    if (kDetailLists[i] == list) return i;
  }
  return -1;
}

std::u16string Decimal(int64_t n) {
  std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

}  // namespace

MainPresenter::MainPresenter(FormView* view, ControlDocument* doc, ImageSizer* sizer, ExportCommand* exporter)
    : view_(view), doc_(doc), sizer_(sizer), exporter_(exporter) {
  if (!doc_) doc_ = &Module1::Document();
  if (!sizer_) {
    own_sizer_ = std::make_unique<FileSystemImageSizer>();
    sizer_ = own_sizer_.get();
  }
  for (int i = 0; i < kDetailListCount; ++i) details_[size_t(i)] = DetailTable(nullptr, -1, DetailList(i));
}

MainPresenter::~MainPresenter() = default;

void MainPresenter::Form_Load() { Form_Resize(); }

void MainPresenter::Form_Resize() {
  LayoutSurface* surface = view_->Layout();
  if (!surface || layout_depth_ >= 2) return;  // a nested run at most
  ++layout_depth_;
  RunFormLayout(surface);
  --layout_depth_;
}

void MainPresenter::Form_Unload() { view_->UnloadProgressWindow(); }

void MainPresenter::KPFileLoadButton_Click() {
  Path path;
  if (!view_->AskOpenPath(kLoadDialogFilter, &path)) path.clear();
  LoadFile(path);  // a cancel gives the empty path: the name check refuses it
}

void MainPresenter::LoadFile(const Path& path) {
  ControlDocument fresh;
  LoadResult result = LoadControlFile(PathToUtf8(path), sizer_, &fresh);
  if (!result.ok()) {
    view_->ShowMessage(result.message());
    return;
  }
  const ControlId bar = ControlId::kProgressLoad;
  const int pages = int(fresh.Pages.size());
  view_->SetProgressMax(bar, float(pages));
  view_->SetProgressValue(bar, 1);
  // What the view reports of its own list while the load changes it is the
  // load's doing, not the user's.
  busy_ = true;
  view_->SetListRows(kPageList, 0);
  page_rows_ = 0;
  *doc_ = std::move(fresh);
  page_rows_ = pages;
  view_->SetListRows(kPageList, pages);
  // The rows are there at once; the bar still counts them, in steps a person
  // can see.
  const int step = std::max(1, pages / 200);
  for (int n = 1; n <= pages; n += step) view_->SetProgressValue(bar, float(n));
  view_->SetProgressValue(bar, float(pages));

  view_->SelectRow(kPageList, 0);
  view_->Focus(kPageList);
  busy_ = false;
  PageInfoUpDate();

  auto totals = TotalLabels(ComputeTotals(*doc_));
  for (size_t i = 0; i < totals.size() && i < std::size(kCountLabels); ++i) {
    view_->SetCount(kCountLabels[i], Decimal(totals[i].second));
  }
  view_->SetProgressMax(bar, 100);
  view_->SetProgressValue(bar, 1);
  view_->ShowMessage(result.message());
  view_->Enable(ControlId::kOutputMDB, true);
}

void MainPresenter::OutputMDB_Click() {
  ExportCommand& command = exporter_ ? *exporter_ : DefaultExportCommand();
  command.Run(*doc_, view_->ExportPort());
}

void MainPresenter::ImageListView_ItemClick() { PageInfoUpDate(); }

void MainPresenter::ImageListView_SelectionChanged() {
  if (!busy_ && SelectedPage() != shown_page_) PageInfoUpDate();
}

int MainPresenter::SelectedPage() const {
  int row = view_->SelectedRow(kPageList);
  if (row < 0 || row >= page_rows_) return -1;
  return PagePositionOfRowText(*doc_, CellText(kPageList, row, 0));
}

void MainPresenter::PageInfoUpDate() {
  const int row = view_->SelectedRow(kPageList);
  const std::u16string text = row >= 0 ? CellText(kPageList, row, 0) : std::u16string();
  details_ = PageDetails(*doc_, text);
  shown_page_ = PagePositionOfRowText(*doc_, text);
  for (int i = 0; i < kDetailListCount; ++i) view_->SetListRows(kDetailLists[i], details_[size_t(i)].Rows());
}

int MainPresenter::Rows(ControlId list) const {
  if (list == kPageList) return page_rows_;
  int i = DetailIndex(list);
  return i < 0 ? 0 : details_[size_t(i)].Rows();
}

std::u16string MainPresenter::CellText(ControlId list, int row, int column) const {
  if (row < 0 || row >= Rows(list)) return {};
  if (list == kPageList) {
    if (size_t(row) >= doc_->Pages.size() || column < 0 || column >= kPageListColumns) return {};
    return PageRowCell(doc_->Pages[size_t(row)], int64_t(row) + 1, column);
  }
  int i = DetailIndex(list);
  return i < 0 ? std::u16string() : details_[size_t(i)].Cell(row, column);
}

}  // namespace kp
