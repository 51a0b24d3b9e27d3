#include "base/status.h"

#include <gtest/gtest.h>

namespace kp {
namespace {

TEST(StatusTest, CarriesKindMessageAndContext) {
  EXPECT_TRUE(Status::OK().ok());
  Status s = Status::Corruption("bad row offset").WithContext("page 14");
  EXPECT_TRUE(s.IsCorruption());
  EXPECT_EQ(s.ToString(), "Corruption: page 14: bad row offset");
  EXPECT_EQ(Status::OK().WithContext("x").ToString(), "OK");
}

}  // namespace
}  // namespace kp
