#include "form/form_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace kp {
namespace {

using C = LayoutControl;
using P = LayoutProperty;

// A window in twips that may round every write to whole pixels, and that
// answers a change of its size by running the layout again, nested.
class FakeWindow : public LayoutSurface {
 public:
  FakeWindow(float w, float h, bool pixels = false) : w_(w), h_(h), pixels_(pixels) {
    // Design geometry.
    Put(C::kSSTab1, 2820, 6360, 8610, 2505);
    Put(C::kImageListView, 2820, 60, 8535, 6255);
    Put(C::kCommentListView, 60, 360, 8475, 1965);
    for (C c : {C::kKeyWordListView, C::kSquareListView, C::kHyperLinkListView}) Put(c, 60, 360, 8475, 2115);
  }

  LayoutWindowState State() const override { return state; }
  float OuterWidth() const override { return w_; }
  float OuterHeight() const override { return h_; }
  void SetOuterWidth(float v) override { w_ = Round(v); Resized(); }
  void SetOuterHeight(float v) override { h_ = Round(v); Resized(); }
  float Get(C c, P p) const override { return g_.at({c, p}); }
  void Set(C c, P p, float v) override { g_[{c, p}] = Round(v); }

  LayoutWindowState state = LayoutWindowState::kNormal;
  int nested_runs = 0;

 private:
  void Put(C c, float l, float t, float w, float h) {
    g_[{c, P::kLeft}] = l, g_[{c, P::kTop}] = t, g_[{c, P::kWidth}] = w, g_[{c, P::kHeight}] = h;
  }
  void Resized() {
    ++nested_runs;
    RunFormLayout(this);
  }
  float Round(float v) const { return pixels_ ? std::round(v / 15) * 15 : v; }

  float w_, h_;
  bool pixels_;
  std::map<std::pair<C, P>, float> g_;
};

struct Expected {
  float tab_top, tab_width, tab_height, list_width, list_height, page_width, page_height;
};

void ExpectLayout(const FakeWindow& f, const Expected& e) {
  EXPECT_EQ(f.Get(C::kSSTab1, P::kTop), e.tab_top);
  EXPECT_EQ(f.Get(C::kSSTab1, P::kWidth), e.tab_width);
  EXPECT_EQ(f.Get(C::kSSTab1, P::kHeight), e.tab_height);
  for (C c : {C::kCommentListView, C::kKeyWordListView, C::kSquareListView, C::kHyperLinkListView}) {
    EXPECT_EQ(f.Get(c, P::kWidth), e.list_width);
    EXPECT_EQ(f.Get(c, P::kHeight), e.list_height);
    EXPECT_EQ(f.Get(c, P::kLeft), 60);  // left alone
    EXPECT_EQ(f.Get(c, P::kTop), 360);
  }
  EXPECT_EQ(f.Get(C::kImageListView, P::kWidth), e.page_width);
  EXPECT_EQ(f.Get(C::kImageListView, P::kHeight), e.page_height);
  EXPECT_EQ(f.Get(C::kImageListView, P::kLeft), 2820);
  EXPECT_EQ(f.Get(C::kImageListView, P::kTop), 60);
  EXPECT_EQ(f.Get(C::kSSTab1, P::kLeft), 2820);
}

TEST(FormLayoutTest, WorkedValuesAndTheMinimum) {
  const struct {
    const char* name;
    float w, h;
    int nested;  // size changes the layout made
    Expected e;
  } cases[] = {
      {"minimum", 5000, 5000, 0, {1000, 2060, 3595, 1940, 3175, 2060, 910}},
      {"design", 11610, 9315, 0, {5315, 8670, 3595, 8550, 3175, 8670, 5225}},
      {"both below: one resize corrects both", 100, 200, 2, {1000, 2060, 3595, 1940, 3175, 2060, 910}},
      {"narrow only", 4000, 9315, 1, {5315, 2060, 3595, 1940, 3175, 2060, 5225}},
      {"taller: only the page list grows", 11610, 12315, 0, {8315, 8670, 3595, 8550, 3175, 8670, 8225}},
      {"wider", 15610, 9315, 0, {5315, 12670, 3595, 12550, 3175, 12670, 5225}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWindow f(c.w, c.h);
    RunFormLayout(&f);
    EXPECT_EQ(f.OuterWidth(), std::max(c.w, 5000.f));
    EXPECT_EQ(f.OuterHeight(), std::max(c.h, 5000.f));
    EXPECT_EQ(f.nested_runs, c.nested);
    ExpectLayout(f, c.e);
  }
}

TEST(FormLayoutTest, MinimisedChangesNothingAndRoundedValuesAreReadBack) {
  FakeWindow f(11610, 9315);
  f.state = LayoutWindowState::kMinimized;
  RunFormLayout(&f);
  EXPECT_EQ(f.Get(C::kSSTab1, P::kTop), 6360);  // still the design value
  f.state = LayoutWindowState::kNormal;  // restored
  RunFormLayout(&f);
  EXPECT_EQ(f.Get(C::kSSTab1, P::kTop), 5315);

  // Every step reads what the window kept: with whole pixels the tab control
  // still ends on the window's bottom edge (top + height + 405 = H).
  FakeWindow px(11617, 9322, true);
  RunFormLayout(&px);
  float top = px.Get(C::kSSTab1, P::kTop), height = px.Get(C::kSSTab1, P::kHeight);
  EXPECT_EQ(top, 5325);  // 5322 rounded to pixels
  EXPECT_EQ(top + height + 405, std::round(9322.f / 15) * 15);
  EXPECT_EQ(px.Get(C::kCommentListView, P::kHeight), height - 420);
}

}  // namespace
}  // namespace kp
