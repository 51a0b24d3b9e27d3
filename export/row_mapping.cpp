#include "export/row_mapping.h"

#include <memory>
#include <vector>

#include "base/text_util.h"

namespace kp {

namespace {

using jet::Value;
using namespace column;

// Appends rows to one open table and puts the place of any failure in front
// of its cause.
class RowSink {
 public:
  RowSink(jet::Recordset* rs, const char* table) : rs_(rs), table_(table) {}

  void SetPlace(int32_t page_no, int32_t id) {
    page_no_ = page_no;
    id_ = id;
  }

  Status AddNew() { return Wrap(rs_->AddNew(), "AddNew"); }
  // A column's position is found once; a column the row set does not have
  // goes to the setter by name, which gives the failure.
  Status Set(const char16_t* column, const Value& value) {
    const int p = Position(column);
    return Column(p >= 0 ? rs_->SetFieldAt(p, value) : rs_->SetField(column, value), column);
  }
  [[gnu::always_inline]] Status SetInt(const char16_t* column, int64_t n) {
    const int p = Position(column);
    return Column(p >= 0 ? rs_->SetIntegerAt(p, n) : rs_->SetInteger(column, n), column);
  }
  [[gnu::always_inline]] Status SetText(const char16_t* column, const Text& text) {
    const int p = Position(column);
    return Column(p >= 0 ? rs_->SetTextAt(p, text) : rs_->SetText(column, text), column);
  }
  Status Update() { return Wrap(rs_->Update(), "Update"); }

  Status Fail(const std::string& what) const { return Status::Corruption(Place() + ": " + what); }

 private:
  // The position of `column` (one of the column names of output_schema.h, told
  // apart by address), or -1. The column after the last one asked is tried
  // first.
  [[gnu::always_inline]] int Position(const char16_t* column) {
    if (next_ < found_.size() && found_[next_].name == column) [[likely]] return found_[next_++].position;
    return Search(column);
  }
  int Search(const char16_t* column) {
    for (size_t k = 0; k < found_.size(); ++k) {
      if (found_[k].name == column) {
        next_ = k + 1;
        return found_[k].position;
      }
    }
    int p = -1;
    if (!rs_->FindColumn(column, &p).ok()) return -1;
    found_.push_back({column, p});
    next_ = found_.size();
    return p;
  }

  std::string Place() const {
    std::string place = std::string(table_) + " table, page " + std::to_string(page_no_);
    if (id_ > 0) place += " item " + std::to_string(id_);
    return place;
  }
  Status Wrap(const Status& s, const char* step) const {
    return s.ok() ? s : s.WithContext(Place() + ", " + step);
  }
  Status Wrap(const Status& s, const std::string& step) const { return Wrap(s, step.c_str()); }
  Status Column(Status s, const char16_t* column) const {
    if (s.ok()) [[likely]] return s;
    return ColumnFailure(s, column);
  }
  [[gnu::noinline, gnu::cold]] Status ColumnFailure(const Status& s, const char16_t* column) const {
    return Wrap(s, "column " + Utf16ToUtf8(column));
  }

  struct Found {
    const char16_t* name;
    int position;
  };

