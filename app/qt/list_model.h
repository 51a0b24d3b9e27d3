// The item model behind each of the window's five report-style lists: its
// columns are the design's (form_design.h), its rows a count set by the
// presenter, and a cell's text is asked for only when the view draws it, so
// filling a list of 100,000 pages or 32,767 keywords is one model reset.
//
// User-interface thread only.
#pragma once

#include <QAbstractTableModel>
#include <functional>
#include <string>

#include "form/form_design.h"

namespace kp {

class FormListModel final : public QAbstractTableModel {
 public:
  using CellSource = std::function<std::u16string(int row, int column)>;

  FormListModel(ControlId list, CellSource cells, QObject* parent = nullptr);

  // The list now has `rows` rows, every earlier one stale (one model reset).
  void SetRows(int rows);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  ControlId list_;
  CellSource cells_;
  int rows_ = 0;
};

}  // namespace kp
