#include "export/row_mapping.h"

#include <memory>
#include <vector>

namespace kp {

namespace {

using jet::Value;

const OutputTable kTables[kOutputTableCount] = {
    {u"一覧_ページ", u"SELECT * FROM [一覧_ページ]", u"変換状況 …ﾍﾟｰｼﾞ [出力中]", "pages"},
    {u"一覧_埋め込みファイル", u"SELECT * FROM [一覧_埋め込みファイル]",
     u"変換状況 …埋込ﾌｧｲﾙ [出力中]", "embedded files"},
    {u"一覧_コメント", u"SELECT * FROM [一覧_コメント]", u"変換状況 …ｺﾒﾝﾄ [出力中]", "comments"},
    {u"一覧_キーワード", u"SELECT * FROM [一覧_キーワード]", u"変換状況 …ｷｰﾜｰﾄﾞ [出力中]",
     "keywords"},
    {u"一覧_範囲マーク", u"SELECT * FROM [一覧_範囲マーク]", u"変換状況 …範囲ﾏｰｸ [出力中]",
     "range marks"},
    {u"一覧_ハイパーリンク", u"SELECT * FROM [一覧_ハイパーリンク]",
     u"変換状況 …ﾊｲﾊﾟｰﾘﾝｸ [出力中]", "hyperlinks"},
};

// Column names are ASCII; good enough for a log line.
std::string Ascii(const std::u16string& s) {
  std::string out;
  out.reserve(s.size());
  for (char16_t c : s) out.push_back(c < 0x80 ? char(c) : '?');
  return out;
}

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
  Status Set(const char16_t* column, const Value& value) {
    Status s = rs_->SetField(column, value);
    return s.ok() ? s : Wrap(s, "column " + Ascii(column));
  }
  Status Update() { return Wrap(rs_->Update(), "Update"); }

  Status Fail(const std::string& what) const { return Status::Corruption(Place() + ": " + what); }

 private:
  std::string Place() const {
    std::string place = std::string(table_) + " table, page " + std::to_string(page_no_);
    if (id_ > 0) place += " item " + std::to_string(id_);
    return place;
  }
  Status Wrap(const Status& s, const char* step) const {
    return s.ok() ? s : s.WithContext(Place() + ", " + step);
  }
  Status Wrap(const Status& s, const std::string& step) const { return Wrap(s, step.c_str()); }

  jet::Recordset* rs_;
  const char* table_;
  int32_t page_no_ = 0;
  int32_t id_ = 0;
};

Value Long(int64_t n) { return Value::Int(n); }
Value Str(const Text& s) { return Value::Str(s); }

Status WritePageRow(const PageRecord& page, int32_t page_no, RowSink& sink) {
  KP_RETURN_IF_ERROR(sink.AddNew());
  KP_RETURN_IF_ERROR(sink.Set(u"No", Long(page_no)));
  KP_RETURN_IF_ERROR(sink.Set(u"Name", page.Name.empty() ? Value::Null() : Str(page.Name)));
  KP_RETURN_IF_ERROR(sink.Set(u"IsTag", Value::Bool(page.IsTag == 2)));
  KP_RETURN_IF_ERROR(sink.Set(u"Level", Long(page.Level)));
  KP_RETURN_IF_ERROR(sink.Set(u"FileName", Str(page.FileName)));
  KP_RETURN_IF_ERROR(sink.Set(u"ImageLen", Long(page.ImageLen)));
  int degrees = AngleDegrees(page.Angle);
  if (degrees >= 0) KP_RETURN_IF_ERROR(sink.Set(u"Angle", Long(degrees)));
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
    KP_RETURN_IF_ERROR(sink.Set(u"PageNo", Long(page_no)));
    KP_RETURN_IF_ERROR(sink.Set(u"ID", Long(j + 1)));
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
        KP_RETURN_IF_ERROR(sink.Set(u"KPE_FileName", Str(file.KPE_FileName)));
        return sink.Set(u"InData", Str(file.InData));
      });
    case 2:
      return WriteListRows(page.Comments, page.CommentCount, "CommentCount", page_no, sink,
                           [&](const CommentRecord& c) -> Status {
        KP_RETURN_IF_ERROR(sink.Set(u"Color", Long(c.Color)));
        KP_RETURN_IF_ERROR(sink.Set(u"Left", Long(c.Left)));
        KP_RETURN_IF_ERROR(sink.Set(u"Top", Long(c.Top)));
        return sink.Set(u"Text", Str(c.Text));
      });
    case 3:
      return WriteListRows(page.KeyWords, page.KeyWordCount, "KeyWordCount", page_no, sink,
                           [&](const KeyWordRecord& k) -> Status {
        KP_RETURN_IF_ERROR(sink.Set(u"Left", Long(k.Left)));
        KP_RETURN_IF_ERROR(sink.Set(u"Top", Long(k.Top)));
        KP_RETURN_IF_ERROR(sink.Set(u"Width", Long(k.Width)));
        KP_RETURN_IF_ERROR(sink.Set(u"Height", Long(k.Height)));
        KP_RETURN_IF_ERROR(sink.Set(u"KeyWord", Str(k.KeyWord)));
        return sink.Set(u"Field", Str(k.Field));
      });
    case 4:
      return WriteListRows(page.Squares, page.SquareCount, "SquareCount", page_no, sink,
                           [&](const SquareRecord& q) -> Status {
        KP_RETURN_IF_ERROR(sink.Set(u"Color", Long(q.Color)));
        KP_RETURN_IF_ERROR(sink.Set(u"Left", Long(q.Left)));
        KP_RETURN_IF_ERROR(sink.Set(u"Top", Long(q.Top)));
        KP_RETURN_IF_ERROR(sink.Set(u"Width", Long(q.Width)));
        return sink.Set(u"Height", Long(q.Height));
      });
    case 5:
      return WriteListRows(page.HyperLinks, page.HyperLinkCount, "HyperLinkCount", page_no,
                           sink, [&](const HyperLinkRecord& h) -> Status {
        KP_RETURN_IF_ERROR(sink.Set(u"Left", Long(h.Left)));
        KP_RETURN_IF_ERROR(sink.Set(u"Top", Long(h.Top)));
        KP_RETURN_IF_ERROR(sink.Set(u"Width", Long(h.Width)));
        KP_RETURN_IF_ERROR(sink.Set(u"Height", Long(h.Height)));
        KP_RETURN_IF_ERROR(sink.Set(u"LinkInfo1", Str(h.LinkInfo1)));
        return sink.Set(u"LinkInfo2", Str(h.LinkInfo2));
      });
  }
  return Status::InvalidArgument("no output table " + std::to_string(table_index));
}

}  // namespace

const OutputTable& OutputTableAt(int index) { return kTables[index]; }

Status WriteTable(const ControlDocument& doc, int table_index, jet::Database& db,
                  const PageDoneCallback& on_page_done) {
  if (table_index < 0 || table_index >= kOutputTableCount) {
    return Status::InvalidArgument("no output table " + std::to_string(table_index));
  }
  const OutputTable& table = kTables[table_index];
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
