#include "base/text_util.h"

#include <gtest/gtest.h>

namespace kp {
namespace {

// Every name in a message or a path goes through these two; an unpaired
// surrogate or a broken UTF-8 sequence becomes U+FFFD, never bytes that are
// not UTF-8.
TEST(TextUtilTest, Utf16ToUtf8AndBack) {
  const struct {
    std::u16string utf16;
    std::string utf8;
  } cases[] = {
      {u"MSysObjects", "MSysObjects"},
      {u"é一覧ｶ", "\xC3\xA9\xE4\xB8\x80\xE8\xA6\xA7\xEF\xBD\xB6"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},                              // a surrogate pair
      {std::u16string(1, char16_t(0xD800)) + u"a", "\xEF\xBF\xBD" "a"},  // lone high surrogate
      {u"a" + std::u16string(1, char16_t(0xDC00)), "a\xEF\xBF\xBD"},     // lone low surrogate
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
    if (c.utf8.find("\xEF\xBF\xBD") == std::string::npos) EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
  }
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
}

}  // namespace
}  // namespace kp
