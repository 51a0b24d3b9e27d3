#include "ctl/load_command.h"

#include <utility>

#include "model/text_util.h"

namespace kp {

namespace {
const std::u16string kControlFileName = u"DEFAULT.CTL";

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }
}  // namespace

const char16_t* LoadResult::message() const {
  switch (outcome) {
    case LoadOutcome::kSuccess: return kLoadSucceededMessage;
    case LoadOutcome::kWrongName: return kWrongNameMessage;
    case LoadOutcome::kWrongMagic: return kWrongMagicMessage;
    case LoadOutcome::kFailure: break;
  }
  return kLoadFailedMessage;
}

bool HasControlFileName(const std::u16string& path) {
  return path.size() >= kControlFileName.size() &&
         path.compare(path.size() - kControlFileName.size(), kControlFileName.size(), kControlFileName) == 0;
}

bool HasControlFileName(const std::string& path) {
  return path.size() >= 11 && path.compare(path.size() - 11, 11, "DEFAULT.CTL") == 0;
}

std::u16string SourceFolderOf(const std::u16string& path) {
  return path.size() >= 12 ? path.substr(0, path.size() - 12) : std::u16string();
}

std::string SourceFolderOf(const std::string& path) {
  return path.size() >= 12 ? path.substr(0, path.size() - 12) : std::string();
}

LoadResult LoadControlFile(const std::u16string& path, ImageSizer* sizer, ControlDocument* target) {
  return LoadControlFile(Utf16ToUtf8(path), sizer, target);
}

LoadResult LoadControlFile(const std::string& path, ImageSizer* sizer, ControlDocument* target) {
  LoadResult result;
  if (!HasControlFileName(path)) {
    result.outcome = LoadOutcome::kWrongName;
    result.cause = "the file name is not DEFAULT.CTL: " + path;
    return result;
  }
  if (path.size() <= kControlFileName.size()) {
    // "DEFAULT.CTL" alone has no folder to take 12 characters from.
    result.outcome = LoadOutcome::kFailure;
    result.cause = "no folder before DEFAULT.CTL in the path";
    return result;
  }
  ControlDocument fresh;
  ControlReadResult read = ReadControlFile(path, SourceFolderOf(path), sizer, &fresh);
  switch (read.kind) {
    case ControlReadResult::Kind::kOk:
      *target = std::move(fresh);
      result.outcome = LoadOutcome::kSuccess;
      break;
    case ControlReadResult::Kind::kWrongMagic:
      result.outcome = LoadOutcome::kWrongMagic;
      result.cause = read.cause;
      break;
    case ControlReadResult::Kind::kReadFailure:
      result.outcome = LoadOutcome::kFailure;
      result.cause = read.cause;
      break;
  }
  return result;
}

LoadResult LoadControlFile(const std::string& path) {
  FileSystemImageSizer sizer;
  return LoadControlFile(path, &sizer, &Module1::Document());
}

std::u16string FormatPageNumber(int64_t number) {
  std::u16string digits = Ascii(std::to_string(number));
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

PageRowTexts PageRow(const PageRecord& page, int64_t number) {
  PageRowTexts row;
  row[0] = FormatPageNumber(number);
  row[1] = (page.IsTagged() ? u"●" : u"\u3000") + page.Name;
  row[2] = Ascii(std::to_string(page.CommentCount));
  row[3] = Ascii(std::to_string(page.KeyWordCount));
  row[4] = Ascii(std::to_string(page.SquareCount));
  row[5] = Ascii(std::to_string(page.HyperLinkCount));
  row[6] = page.FileName;
  row[7] = FormatKilobytes(page.ImageLen);
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
