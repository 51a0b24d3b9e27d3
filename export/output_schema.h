// The six tables of the output database, defined once: the template KP.dbd is
// written from these definitions, the row mapping fills the same tables by
// the same column names, and the tests read both from here.
//
//   #  table                 caption while it is written
//   0  一覧_ページ           変換状況 …ﾍﾟｰｼﾞ [出力中]
//   1  一覧_埋め込みファイル 変換状況 …埋込ﾌｧｲﾙ [出力中]
//   2  一覧_コメント         変換状況 …ｺﾒﾝﾄ [出力中]
//   3  一覧_キーワード       変換状況 …ｷｰﾜｰﾄﾞ [出力中]
//   4  一覧_範囲マーク       変換状況 …範囲ﾏｰｸ [出力中]
//   5  一覧_ハイパーリンク   変換状況 …ﾊｲﾊﾟｰﾘﾝｸ [出力中]
//
// Their columns, in order, are in output_schema.cpp.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/jet.h"

namespace kp {

// The column names, each written once.
namespace column {
inline constexpr char16_t kNo[] = u"No";
inline constexpr char16_t kName[] = u"Name";
inline constexpr char16_t kIsTag[] = u"IsTag";
inline constexpr char16_t kLevel[] = u"Level";
inline constexpr char16_t kFileName[] = u"FileName";
inline constexpr char16_t kImageLen[] = u"ImageLen";
inline constexpr char16_t kAngle[] = u"Angle";
inline constexpr char16_t kPageNo[] = u"PageNo";
inline constexpr char16_t kID[] = u"ID";
inline constexpr char16_t kKpeFileName[] = u"KPE_FileName";
inline constexpr char16_t kInData[] = u"InData";
inline constexpr char16_t kColor[] = u"Color";
inline constexpr char16_t kLeft[] = u"Left";
inline constexpr char16_t kTop[] = u"Top";
inline constexpr char16_t kWidth[] = u"Width";
inline constexpr char16_t kHeight[] = u"Height";
inline constexpr char16_t kText[] = u"Text";
inline constexpr char16_t kKeyWord[] = u"KeyWord";
inline constexpr char16_t kField[] = u"Field";
inline constexpr char16_t kLinkInfo1[] = u"LinkInfo1";
inline constexpr char16_t kLinkInfo2[] = u"LinkInfo2";
}  // namespace column

struct OutputColumn {
  const char16_t* name;
  jet::ColumnType type;
  uint16_t text_chars;  // n of Text(n); 0 for the other types
};

struct OutputTable {
  const char16_t* name;     // table name in the template
  std::u16string query;     // "SELECT * FROM [name]"
  const char16_t* caption;  // progress-window caption while it is written
  const char* log_name;     // short ASCII name for causes and logs
  std::span<const OutputColumn> columns;
};

constexpr int kOutputTableCount = 6;

// REQUIRES: 0 <= index < kOutputTableCount.
const OutputTable& OutputTableAt(int index);

// The six tables in the order the export writes them, columns laid out
// (numbers, offsets, flags) and with their column properties: every Text and
// Memo column allows zero-length strings, none is required, and `Angle` has
// DefaultValue 0. Text and Memo columns compress unicode (flag and property).
// With `primary_keys`, each table has the index PrimaryKey: over No in the
// pages table, over (PageNo, ID) in the other five. The template is written
// with them (bench/export_keys_bench.cpp measures what they cost).
Status OutputTableDefs(std::vector<jet::TableDef>* tables, bool primary_keys = false);

}  // namespace kp
