// The main window's layout on resize, over a small interface so that it runs
// the same on the real window and on a test's fake.
//
// All values are twips (15 per pixel at 96 dpi) as single-precision numbers.
// The steps run in a fixed order, and each reads its inputs afresh from the
// surface (which may have rounded an earlier write, for instance to whole
// pixels). Setting the outer width or height below the minimum changes the
// window's size, which a surface may answer by running the layout nested,
// to completion, before the outer run goes on.
//
// User-interface thread only; keeps no state between runs.
#pragma once

namespace kp {

enum class LayoutControl {
  kSSTab1,
  kCommentListView,
  kKeyWordListView,
  kSquareListView,
  kHyperLinkListView,
  kImageListView,
};

enum class LayoutProperty { kLeft, kTop, kWidth, kHeight };
enum class LayoutWindowState { kNormal, kMinimized, kMaximized };

class LayoutSurface {
 public:
  virtual ~LayoutSurface() = default;
  virtual LayoutWindowState State() const = 0;
  // The outer size: title bar and borders included.
  virtual float OuterWidth() const = 0;
  virtual float OuterHeight() const = 0;
  virtual void SetOuterWidth(float width) = 0;
  virtual void SetOuterHeight(float height) = 0;
  virtual float Get(LayoutControl control, LayoutProperty property) const = 0;
  virtual void Set(LayoutControl control, LayoutProperty property, float value) = 0;
};

inline constexpr float kMinimumOuterWidth = 5000;
inline constexpr float kMinimumOuterHeight = 5000;

// Form_Resize: lays out the tab control, its four lists and the page list.
void RunFormLayout(LayoutSurface* surface);

}  // namespace kp
