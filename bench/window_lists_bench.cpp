// The window's lists with big documents, offscreen: the page list of a
// 100,000-page document and a detail list of a page with 32,767 keywords,
// each filled (model reset) and painted on its view, against an empty model
// reset and painted on the same view in the same run.
// Usage: window_lists_bench [PAGES]
#include <QApplication>
#include <QTreeView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/qt/list_model.h"
#include "inspect/page_details.h"
#include "inspect/page_list.h"
#include "tests/export/test_docs.h"

using namespace kp;
using Clock = std::chrono::steady_clock;

namespace {

// Median seconds of `reps` runs of `fill` followed by a full paint of `view`.
template <typename Fill>
double Measure(QTreeView* view, int reps, Fill fill) {
  std::vector<double> runs;
  for (int i = 0; i < reps; ++i) {
    auto start = Clock::now();
    fill();
    view->repaint();
    QCoreApplication::processEvents();
    runs.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  std::sort(runs.begin(), runs.end());
  return runs[runs.size() / 2];
}

// A report-style view of `model` at the window's size for it, shown offscreen.
void ShowView(QTreeView* view, QAbstractItemModel* model, int width, int height) {
  view->setUniformRowHeights(true);
  view->setRootIsDecorated(false);
  view->setModel(model);
  view->resize(width, height);
  view->show();
}

void Report(const char* what, double filled, double empty) {
  std::printf("%-44s %9.3f ms   empty reset %7.3f ms   ratio %6.2fx\n", what, filled * 1e3, empty * 1e3,
              filled / empty);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int pages = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int reps = 7;

  ControlDocument big = testing::PlainDocument(pages);
  for (int i = 0; i < pages; i += 3) {
    big.Pages[size_t(i)].IsTag = 2;
    big.Pages[size_t(i)].Name = u"見出しの名前";
  }
  // The window's models, their cells read as the window's presenter reads them.
  ControlDocument shown;
  FormListModel page_model(ControlId::kImageListView, [&](int row, int column) {
    return PageRowCell(shown.Pages[size_t(row)], int64_t(row) + 1, column);
  });
  QTreeView pages_view;
  ShowView(&pages_view, &page_model, 578, 348);
  double page_empty = Measure(&pages_view, reps, [&] { page_model.SetRows(0); });
  // The load moves its fresh document into place; each run here swaps one in
  // (the old one is freed outside the measurement: that is the document's
  // cost, not the list's).
  std::vector<ControlDocument> fresh(size_t(reps), big);
  size_t next = 0;
  double page_full = Measure(&pages_view, reps, [&] {
    page_model.SetRows(0);
    std::swap(shown, fresh[next++]);
    page_model.SetRows(int(shown.Pages.size()));
  });

  ControlDocument keywords = testing::PlainDocument(1);
  for (int i = 0; i < 32767; ++i) testing::AddKeyWord(&keywords.Pages[0], 1, 2, 3, 4, u"ｷｰﾜｰﾄﾞ", u"項目");
  auto tables = PageDetails(keywords, u"     1");
  FormListModel detail_model(ControlId::kKeyWordListView,
                             [&](int row, int column) { return tables[1].Cell(row, column); });
  QTreeView detail_view;
  ShowView(&detail_view, &detail_model, 570, 212);
  double detail_empty = Measure(&detail_view, reps, [&] { detail_model.SetRows(0); });
  double detail_full = Measure(&detail_view, reps, [&] { detail_model.SetRows(tables[1].Rows()); });

  std::printf("median of %d runs, offscreen, fill + paint\n", reps);
  Report(("page list, " + std::to_string(pages) + " pages").c_str(), page_full, page_empty);
  Report("keyword list, 32,767 rows", detail_full, detail_empty);
  return 0;
}
