#include "app/list_models.h"

#include "inspect/page_list.h"

namespace kp {

namespace {

constexpr ListColumn kPageColumns[] = {
    {u"ﾍﾟｰｼﾞ", 730, false},   {u"ﾀｸﾞ名称", 1440, false},    {u"ｺﾒﾝﾄ", 1060, true},
    {u"ｷｰﾜｰﾄﾞ", 1060, true},  {u"範囲ﾏｰｸ", 1060, true},      {u"ﾊｲﾊﾟｰﾘﾝｸ", 1060, true},
    {u"画像ﾌｧｲﾙ名", 1540, false}, {u"容量(KB)", 1300, true},
};
constexpr ListColumn kCommentColumns[] = {
    {u"No", 630, false}, {u"位置Left", 1000, true}, {u"位置Top", 1000, true},
    {u"色", 629, true},  {u"内容", 5000, false},
};
constexpr ListColumn kKeyWordColumns[] = {
    {u"No", 630, false},          {u"位置Left", 1200, true},   {u"位置Top", 1200, true},
    {u"位置Width", 1200, true},   {u"位置Height", 1200, true}, {u"ﾌｨｰﾙﾄﾞ", 1500, false},
    {u"ｷｰﾜｰﾄﾞ", 2000, false},
};
constexpr ListColumn kSquareColumns[] = {
    {u"No", 630, false},        {u"位置Left", 1200, true},   {u"位置Top", 1200, true},
    {u"位置Width", 1200, true}, {u"位置Height", 1200, true}, {u"色", 629, true},
};
constexpr ListColumn kHyperLinkColumns[] = {
    {u"No", 630, false},          {u"位置Left", 1200, true},   {u"位置Top", 1200, true},
    {u"位置Width", 1200, true},   {u"位置Height", 1200, true}, {u"ﾘﾝｸ情報1", 1500, false},
    {u"ﾘﾝｸ情報2", 1500, false},
};

QString Q(const std::u16string& s) { return QString::fromStdU16String(s); }

QVariant Alignment(const ListColumn& column) {
  return QVariant::fromValue(
      Qt::Alignment((column.right_aligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
}

QVariant Header(std::span<const ListColumn> columns, int section, Qt::Orientation o, int role) {
  if (o != Qt::Horizontal || section < 0 || size_t(section) >= columns.size()) return {};
  if (role == Qt::DisplayRole) return QString::fromUtf16(columns[size_t(section)].header);
  if (role == Qt::TextAlignmentRole) return Alignment(columns[size_t(section)]);
  return {};
}

}  // namespace

std::span<const ListColumn> PageListColumns() { return kPageColumns; }

std::span<const ListColumn> DetailListColumns(DetailList list) {
  switch (list) {
    case DetailList::kComment: return kCommentColumns;
    case DetailList::kKeyWord: return kKeyWordColumns;
    case DetailList::kSquare: return kSquareColumns;
    case DetailList::kHyperLink: return kHyperLinkColumns;
  }
  return {};
}

PageListModel::PageListModel(const ControlDocument* doc, QObject* parent)
    : QAbstractTableModel(parent), doc_(doc), rows_(int(doc->Pages.size())) {}

void PageListModel::Replace(const std::function<void()>& change) {
  beginResetModel();
  change();
  rows_ = int(doc_->Pages.size());
  endResetModel();
}

std::u16string PageListModel::RowText(int row) const {
  if (row < 0 || row >= rows_ || size_t(row) >= doc_->Pages.size()) return {};
  return FormatPageNumber(int64_t(row) + 1);
}

int PageListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }
int PageListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kPageListColumns;
}

QVariant PageListModel::data(const QModelIndex& index, int role) const {
  int row = index.row(), column = index.column();
  if (!index.isValid() || row >= rows_ || size_t(row) >= doc_->Pages.size()) return {};
  if (role == Qt::DisplayRole) return Q(PageRowCell(doc_->Pages[size_t(row)], int64_t(row) + 1, column));
  if (role == Qt::TextAlignmentRole) return Alignment(kPageColumns[column]);
  return {};
}

QVariant PageListModel::headerData(int section, Qt::Orientation o, int role) const {
  return Header(kPageColumns, section, o, role);
}

DetailListModel::DetailListModel(DetailList list, QObject* parent)
    : QAbstractTableModel(parent), list_(list), table_(nullptr, -1, list) {}

void DetailListModel::SetTable(const DetailTable& table) {
  beginResetModel();
  table_ = table.list() == list_ ? table : DetailTable(nullptr, -1, list_);
  rows_ = table_.Rows();
  endResetModel();
}

int DetailListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }
int DetailListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : DetailTable::ColumnCount(list_);
}

QVariant DetailListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_) return {};
  if (role == Qt::DisplayRole) return Q(table_.Cell(index.row(), index.column()));
  if (role == Qt::TextAlignmentRole) return Alignment(DetailListColumns(list_)[size_t(index.column())]);
  return {};
}

QVariant DetailListModel::headerData(int section, Qt::Orientation o, int role) const {
  return Header(DetailListColumns(list_), section, o, role);
}

}  // namespace kp
