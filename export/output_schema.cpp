#include "export/output_schema.h"

#include "jet/jet.h"

namespace kp {

namespace {

using namespace column;
using jet::ColumnType;

constexpr ColumnType kLong = ColumnType::kLong;
constexpr ColumnType kInteger = ColumnType::kInteger;
constexpr ColumnType kByte = ColumnType::kByte;
constexpr ColumnType kBoolean = ColumnType::kBoolean;
constexpr ColumnType kTextType = ColumnType::kText;
constexpr ColumnType kMemo = ColumnType::kMemo;

constexpr OutputColumn kPageColumns[] = {
    {kNo, kLong, 0},       {kName, kMemo, 0},     {kIsTag, kBoolean, 0},
    {kLevel, kByte, 0},    {kFileName, kMemo, 0}, {kImageLen, kLong, 0},
    {kAngle, kInteger, 0},
};
constexpr OutputColumn kEmbedColumns[] = {
    {kPageNo, kLong, 0},
    {kID, kLong, 0},
    {kKpeFileName, kMemo, 0},
    {kInData, kMemo, 0},
};
constexpr OutputColumn kCommentColumns[] = {
    {kPageNo, kLong, 0},  {kID, kLong, 0},     {kColor, kInteger, 0},
    {kLeft, kInteger, 0}, {kTop, kInteger, 0}, {kText, kMemo, 0},
};
constexpr OutputColumn kKeyWordColumns[] = {
    {kPageNo, kLong, 0},        {kID, kLong, 0},          {kLeft, kInteger, 0},
    {kTop, kInteger, 0},        {kWidth, kInteger, 0},    {kHeight, kInteger, 0},
    {kKeyWord, kMemo, 0}, {kField, kMemo, 0},
};
constexpr OutputColumn kSquareColumns[] = {
    {kPageNo, kLong, 0}, {kID, kLong, 0},       {kColor, kInteger, 0},  {kLeft, kInteger, 0},
    {kTop, kInteger, 0}, {kWidth, kInteger, 0}, {kHeight, kInteger, 0},
};
constexpr OutputColumn kHyperLinkColumns[] = {
    {kPageNo, kLong, 0},   {kID, kLong, 0},        {kLeft, kInteger, 0},   {kTop, kInteger, 0},
    {kWidth, kInteger, 0}, {kHeight, kInteger, 0}, {kLinkInfo1, kMemo, 0}, {kLinkInfo2, kMemo, 0},
};

OutputTable Table(const char16_t* name, const char16_t* caption, const char* log_name,
                  std::span<const OutputColumn> columns) {
  return {name, u"SELECT * FROM [" + std::u16string(name) + u"]", caption, log_name, columns};
}

const std::vector<OutputTable>& Tables() {
  static const std::vector<OutputTable> tables = {
      Table(u"一覧_ページ", u"変換状況 …ﾍﾟｰｼﾞ [出力中]", "pages", kPageColumns),
      Table(u"一覧_埋め込みファイル", u"変換状況 …埋込ﾌｧｲﾙ [出力中]", "embedded files",
            kEmbedColumns),
      Table(u"一覧_コメント", u"変換状況 …ｺﾒﾝﾄ [出力中]", "comments", kCommentColumns),
      Table(u"一覧_キーワード", u"変換状況 …ｷｰﾜｰﾄﾞ [出力中]", "keywords", kKeyWordColumns),
      Table(u"一覧_範囲マーク", u"変換状況 …範囲ﾏｰｸ [出力中]", "range marks", kSquareColumns),
      Table(u"一覧_ハイパーリンク", u"変換状況 …ﾊｲﾊﾟｰﾘﾝｸ [出力中]", "hyperlinks",
            kHyperLinkColumns),
  };
  return tables;
}

}  // namespace

const OutputTable& OutputTableAt(int index) { return Tables()[size_t(index)]; }

Status OutputTableDefs(std::vector<jet::TableDef>* tables, bool primary_keys) {
  tables->clear();
  for (const OutputTable& table : Tables()) {
    jet::TableDef def;
    def.name = table.name;
    for (const OutputColumn& oc : table.columns) {
      jet::ColumnDef c;
      c.name = oc.name;
      c.type = oc.type;
      c.length = uint16_t(2 * oc.text_chars);
      def.columns.push_back(c);
    }
    KP_RETURN_IF_ERROR(jet::AssignColumnLayout(&def));
    for (const jet::ColumnDef& c : def.columns) {
      if (c.type == kTextType || c.type == kMemo) {
        jet::PropertyMap& props = def.properties.columns[c.name];
        props[u"Required"] = jet::BoolProperty(false);
        props[u"AllowZeroLength"] = jet::BoolProperty(true);
        // Matches the column's compressed-unicode flag, as Access keeps it.
        props[u"UnicodeCompression"] = jet::BoolProperty(true);
      }
      if (c.name == kAngle) {
        def.properties.columns[c.name][u"DefaultValue"] =
            jet::TextProperty(u"0", ColumnType::kMemo);
      }
    }
    if (primary_keys) {
      // PrimaryKey over No (pages) or (PageNo, ID), ascending, as Access
      // makes it: unique and required.
      jet::PhysicalIndex pk;
      pk.flags = 0x80 | jet::kIndexFlagUnique | jet::kIndexFlagRequired;
      for (const jet::ColumnDef& c : def.columns) {
        if (c.name == kNo || c.name == kPageNo) pk.columns.insert(pk.columns.begin(), {c.number, 0x01});
        if (c.name == kID) pk.columns.push_back({c.number, 0x01});
      }
      if (pk.columns.empty()) return Status::InvalidArgument("no key columns in " + std::string(table.log_name));
      def.physical_indexes.push_back(pk);
      jet::LogicalIndex li;
      li.name = u"PrimaryKey";
      li.kind = jet::kIndexKindPrimaryKey;
      def.logical_indexes.push_back(li);
    }
    tables->push_back(std::move(def));
  }
  return Status::OK();
}

}  // namespace kp
