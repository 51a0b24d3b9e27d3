#include "inspect/page_list.h"

namespace kp {

namespace {
std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }
std::u16string Decimal(int64_t n) { return Ascii(std::to_string(n)); }
}  // namespace

std::u16string FormatPageNumber(int64_t number) {
  std::u16string digits = Decimal(number);
  if (digits.size() < 6) digits.insert(0, 6 - digits.size(), u' ');
  return digits;
}

std::u16string FormatKilobytes(int64_t bytes) {
  // Thousandths of a kilobyte, rounded half up, in exact integer arithmetic
  // (whole kilobytes and the remainder apart, so nothing overflows).
  bool negative = bytes < 0;
  uint64_t magnitude = negative ? uint64_t(-(bytes + 1)) + 1 : uint64_t(bytes);
  uint64_t thousandths = (magnitude / 1024) * 1000 + ((magnitude % 1024) * 1000 + 512) / 1024;
  std::string whole = std::to_string(thousandths / 1000);
  std::string grouped;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) grouped.push_back(',');
    grouped.push_back(whole[i]);
  }
  std::string frac = std::to_string(thousandths % 1000);
  frac.insert(0, 3 - frac.size(), '0');
  return Ascii((negative && thousandths ? "-" : "") + grouped + "." + frac);
}

std::u16string PageRowCell(const PageRecord& page, int64_t number, int column) {
  switch (column) {
    case 0: return FormatPageNumber(number);
    case 1: return (page.IsTagged() ? u"●" : u"\u3000") + page.Name;
    case 2: return Decimal(page.CommentCount);
    case 3: return Decimal(page.KeyWordCount);
    case 4: return Decimal(page.SquareCount);
    case 5: return Decimal(page.HyperLinkCount);
    case 6: return page.FileName;
    case 7: return FormatKilobytes(page.ImageLen);
    default: return {};
  }
}

PageRowTexts PageRow(const PageRecord& page, int64_t number) {
  PageRowTexts row;
  for (int c = 0; c < kPageListColumns; ++c) row[c] = PageRowCell(page, number, c);
  return row;
}

DocumentTotals ComputeTotals(const ControlDocument& doc) {
  DocumentTotals t;
  t.TotalKPE = doc.EmbeddedFileCount;
  t.TotalPage = doc.PageCount;
  for (const PageRecord& p : doc.Pages) {
    t.TotalSetKPE += p.EmbedCount;
    t.TotalTag += p.IsTagged() ? 1 : 0;
    t.TotalComment += p.CommentCount;
    t.TotalKeyWord += p.KeyWordCount;
    t.TotalSquare += p.SquareCount;
    t.TotalHyperLink += p.HyperLinkCount;
  }
  return t;
}

std::vector<std::pair<std::string, int64_t>> TotalLabels(const DocumentTotals& t) {
  return {{"TotalKPE", t.TotalKPE},         {"TotalSetKPE", t.TotalSetKPE},   {"TotalPage", t.TotalPage},
          {"TotalTag", t.TotalTag},         {"TotalComment", t.TotalComment}, {"TotalKeyWord", t.TotalKeyWord},
          {"TotalSquare", t.TotalSquare},   {"TotalHyperLink", t.TotalHyperLink}};
}

}  // namespace kp
