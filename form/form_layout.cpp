#include "form/form_layout.h"

namespace kp {

namespace {
constexpr float kTabOffset = 4000;        // window bottom up to the tab control's top
constexpr float kRightMargin = 120;       // after the tab control's right edge
constexpr float kBottomMargin = 405;      // below the tab control
constexpr float kListWidthInset = 120;    // tab control width less its lists' width
constexpr float kListHeightInset = 420;   // tab control height less its lists' height
constexpr float kPageListBottom = 495;    // below the page list, besides the tab control

constexpr LayoutControl kOtherLists[] = {LayoutControl::kKeyWordListView,
                                         LayoutControl::kSquareListView,
                                         LayoutControl::kHyperLinkListView};
}  // namespace

void RunFormLayout(LayoutSurface* s) {
  using C = LayoutControl;
  using P = LayoutProperty;
  if (s->State() == LayoutWindowState::kMinimized) return;                        // 1
  if (s->OuterWidth() < kMinimumOuterWidth) s->SetOuterWidth(kMinimumOuterWidth);    // 2
  if (s->OuterHeight() < kMinimumOuterHeight) s->SetOuterHeight(kMinimumOuterHeight);  // 3
  s->Set(C::kSSTab1, P::kTop, s->OuterHeight() - kTabOffset);                    // 4
  s->Set(C::kSSTab1, P::kWidth,
         s->OuterWidth() - s->Get(C::kSSTab1, P::kLeft) - kRightMargin);         // 5
  s->Set(C::kSSTab1, P::kHeight,
         s->OuterHeight() - s->Get(C::kSSTab1, P::kTop) - kBottomMargin);        // 6
  s->Set(C::kCommentListView, P::kWidth, s->Get(C::kSSTab1, P::kWidth) - kListWidthInset);     // 7
  s->Set(C::kCommentListView, P::kHeight, s->Get(C::kSSTab1, P::kHeight) - kListHeightInset);  // 8
  for (C list : kOtherLists) {                                                   // 9-11
    s->Set(list, P::kWidth, s->Get(C::kCommentListView, P::kWidth));
    s->Set(list, P::kHeight, s->Get(C::kCommentListView, P::kHeight));
  }
  s->Set(C::kImageListView, P::kWidth, s->Get(C::kSSTab1, P::kWidth));           // 12
  s->Set(C::kImageListView, P::kHeight,
         s->OuterHeight() - s->Get(C::kSSTab1, P::kHeight) - kPageListBottom);   // 13
}

}  // namespace kp
