#include <gtest/gtest.h>

#include <cmath>

#include "jet/header.h"
#include "jet/page_file.h"
#include "tests/support/jet_support.h"

namespace kp::jet {
namespace {

using testing::ReferencePath;

TEST(HeaderTest, DecodesAccessMadeHeader) {
  KP_SKIP_WITHOUT_REFERENCE();
  std::unique_ptr<PageFile> file;
  ASSERT_TRUE(PageFile::Open(ReferencePath("empty.mdb"), &file).ok());
  EXPECT_EQ(file->page_count(), 24u);
  HeaderInfo h;
  ASSERT_TRUE(DecodeHeader(file->Page(0), &h).ok());
  EXPECT_EQ(h.version, 1u);
  EXPECT_EQ(h.code_page, 1252);
  EXPECT_EQ(h.db_key, 0u);
  EXPECT_TRUE(h.password.empty());
  EXPECT_EQ(h.build, 8618u);
  EXPECT_EQ(h.sort_order, 0x0409);
  EXPECT_EQ(h.sort_version, 0);
  EXPECT_NEAR(h.creation_date, 38143.546523784724, 1e-9);
  EXPECT_EQ(PasswordDateMask(h.creation_date), 38143u);
  EXPECT_TRUE(CheckHeaderSupported(h).ok());
  // The known first stored bytes of the masked area.
  EXPECT_EQ(file->Page(0)[0x18], 0xB5);
  EXPECT_EQ(file->Page(0)[0x19], 0x6E);

  // Encoding the decoded fields back changes no byte.
  Bytes page(file->Page(0), file->Page(0) + kPageSize);
  EncodeHeader(h, page.data());
  EXPECT_TRUE(std::equal(page.begin(), page.end(), file->Page(0)));
}

TEST(HeaderTest, DateMaskAndPasswordRoundTrip) {
  KP_SKIP_WITHOUT_REFERENCE();
  std::unique_ptr<PageFile> file;
  ASSERT_TRUE(PageFile::Open(ReferencePath("adox_jet4.mdb"), &file).ok());
  HeaderInfo h;
  ASSERT_TRUE(DecodeHeader(file->Page(0), &h).ok());
  EXPECT_EQ(PasswordDateMask(h.creation_date), 42329u);
  EXPECT_TRUE(h.password.empty());

  // A new date moves the mask with it: the password stays empty.
  Bytes page(file->Page(0), file->Page(0) + kPageSize);
  h.creation_date = 45000.25;
  EncodeHeader(h, page.data());
  HeaderInfo back;
  ASSERT_TRUE(DecodeHeader(page.data(), &back).ok());
  EXPECT_TRUE(back.password.empty());
  EXPECT_EQ(back.creation_date, 45000.25);

  h.password = u"secret";
  EncodeHeader(h, page.data());
  ASSERT_TRUE(DecodeHeader(page.data(), &back).ok());
  EXPECT_EQ(back.password, u"secret");
  EXPECT_TRUE(CheckHeaderSupported(back).IsNotSupported());
}

TEST(HeaderTest, RefusesWhatItCannotRead) {
  HeaderInfo h;
  h.version = 1;
  EXPECT_TRUE(CheckHeaderSupported(h).ok());
  h.version = 0;  // Jet 3
  EXPECT_TRUE(CheckHeaderSupported(h).IsNotSupported());
  h.version = 2;  // Access 2007
  EXPECT_TRUE(CheckHeaderSupported(h).IsNotSupported());
  h.version = 1;
  h.db_key = 0x12345678;
  EXPECT_TRUE(CheckHeaderSupported(h).IsNotSupported());

  Bytes zeros(kPageSize, 0);
  EXPECT_TRUE(DecodeHeader(zeros.data(), &h).IsCorruption());
}

TEST(PageFileTest, BoundsAndTypes) {
  std::unique_ptr<PageFile> file;
  EXPECT_TRUE(PageFile::FromBytes(Bytes(), &file).IsCorruption());
  EXPECT_TRUE(PageFile::FromBytes(Bytes(kPageSize + 100, 0), &file).IsCorruption());
  EXPECT_TRUE(PageFile::Open("/nonexistent/x.mdb", &file).IsIOError());

  Bytes data(3 * kPageSize, 0);
  data[kPageSize] = kPageTypeData;
  data[kPageSize + 1] = 1;
  data[2 * kPageSize] = kPageTypeTdef;
  data[2 * kPageSize + 1] = 1;
  ASSERT_TRUE(PageFile::FromBytes(data, &file).ok());
  EXPECT_EQ(file->page_count(), 3u);
  Bytes page;
  EXPECT_TRUE(file->ReadPage(2, &page).ok());
  EXPECT_EQ(page.size(), kPageSize);
  Status s = file->ReadPage(3, &page);
  EXPECT_TRUE(s.IsCorruption());
  EXPECT_NE(s.message().find("page 3"), std::string::npos);
  const uint8_t* p = nullptr;
  EXPECT_TRUE(file->CheckedPage(1, kPageTypeData, "rows", &p).ok());
  EXPECT_TRUE(file->CheckedPage(2, kPageTypeData, "rows", &p).IsCorruption());
  EXPECT_TRUE(file->CheckedPage(0, kPageTypeData, "rows", &p).IsCorruption());
  EXPECT_TRUE(file->CheckedPage(0xFFFFFF, kPageTypeTdef, "table", &p).IsCorruption());
}

}  // namespace
}  // namespace kp::jet
