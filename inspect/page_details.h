// The four detail lists of one page (comments, keywords, range marks,
// hyperlinks) as tables of cell texts. Widget-free: the window shows each
// table through a model, which asks for a cell only when it draws it, so a
// page with 32,767 entries costs nothing until it is looked at.
//
// A table refers to the document and remembers the page's position, not the
// page itself: every cell it gives is read afresh and bounds-checked, so a
// table never reads outside the document, whatever becomes of the document
// after it was made.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "model/control_document.h"

namespace kp {

// The detail lists, in the order they are refilled.
enum class DetailList { kComment = 0, kKeyWord = 1, kSquare = 2, kHyperLink = 3 };
inline constexpr int kDetailListCount = 4;

// "No" column: the entry number right-aligned in five characters.
std::u16string FormatEntryNumber(int number);

// The position in doc.Pages of the page a page-list row text names: the
// text's numeric value (leading blanks ignored, digits up to the first other
// character) less one; -1 when that is no page of `doc`.
int PagePositionOfRowText(const ControlDocument& doc, std::u16string_view row_text);

class DetailTable {
 public:
  DetailTable() = default;  // no rows
  // The entries of `list` on the page at `position` of `*doc`.
  DetailTable(const ControlDocument* doc, int position, DetailList list);

  DetailList list() const { return list_; }
  int Rows() const;
  int Columns() const { return ColumnCount(list_); }
  // The cell's text; empty outside the table or the document.
  std::u16string Cell(int row, int column) const;

  // "No" and the record's fields: 5, 7, 6 and 7 columns.
  static int ColumnCount(DetailList list);

 private:
  const PageRecord* Page() const;

  const ControlDocument* doc_ = nullptr;
  int position_ = -1;
  DetailList list_ = DetailList::kComment;
};

// The four tables of the page that `row_text` names, in refill order; all
// four have no rows when it names no page.
std::array<DetailTable, kDetailListCount> PageDetails(const ControlDocument& doc,
                                                      std::u16string_view row_text);

}  // namespace kp
