#include <gtest/gtest.h>

#include "model/control_document.h"
#include "model/status.h"

namespace kp {
namespace {

TEST(StatusTest, CarriesKindMessageAndContext) {
  EXPECT_TRUE(Status::OK().ok());
  Status s = Status::Corruption("bad row offset").WithContext("page 14");
  EXPECT_TRUE(s.IsCorruption());
  EXPECT_EQ(s.ToString(), "Corruption: page 14: bad row offset");
  EXPECT_EQ(Status::OK().WithContext("x").ToString(), "OK");
}

TEST(DocumentModelTest, AngleCodesGiveDegreesOnlyFromOneToFour) {
  EXPECT_EQ(AngleDegrees(1), 0);
  EXPECT_EQ(AngleDegrees(4), 270);
  EXPECT_EQ(AngleDegrees(0), -1);
  EXPECT_EQ(AngleDegrees(5), -1);
}

}  // namespace
}  // namespace kp
