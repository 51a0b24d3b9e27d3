// The main window's design, toolkit-free: every control with its name, kind,
// container, caption, place in twips, tab order, font and colours; the five
// lists' columns; the tab captions; the open dialog's filter; the windows'
// captions and sizes; the fonts with the faces that stand in for the design's
// where it is missing. Every toolkit builds its window from these tables and
// from nothing else, so that two windows cannot drift apart.
//
// Geometry is in twips (1/1440 inch, 15 twips a pixel at 96 dpi), relative to
// the client area of the control's container; a child of SSTab1 is measured
// from the tab control's own top-left corner. The layout on resize
// (form_layout.h) replaces some sizes at run time.
//
// The messages the window shows are the commands' own: the load's in
// ctl/load_command.h (LoadResult::message()), the export's in
// export/export_command.h; every message box carries kMessageBoxTitle.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kp {

// The controls, in tab order (the order of the inventory); kMainForm is the
// window itself, the container of the top-level controls.
enum class ControlId : int {
  kFrame1, kKPFileLoadButton, kProgressLoad,
  kFrame3, kLabel1, kTotalPage, kLabel3, kTotalTag, kLabel5, kTotalComment,
  kFrame4, kTotalKPE, kLabel4, kTotalSetKPE, kLabel6,
  kTotalKeyWord, kLabel7, kTotalSquare, kLabel9, kTotalHyperLink, kLabel11,
  kImageListView, kSSTab1,
  kCommentListView, kKeyWordListView, kSquareListView, kHyperLinkListView,
  kFrame2, kOutputMDB,
  kMainForm,
};
inline constexpr int kControlCount = int(ControlId::kMainForm);

enum class ControlKind { kFrame, kButton, kProgressBar, kLabel, kListView, kTabControl };
// kWindow is the window's own font, used by every control that names no other.
enum class FontRole { kWindow, kList, kCount };
enum class TextAlign { kLeft, kCentre, kRight };

struct Rgb {
  uint8_t r, g, b;
};

struct TwipsRect {
  int left, top, width, height;
};

struct ControlSpec {
  ControlId id;
  const char* name;              // the object name
  ControlKind kind;
  ControlId container;           // kMainForm, a frame or kSSTab1
  const char16_t* caption;       // the text at start; nullptr when it has none
  TwipsRect rect;
  int tab;                       // position in the tab order
  FontRole font;
  TextAlign align;               // labels
  bool auto_size;                // a label sized to its text (kFrame3CentreLine)
  bool enabled;                  // at start
  std::optional<Rgb> colour;     // a button's face, a list's background
};

// The whole inventory, indexed by ControlId (kMainForm has no entry).
std::span<const ControlSpec> Controls();
const ControlSpec& Control(ControlId id);

// In Frame3 the auto-sized caption labels keep this centre line.
inline constexpr int kFrame3CentreLine = 1020;

// The eight count labels, in the order the load sets them.
inline constexpr ControlId kCountLabels[] = {
    ControlId::kTotalKPE,     ControlId::kTotalSetKPE,  ControlId::kTotalPage,
    ControlId::kTotalTag,     ControlId::kTotalComment, ControlId::kTotalKeyWord,
    ControlId::kTotalSquare,  ControlId::kTotalHyperLink};

// The lists: the page list and the four detail lists in refill order.
inline constexpr ControlId kPageList = ControlId::kImageListView;
inline constexpr ControlId kDetailLists[] = {ControlId::kCommentListView, ControlId::kKeyWordListView,
                                             ControlId::kSquareListView, ControlId::kHyperLinkListView};
bool IsList(ControlId id);

struct ListColumn {
  const char16_t* header;
  int width_twips;
  bool right_aligned;
};
// The fixed columns of a list; empty for a control that is no list.
std::span<const ListColumn> ListColumns(ControlId list);

// SSTab1's tabs, left to right, each with the one list it holds; tab 0 is
// selected at start.
struct TabSpec {
  const char16_t* caption;
  ControlId list;
};
std::span<const TabSpec> Tabs();
// The height of the row of tabs.
inline constexpr int kTabRowHeightTwips = 295;

// The main window.
inline constexpr char16_t kMainFormCaption[] = u"ZIriRAV Convert Version 1.0";
inline constexpr int kClientWidthTwips = 11490;
inline constexpr int kClientHeightTwips = 8910;
// The frame the layout counts on, whatever frame the platform draws.
inline constexpr int kDesignFrameWidthTwips = 120;
inline constexpr int kDesignFrameHeightTwips = 405;

// The progress window of the export: caption at rest (export_command.h's
// kProgressIdleCaption), the client area, filled by its one bar.
inline constexpr char kProgressFormName[] = "SaveStateForm";
inline constexpr char kProgressBarName[] = "ProgressSave";
inline constexpr int kProgressClientWidthTwips = 4635;
inline constexpr int kProgressClientHeightTwips = 255;

// Every message box: OK only, no icon, this title.
inline constexpr char16_t kMessageBoxTitle[] = u"ZIriRAV Convert";

// The open dialog of the load ("name|pattern" pairs; the save dialog's is
// export_command.h's kSaveDialogFilter). Neither dialog sets a title: the
// platform's own stands.
inline constexpr char16_t kLoadDialogFilter[] = u"KPファイル (*.CTL)|*.CTL";

// A font role: the design's face first, then the faces that stand in for it,
// best first; "monospace" and "sans-serif" name the platform's generic face of
// that kind. A toolkit takes the first installed face of the list.
struct FontSpec {
  std::span<const char16_t* const> faces;
  float points;
  int pixels;        // at 96 dpi
  bool fixed_pitch;  // the lists' padded numbers line up only in a fixed-pitch face
};
const FontSpec& Font(FontRole role);

// The first of `faces` that `installed` says is there, else nullptr.
template <typename Installed>
const char16_t* PickFace(std::span<const char16_t* const> faces, Installed installed) {
  for (const char16_t* face : faces) {
    if (installed(std::u16string_view(face))) return face;
  }
  return nullptr;
}

// Twips to pixels at 96 dpi (15 twips a pixel), rounded to the nearest.
constexpr int TwipsToPixels(int twips) { return (twips + 7) / 15; }

}  // namespace kp