  jet::Recordset* rs_;
  const char* table_;
  std::vector<Found> found_;
  size_t next_ = 0;
  int32_t page_no_ = 0;
  int32_t id_ = 0;
};


// Left, Top, Width and Height of a keyword, range mark or hyperlink.
template <typename Record>
Status SetBox(const Record& r, RowSink& sink) {
  KP_RETURN_IF_ERROR(sink.SetInt(kLeft, r.Left));
  KP_RETURN_IF_ERROR(sink.SetInt(kTop, r.Top));
  KP_RETURN_IF_ERROR(sink.SetInt(kWidth, r.Width));
  return sink.SetInt(kHeight, r.Height);
}

Status WritePageRow(const PageRecord& page, int32_t page_no, RowSink& sink) {
  KP_RETURN_IF_ERROR(sink.AddNew());
  KP_RETURN_IF_ERROR(sink.SetInt(kNo, page_no));
  KP_RETURN_IF_ERROR(page.Name.empty() ? sink.Set(kName, Value::Null()) : sink.SetText(kName, page.Name));
  KP_RETURN_IF_ERROR(sink.Set(kIsTag, Value::Bool(page.IsTag == 2)));
  KP_RETURN_IF_ERROR(sink.SetInt(kLevel, page.Level));
  KP_RETURN_IF_ERROR(sink.SetText(kFileName, page.FileName));
  KP_RETURN_IF_ERROR(sink.SetInt(kImageLen, page.ImageLen));
  int degrees = AngleDegrees(page.Angle);
  if (degrees >= 0) KP_RETURN_IF_ERROR(sink.SetInt(kAngle, degrees));
  return sink.Update();
}

// Writes `count` rows for one page's list: PageNo, ID, then the item's own
// columns through `assign(item)`.
template <typename Record, typename Assign>
Status WriteListRows(const std::vector<Record>& list, int16_t count, const char* count_name,
                     int32_t page_no, RowSink& sink, Assign assign) {
  for (int32_t j = 0; j < count; ++j) {
    sink.SetPlace(page_no, j + 1);
    if (size_t(j) >= list.size()) {
      return sink.Fail(std::string(count_name) + " " + std::to_string(count) +
                       " but the list holds " + std::to_string(list.size()) + " entries");
    }
    KP_RETURN_IF_ERROR(sink.AddNew());
    KP_RETURN_IF_ERROR(sink.SetInt(kPageNo, page_no));
    KP_RETURN_IF_ERROR(sink.SetInt(kID, j + 1));
    KP_RETURN_IF_ERROR(assign(list[size_t(j)]));
    KP_RETURN_IF_ERROR(sink.Update());
  }
  return Status::OK();
}

Status WritePage(const ControlDocument& doc, int table_index, const PageRecord& page,
                 int32_t page_no, RowSink& sink) {
  switch (table_index) {
    case 0:
      return WritePageRow(page, page_no, sink);
    case 1:
      return WriteListRows(page.Embeds, page.EmbedCount, "EmbedCount", page_no, sink,
                           [&](const PageEmbedRecord& e) -> Status {
        if (e.RegisterIndex < 0 || size_t(e.RegisterIndex) >= doc.EmbeddedFiles.size()) {
          return sink.Fail("RegisterIndex " + std::to_string(e.RegisterIndex) +
                           " outside the register of " +
                           std::to_string(doc.EmbeddedFiles.size()) + " entries");
        }
        const EmbeddedFileRecord& file = doc.EmbeddedFiles[size_t(e.RegisterIndex)];
        KP_RETURN_IF_ERROR(sink.SetText(kKpeFileName, file.KPE_FileName));
        return sink.SetText(kInData, file.InData);
      });
    case 2:
      return WriteListRows(page.Comments, page.CommentCount, "CommentCount", page_no, sink,
                           [&](const CommentRecord& c) -> Status {
        KP_RETURN_IF_ERROR(sink.SetInt(kColor, c.Color));
        KP_RETURN_IF_ERROR(sink.SetInt(kLeft, c.Left));
        KP_RETURN_IF_ERROR(sink.SetInt(kTop, c.Top));
        return sink.SetText(kText, c.Text);
      });
    case 3:
      return WriteListRows(page.KeyWords, page.KeyWordCount, "KeyWordCount", page_no, sink,
                           [&](const KeyWordRecord& k) -> Status {
        KP_RETURN_IF_ERROR(SetBox(k, sink));
        KP_RETURN_IF_ERROR(sink.SetText(kKeyWord, k.KeyWord));
        return sink.SetText(kField, k.Field);
      });
    case 4:
      return WriteListRows(page.Squares, page.SquareCount, "SquareCount", page_no, sink,
                           [&](const SquareRecord& q) -> Status {
        KP_RETURN_IF_ERROR(sink.SetInt(kColor, q.Color));
        return SetBox(q, sink);
      });
    case 5:
      return WriteListRows(page.HyperLinks, page.HyperLinkCount, "HyperLinkCount", page_no,
                           sink, [&](const HyperLinkRecord& h) -> Status {
        KP_RETURN_IF_ERROR(SetBox(h, sink));
        KP_RETURN_IF_ERROR(sink.SetText(kLinkInfo1, h.LinkInfo1));
        return sink.SetText(kLinkInfo2, h.LinkInfo2);
      });
  }
  return Status::InvalidArgument("no output table " + std::to_string(table_index));
}

}  // namespace

Status WriteTable(const ControlDocument& doc, int table_index, jet::Database& db,
                  const PageDoneCallback& on_page_done) {
  if (table_index < 0 || table_index >= kOutputTableCount) {
    return Status::InvalidArgument("no output table " + std::to_string(table_index));
  }
  const OutputTable& table = OutputTableAt(table_index);
  std::unique_ptr<jet::Recordset> rs;
  KP_RETURN_IF_ERROR(db.OpenRecordset(table.query, &rs).WithContext(
      std::string(table.log_name) + " table, OpenRecordset"));
  if (!rs) return Status::IOError(std::string(table.log_name) + " table: no row set");

  RowSink sink(rs.get(), table.log_name);
  Status s;
  for (int32_t p = 0; p < doc.PageCount && s.ok(); ++p) {
    int32_t page_no = p + 1;
    sink.SetPlace(page_no, 0);
    if (size_t(p) >= doc.Pages.size()) {
      s = sink.Fail("PageCount " + std::to_string(doc.PageCount) + " but the list holds " +
                    std::to_string(doc.Pages.size()) + " pages");
      break;
    }
    s = WritePage(doc, table_index, doc.Pages[size_t(p)], page_no, sink);
    if (s.ok() && on_page_done) on_page_done(page_no);
  }
  if (!s.ok()) {
    rs->Close();  // release only; the first failure is the one reported
    return s;
  }
  return rs->Close().WithContext(std::string(table.log_name) + " table, Close");
}

}  // namespace kp
