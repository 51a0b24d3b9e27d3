#include "model/control_document.h"

#include <gtest/gtest.h>

namespace kp {
namespace {

TEST(DocumentModelTest, AngleCodesGiveDegreesOnlyFromOneToFour) {
  EXPECT_EQ(AngleDegrees(1), 0);
  EXPECT_EQ(AngleDegrees(4), 270);
  EXPECT_EQ(AngleDegrees(0), -1);
  EXPECT_EQ(AngleDegrees(5), -1);
}

}  // namespace
}  // namespace kp
