#include "export/jet/kp_schema.h"

#include "export/jet/props.h"
#include "export/jet/tdef_write.h"

namespace kp::jet {

namespace {

struct ColumnSpec {
  const char16_t* name;
  ColumnType type;
  uint16_t text_chars;  // Text(n)
};

constexpr ColumnType kLong = ColumnType::kLong;
constexpr ColumnType kInteger = ColumnType::kInteger;
constexpr ColumnType kByte = ColumnType::kByte;
constexpr ColumnType kBoolean = ColumnType::kBoolean;
constexpr ColumnType kText = ColumnType::kText;
constexpr ColumnType kMemo = ColumnType::kMemo;

struct TableSpec {
  const char16_t* name;
  std::vector<ColumnSpec> columns;
};

// Every text column is Memo where a document text can be longer than 255
// characters (a control-file text holds up to 32,767 bytes).
const std::vector<TableSpec>& Tables() {
  static const std::vector<TableSpec> tables = {
      {u"一覧_ページ",
       {{u"No", kLong, 0},
        {u"Name", kMemo, 0},
        {u"IsTag", kBoolean, 0},
        {u"Level", kByte, 0},
        {u"FileName", kMemo, 0},
        {u"ImageLen", kLong, 0},
        {u"Angle", kInteger, 0}}},
      {u"一覧_埋め込みファイル",
       {{u"PageNo", kLong, 0}, {u"ID", kLong, 0}, {u"KPE_FileName", kMemo, 0}, {u"InData", kMemo, 0}}},
      {u"一覧_コメント",
       {{u"PageNo", kLong, 0},
        {u"ID", kLong, 0},
        {u"Color", kInteger, 0},
        {u"Left", kInteger, 0},
        {u"Top", kInteger, 0},
        {u"Text", kMemo, 0}}},
      {u"一覧_キーワード",
       {{u"PageNo", kLong, 0},
        {u"ID", kLong, 0},
        {u"Left", kInteger, 0},
        {u"Top", kInteger, 0},
        {u"Width", kInteger, 0},
        {u"Height", kInteger, 0},
        {u"KeyWord", kMemo, 0},
        {u"Field", kMemo, 0}}},
      {u"一覧_範囲マーク",
       {{u"PageNo", kLong, 0},
        {u"ID", kLong, 0},
        {u"Color", kInteger, 0},
        {u"Left", kInteger, 0},
        {u"Top", kInteger, 0},
        {u"Width", kInteger, 0},
        {u"Height", kInteger, 0}}},
      {u"一覧_ハイパーリンク",
       {{u"PageNo", kLong, 0},
        {u"ID", kLong, 0},
        {u"Left", kInteger, 0},
        {u"Top", kInteger, 0},
        {u"Width", kInteger, 0},
        {u"Height", kInteger, 0},
        {u"LinkInfo1", kMemo, 0},
        {u"LinkInfo2", kMemo, 0}}},
  };
  return tables;
}

}  // namespace

Status KpTableDefs(std::vector<TableDef>* tables) {
  tables->clear();
  for (const TableSpec& layout : Tables()) {
    TableDef def;
    def.name = layout.name;
    for (const ColumnSpec& cs : layout.columns) {
      ColumnDef c;
      c.name = cs.name;
      c.type = cs.type;
      c.length = uint16_t(2 * cs.text_chars);
      def.columns.push_back(c);
    }
    KP_RETURN_IF_ERROR(AssignColumnLayout(&def));
    for (const ColumnDef& c : def.columns) {
      if (c.type == kText || c.type == kMemo) {
        PropertyMap& props = def.properties.columns[c.name];
        props[u"Required"] = BoolProperty(false);
        props[u"AllowZeroLength"] = BoolProperty(true);
        // Matches the column's compressed-unicode flag, as Access keeps it.
        props[u"UnicodeCompression"] = BoolProperty(true);
      }
      if (c.name == u"Angle") def.properties.columns[c.name][u"DefaultValue"] = TextProperty(u"0", ColumnType::kMemo);
    }
    tables->push_back(std::move(def));
  }
  return Status::OK();
}

}  // namespace kp::jet
