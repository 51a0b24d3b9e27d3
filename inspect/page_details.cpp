#include "inspect/page_details.h"

#include <algorithm>
#include <string>

namespace kp {

namespace {

std::u16string Decimal(int64_t n) {
  std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

// The entries a list shows: its count when the list holds that many (a
// loaded document always does), never more than the list holds.
template <typename Records>
int ShownRows(int16_t count, const Records& records) {
  return count <= 0 ? 0 : int(std::min<size_t>(size_t(count), records.size()));
}

// Columns after "No", in display order (Color after the positions, Field
// before KeyWord).
std::u16string CommentCell(const CommentRecord& r, int c) {
  switch (c) {
    case 1: return Decimal(r.Left);
    case 2: return Decimal(r.Top);
    case 3: return Decimal(r.Color);
    case 4: return r.Text;
  }
  return {};
}

template <typename Boxed>
std::u16string BoxCell(const Boxed& r, int c) {
  switch (c) {
    case 1: return Decimal(r.Left);
    case 2: return Decimal(r.Top);
    case 3: return Decimal(r.Width);
    case 4: return Decimal(r.Height);
  }
  return {};
}

std::u16string KeyWordCell(const KeyWordRecord& r, int c) {
  if (c == 5) return r.Field;
  if (c == 6) return r.KeyWord;
  return BoxCell(r, c);
}

std::u16string SquareCell(const SquareRecord& r, int c) {
  return c == 5 ? Decimal(r.Color) : BoxCell(r, c);
}

std::u16string HyperLinkCell(const HyperLinkRecord& r, int c) {
  if (c == 5) return r.LinkInfo1;
  if (c == 6) return r.LinkInfo2;
  return BoxCell(r, c);
}

}  // namespace

std::u16string FormatEntryNumber(int number) {
  std::u16string digits = Decimal(number);
  if (digits.size() < 5) digits.insert(0, 5 - digits.size(), u' ');
  return digits;
}

int PagePositionOfRowText(const ControlDocument& doc, std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\u3000')) ++i;
  int64_t value = 0;
  bool any = false;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    any = true;
    if (value > int64_t(doc.Pages.size())) return -1;  // stops long digit runs too
  }
  if (!any || value < 1) return -1;
  return int(value - 1);
}

DetailTable::DetailTable(const ControlDocument* doc, int position, DetailList list)
    : doc_(doc), position_(position), list_(list) {}

int DetailTable::ColumnCount(DetailList list) {
  switch (list) {
    case DetailList::kComment: return 5;
    case DetailList::kKeyWord: return 7;
    case DetailList::kSquare: return 6;
    case DetailList::kHyperLink: return 7;
  }
  return 0;
}

const PageRecord* DetailTable::Page() const {
  if (!doc_ || position_ < 0 || size_t(position_) >= doc_->Pages.size()) return nullptr;
  return &doc_->Pages[size_t(position_)];
}

int DetailTable::Rows() const {
  const PageRecord* p = Page();
  if (!p) return 0;
  switch (list_) {
    case DetailList::kComment: return ShownRows(p->CommentCount, p->Comments);
    case DetailList::kKeyWord: return ShownRows(p->KeyWordCount, p->KeyWords);
    case DetailList::kSquare: return ShownRows(p->SquareCount, p->Squares);
    case DetailList::kHyperLink: return ShownRows(p->HyperLinkCount, p->HyperLinks);
  }
  return 0;
}

std::u16string DetailTable::Cell(int row, int column) const {
  if (row < 0 || row >= Rows() || column < 0 || column >= Columns()) return {};
  if (column == 0) return FormatEntryNumber(row + 1);
  const PageRecord& p = *Page();
  switch (list_) {
    case DetailList::kComment: return CommentCell(p.Comments[size_t(row)], column);
    case DetailList::kKeyWord: return KeyWordCell(p.KeyWords[size_t(row)], column);
    case DetailList::kSquare: return SquareCell(p.Squares[size_t(row)], column);
    case DetailList::kHyperLink: return HyperLinkCell(p.HyperLinks[size_t(row)], column);
  }
  return {};
}

std::array<DetailTable, kDetailListCount> PageDetails(const ControlDocument& doc,
                                                      std::u16string_view row_text) {
  int position = PagePositionOfRowText(doc, row_text);
  std::array<DetailTable, kDetailListCount> tables;
  for (int i = 0; i < kDetailListCount; ++i) {
    tables[size_t(i)] = position < 0 ? DetailTable(nullptr, -1, DetailList(i))
                                     : DetailTable(&doc, position, DetailList(i));
  }
  return tables;
}

}  // namespace kp
