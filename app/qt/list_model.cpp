#include "app/qt/list_model.h"

namespace kp {

namespace {

QVariant Alignment(const ListColumn& column) {
  return QVariant::fromValue(
      Qt::Alignment((column.right_aligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
}

}  // namespace

FormListModel::FormListModel(ControlId list, CellSource cells, QObject* parent)
    : QAbstractTableModel(parent), list_(list), cells_(std::move(cells)) {}

void FormListModel::SetRows(int rows) {
  beginResetModel();
  rows_ = rows;
  endResetModel();
}

int FormListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int FormListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(ListColumns(list_).size());
}

QVariant FormListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_ || index.column() >= columnCount()) return {};
  if (role == Qt::DisplayRole) return QString::fromStdU16String(cells_(index.row(), index.column()));
  if (role == Qt::TextAlignmentRole) return Alignment(ListColumns(list_)[size_t(index.column())]);
  return {};
}

QVariant FormListModel::headerData(int section, Qt::Orientation o, int role) const {
  auto columns = ListColumns(list_);
  if (o != Qt::Horizontal || section < 0 || size_t(section) >= columns.size()) return {};
  if (role == Qt::DisplayRole) return QString::fromUtf16(columns[size_t(section)].header);
  if (role == Qt::TextAlignmentRole) return Alignment(columns[size_t(section)]);
  return {};
}

}  // namespace kp
