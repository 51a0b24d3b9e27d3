#include "form/form_design.h"

#include <iterator>

namespace kp {

namespace {

using C = ControlId;
using K = ControlKind;
using F = FontRole;
using A = TextAlign;

constexpr Rgb kLoadFace{255, 255, 192};
constexpr Rgb kOutputFace{192, 255, 192};
constexpr Rgb kTint{224, 255, 255};

// Caption labels are centred; count labels right-aligned in the box from 1980
// to 2580 of their frame, in the count font.
constexpr ControlSpec Frame(C id, const char* name, const char16_t* caption, TwipsRect r, int tab) {
  return {id, name, K::kFrame, C::kMainForm, caption, r, tab, F::kWindow, A::kLeft, false, true, {}};
}
constexpr ControlSpec Label(C id, const char* name, C frame, const char16_t* caption, TwipsRect r, int tab,
                            bool auto_size = false) {
  return {id, name, K::kLabel, frame, caption, r, tab, F::kWindow, A::kCentre, auto_size, true, {}};
}
constexpr ControlSpec Count(C id, const char* name, C frame, int top, int tab) {
  return {id, name, K::kLabel, frame, u"0", {1980, top, 600, 240}, tab, F::kCount, A::kRight, false, true, {}};
}
constexpr ControlSpec List(C id, const char* name, C container, TwipsRect r, int tab, std::optional<Rgb> tint) {
  return {id, name, K::kListView, container, nullptr, r, tab, F::kList, A::kLeft, false, true, tint};
}

constexpr ControlSpec kInventory[] = {
    Frame(C::kFrame1, "Frame1", u"ﾌｧｲﾙ読込", {60, 60, 2715, 945}, 0),
    {C::kKPFileLoadButton, "KPFileLoadButton", K::kButton, C::kFrame1, u"KPファイル読込",
     {60, 240, 2595, 375}, 1, F::kWindow, A::kCentre, false, true, kLoadFace},
    {C::kProgressLoad, "ProgressLoad", K::kProgressBar, C::kFrame1, nullptr, {60, 630, 2595, 255}, 2,
     F::kWindow, A::kLeft, false, true, {}},
    Frame(C::kFrame3, "Frame3", u"総合情報", {60, 2640, 2715, 1755}, 3),
    Label(C::kLabel1, "Label1", C::kFrame3, u"ﾍﾟｰｼﾞ", {810, 240, 420, 180}, 4, true),
    Count(C::kTotalPage, "TotalPage", C::kFrame3, 210, 5),
    Label(C::kLabel3, "Label3", C::kFrame3, u"ﾀｸﾞ", {900, 480, 240, 180}, 6, true),
    Count(C::kTotalTag, "TotalTag", C::kFrame3, 450, 7),
    Label(C::kLabel5, "Label5", C::kFrame3, u"ｺﾒﾝﾄ", {120, 720, 1800, 180}, 8),
    Count(C::kTotalComment, "TotalComment", C::kFrame3, 690, 9),
    Frame(C::kFrame4, "Frame4", u"埋め込みﾌｧｲﾙ情報", {60, 1800, 2715, 795}, 10),
    Count(C::kTotalKPE, "TotalKPE", C::kFrame4, 240, 11),
    Label(C::kLabel4, "Label4", C::kFrame4, u"登録ﾌｧｲﾙ総数", {480, 285, 1140, 180}, 12),
    Count(C::kTotalSetKPE, "TotalSetKPE", C::kFrame4, 480, 13),
    Label(C::kLabel6, "Label6", C::kFrame4, u"使用回数", {660, 525, 720, 180}, 14),
    Count(C::kTotalKeyWord, "TotalKeyWord", C::kFrame3, 930, 15),
    Label(C::kLabel7, "Label7", C::kFrame3, u"ｷｰﾜｰﾄﾞ", {120, 960, 1800, 180}, 16),
    Count(C::kTotalSquare, "TotalSquare", C::kFrame3, 1170, 17),
    Label(C::kLabel9, "Label9", C::kFrame3, u"範囲ﾏｰｸ", {120, 1200, 1800, 180}, 18),
    Count(C::kTotalHyperLink, "TotalHyperLink", C::kFrame3, 1410, 19),
    Label(C::kLabel11, "Label11", C::kFrame3, u"ﾊｲﾊﾟｰﾘﾝｸ", {120, 1440, 1800, 180}, 20),
    List(C::kImageListView, "ImageListView", C::kMainForm, {2820, 60, 8535, 6255}, 21, {}),
    {C::kSSTab1, "SSTab1", K::kTabControl, C::kMainForm, nullptr, {2820, 6360, 8610, 2505}, 22,
     F::kWindow, A::kLeft, false, true, {}},
    List(C::kCommentListView, "CommentListView", C::kSSTab1, {60, 360, 8475, 1965}, 23, kTint),
    List(C::kKeyWordListView, "KeyWordListView", C::kSSTab1, {60, 360, 8475, 2115}, 24, kTint),
    List(C::kSquareListView, "SquareListView", C::kSSTab1, {60, 360, 8475, 2115}, 25, kTint),
    List(C::kHyperLinkListView, "HyperLinkListView", C::kSSTab1, {60, 360, 8475, 2115}, 26, kTint),
    Frame(C::kFrame2, "Frame2", u"ﾌｧｲﾙ出力", {60, 1080, 2715, 675}, 27),
    {C::kOutputMDB, "OutputMDB", K::kButton, C::kFrame2, u"MDBファイル出力", {60, 240, 2595, 375}, 28,
     F::kWindow, A::kCentre, false, false, kOutputFace},
};
static_assert(std::size(kInventory) == size_t(kControlCount));

constexpr bool InventoryInOrder() {
  for (size_t i = 0; i < std::size(kInventory); ++i) {
    if (kInventory[i].id != ControlId(i) || kInventory[i].tab != int(i)) return false;
  }
  return true;
}
static_assert(InventoryInOrder(), "the inventory is indexed by ControlId, in tab order");

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

constexpr TabSpec kTabs[] = {
    {u"ｺﾒﾝﾄ一覧", ControlId::kCommentListView},
    {u"ｷｰﾜｰﾄﾞ一覧", ControlId::kKeyWordListView},
    {u"範囲ﾏｰｸ一覧", ControlId::kSquareListView},
    {u"ﾊｲﾊﾟｰﾘﾝｸ一覧", ControlId::kHyperLinkListView},
};

// The lists' face: the design's fixed-pitch Gothic, then fixed-pitch faces
// that hold Japanese, then fixed-pitch Latin ones (Japanese text falls back
// per glyph; the padded numbers still line up), and only last a Gothic whose
// Latin letters are proportional.
constexpr const char16_t* kFixedGothic[] = {
    u"ＭＳ ゴシック",     u"MS Gothic",        u"IPAGothic",      u"Noto Sans Mono CJK JP",
    u"TakaoGothic",      u"VL Gothic",        u"DejaVu Sans Mono", u"Noto Sans Mono",
    u"Liberation Mono",  u"monospace",        u"IPAexGothic",
};
constexpr const char16_t* kProportionalGothic[] = {
    u"ＭＳ Ｐゴシック", u"MS PGothic", u"IPAPGothic", u"IPAexGothic", u"Noto Sans CJK JP",
};

const FontSpec kFonts[] = {
    {kProportionalGothic, 9.0f, 12, false},   // the window's own
    {kFixedGothic, 9.75f, 13, true},          // the five lists
    {kProportionalGothic, 12.0f, 16, false},  // the eight counts
};

}  // namespace

std::span<const ControlSpec> Controls() { return kInventory; }

const ControlSpec& Control(ControlId id) { return kInventory[size_t(id)]; }

bool IsList(ControlId id) {
  return id != ControlId::kMainForm && Control(id).kind == ControlKind::kListView;
}

std::span<const ListColumn> ListColumns(ControlId list) {
  switch (list) {
    case ControlId::kImageListView: return kPageColumns;
    case ControlId::kCommentListView: return kCommentColumns;
    case ControlId::kKeyWordListView: return kKeyWordColumns;
    case ControlId::kSquareListView: return kSquareColumns;
    case ControlId::kHyperLinkListView: return kHyperLinkColumns;
    default: return {};
  }
}

std::span<const TabSpec> Tabs() { return kTabs; }

const FontSpec& Font(FontRole role) { return kFonts[size_t(role)]; }

}  // namespace kp
