// Models behind the five report-style lists of the main window. Both are
// thin adapters over the widget-free texts of inspect/: a row's texts are
// made when the view draws it, so filling a list of 100,000 pages or 32,767
// keywords is one model reset.
//
// The columns (header, width in twips, alignment) are fixed here; no code
// adds, removes or resizes a column.
//
// User-interface thread only.
#pragma once

#include <QAbstractTableModel>
#include <functional>
#include <span>

#include "inspect/page_details.h"
#include "model/control_document.h"

namespace kp {

struct ListColumn {
  const char16_t* header;
  int width_twips;
  bool right_aligned;
};

std::span<const ListColumn> PageListColumns();
std::span<const ListColumn> DetailListColumns(DetailList list);

// The page list: one row per page of a document.
class PageListModel final : public QAbstractTableModel {
 public:
  explicit PageListModel(const ControlDocument* doc, QObject* parent = nullptr);

  // Runs `change` (which replaces the document's pages) inside a model reset.
  void Replace(const std::function<void()>& change);
  // The text of row `row`'s first column: the page number as the list shows it.
  std::u16string RowText(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const ControlDocument* doc_;
  int rows_ = 0;
};

// One detail list: the table of one page's entries of one kind.
class DetailListModel final : public QAbstractTableModel {
 public:
  explicit DetailListModel(DetailList list, QObject* parent = nullptr);

  // Clears the list and fills it with `table` (one model reset).
  void SetTable(const DetailTable& table);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  DetailList list_;
  DetailTable table_;
  int rows_ = 0;
};

}  // namespace kp
