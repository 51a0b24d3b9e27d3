// Data-page building: free-space arithmetic, the exact fill, the 255-row
// limit, and continuing a page that is already on disk.
#include "jet/data_page.h"

#include <gtest/gtest.h>

namespace kp::jet {
namespace {

TEST(DataPageTest, FillsExactlyAndKeepsRowsContiguous) {
  DataPageBuilder b(14);
  EXPECT_EQ(b.page()[0], 0x01);
  EXPECT_EQ(GetU16(&b.page()[2]), 4082);
  EXPECT_EQ(GetU32(&b.page()[4]), 14u);
  uint8_t n = 0;
  ASSERT_TRUE(b.AddRow(Bytes(75, 0xAA), &n).ok());
  EXPECT_EQ(n, 0);
  EXPECT_EQ(GetU16(&b.page()[14]), 4096 - 75);
  // Fill the rest to the last byte: 4082 - 77 = 4005 left, one row of 4003.
  EXPECT_FALSE(b.Fits(4004));
  EXPECT_TRUE(b.Fits(4003));
  ASSERT_TRUE(b.AddRow(Bytes(4003, 0xBB), &n).ok());
  EXPECT_EQ(n, 1);
  EXPECT_EQ(b.free_space(), 0u);
  EXPECT_EQ(GetU16(&b.page()[2]), 0);
  EXPECT_EQ(GetU16(&b.page()[12]), 2);
  EXPECT_EQ(GetU16(&b.page()[16]), 18);  // right after the offset table
  EXPECT_EQ(b.page()[18], 0xBB);
  EXPECT_EQ(b.page()[4096 - 75], 0xAA);
  EXPECT_FALSE(b.Fits(1));
  EXPECT_FALSE(b.AddRow(Bytes(1), &n).ok());
  EXPECT_FALSE(b.Fits(0));
}

TEST(DataPageTest, StopsAt255Rows) {
  DataPageBuilder b(kDataPageLvalOwner);
  EXPECT_EQ(std::string(b.page().begin() + 4, b.page().begin() + 8), "LVAL");
  uint8_t n = 0;
  for (int i = 0; i < 255; ++i) ASSERT_TRUE(b.AddRow(Bytes(4, uint8_t(i)), &n).ok());
  EXPECT_EQ(n, 254);
  EXPECT_GT(b.free_space(), 100u);
  EXPECT_FALSE(b.Fits(4));
}

TEST(DataPageTest, ContinuesAPageFromDisk) {
  DataPageBuilder a(7);
  uint8_t n = 0;
  ASSERT_TRUE(a.AddRow(Bytes(100, 1), &n).ok());
  ASSERT_TRUE(a.AddRow(Bytes(50, 2), &n).ok());
  DataPageBuilder b;
  ASSERT_TRUE(b.Load(a.page().data(), 3).ok());
  EXPECT_EQ(b.row_count(), 2);
  EXPECT_EQ(b.free_space(), a.free_space());
  ASSERT_TRUE(b.AddRow(Bytes(10, 3), &n).ok());
  EXPECT_EQ(n, 2);
  EXPECT_EQ(GetU16(&b.page()[18]), 4096 - 160);
  EXPECT_EQ(GetU16(&b.page()[2]), 4082 - 166);

  Bytes bad = a.page();
  PutU16(&bad[14], 5);  // inside the header
  Status s = b.Load(bad.data(), 3);
  EXPECT_TRUE(s.IsCorruption());
  EXPECT_NE(s.message().find("page 3"), std::string::npos);
  bad = a.page();
  PutU16(&bad[12], 2000);  // impossible row count
  EXPECT_FALSE(b.Load(bad.data(), 3).ok());
  bad[0] = 0x02;
  EXPECT_FALSE(b.Load(bad.data(), 3).ok());
}

}  // namespace
}  // namespace kp::jet
