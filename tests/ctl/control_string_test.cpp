#include <gtest/gtest.h>

#include <string>

#include "ctl/function.h"

namespace kp {
namespace {

struct Decoded {
  bool ok;
  std::u16string text;
  size_t consumed;
};

Decoded Read(const std::string& bytes) {
  ControlStream s;
  s.data = reinterpret_cast<const uint8_t*>(bytes.data());
  s.size = bytes.size();
  Decoded d;
  d.ok = ReadControlString(&s, &d.text);
  d.consumed = s.pos;
  return d;
}

TEST(ControlStringTest, ExampleTable) {
  struct Case { std::string bytes; std::u16string text; size_t consumed; };
  const Case cases[] = {
      {std::string("\x03" "ABC", 4), u"ABC", 4},
      {std::string("\x04\x82\xA0\x82\xA2", 5), u"あい", 5},
      {std::string("\x00", 1), u"", 1},
      {std::string("\xFF\x00\x00", 3), u"", 3},
      {std::string("\xFF\xFF\xFF", 3), u"", 3},            // negative long length: no text bytes
      {std::string("\xFF\x01\x80" "XYZ", 6), u"", 3},       // -32767, still nothing read
      {std::string("\xFF\x0C\x00" "ENDOFCONTROL", 15), u"ENDOFCONTROL", 15},
      // A run of ASCII longer than sixteen bytes between double-byte characters.
      {std::string("\x1B\x82\xA0" "0123456789ABCDEFGHIJ" "\x82\xA2" "xyz", 28), u"あ0123456789ABCDEFGHIJいxyz", 28},
  };
  for (const Case& c : cases) {
    Decoded d = Read(c.bytes);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.text, c.text);
    EXPECT_EQ(d.consumed, c.consumed);
  }
  Decoded overflow = Read(std::string("\xFF\x00\x80" "AB", 5));
  EXPECT_FALSE(overflow.ok);
}

TEST(ControlStringTest, LeadByteInLastCountedPositionTakesItsTrail) {
  // Length 3: 'A', 'B', then 0x93 as a lead byte that takes 0xFA as its trail.
  Decoded d = Read(std::string("\x03" "AB\x93\xFA" "Z", 6));
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.text, u"AB\u65E5");  // 0x93FA is 日
  EXPECT_EQ(d.consumed, 5u);
  // The same with the trail missing at the end of the file.
  EXPECT_FALSE(Read(std::string("\x03" "AB\x93", 4)).ok);
}

TEST(ControlStringTest, PairedHalfWidthKatakanaStayTwoCharacters) {
  // Two half-width katakana bytes are paired by the rule but still read as
  // themselves; a katakana byte before an ASCII letter likewise.
  EXPECT_EQ(Read(std::string("\x02\xB1\xB2", 3)).text, u"ｱｲ");
  EXPECT_EQ(Read(std::string("\x02\xB1" "A", 3)).text, u"ｱA");
  // 0x80 alone is no character; the pair 0x85 0x40 is unassigned.
  EXPECT_EQ(Read(std::string("\x02\x85\x40", 3)).text, u"\uFFFD@");
  // A failed pair in the last counted position gives two characters for one counted byte.
  Decoded last = Read(std::string("\x01\x80" "A", 3));
  EXPECT_EQ(last.text, u"\uFFFDA");
  EXPECT_EQ(last.consumed, 3u);
}

TEST(ControlStringTest, MicrosoftMappingsAndExtensions) {
  EXPECT_EQ(Read(std::string("\x02\x81\x60", 3)).text, u"\uFF5E");  // wave dash as full-width tilde
  EXPECT_EQ(Read(std::string("\x02\x81\x5F", 3)).text, u"\uFF3C");  // full-width reverse solidus
  EXPECT_EQ(Read(std::string("\x02\x81\x7C", 3)).text, u"\uFF0D");
  EXPECT_EQ(Read(std::string("\x04\x81\x91\x81\x92", 5)).text, u"\uFFE0\uFFE1");  // full-width cent, pound
  EXPECT_EQ(Read(std::string("\x02\x87\x40", 3)).text, u"\u2460");  // NEC ①
  EXPECT_EQ(Read(std::string("\x02\xFA\x40", 3)).text, u"\u2170");  // IBM ⅰ
  EXPECT_EQ(Read(std::string("\x02\xED\x40", 3)).text, u"\u7E8A");  // NEC-selected IBM
  EXPECT_EQ(Read(std::string("\x02\xF0\x40", 3)).text, u"\uE000");  // user-defined area
  // A zero byte inside the text is a character, not an end.
  EXPECT_EQ(Read(std::string("\x03" "A\x00" "B", 4)).text, std::u16string(u"A\0B", 3));
}

TEST(ControlStringTest, LongTextNeedsLongPrefix) {
  std::string bytes = "\xFF\x2C\x01" + std::string(300, 'x');
  Decoded d = Read(bytes);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.text.size(), 300u);
  EXPECT_EQ(d.consumed, 303u);
  EXPECT_FALSE(Read(bytes.substr(0, 302)).ok);

  // A 3000-byte text of double-byte characters whose last counted byte is a
  // lead byte, and one made of failed pairs (two characters per pair).
  std::string kana;
  for (int i = 0; i < 1499; ++i) kana += "\x82\xA0";
  Decoded big = Read("\xFF\xB8\x0B" + kana + "A\x93\xFA" "Z");
  ASSERT_TRUE(big.ok);
  EXPECT_EQ(big.text, std::u16string(1499, u'あ') + u"A\u65E5");
  EXPECT_EQ(big.consumed, 3u + 3001u);
  Decoded bad = Read("\xFF\xB8\x0B" + std::string(3000, '\x80'));
  ASSERT_TRUE(bad.ok);
  EXPECT_EQ(bad.text, std::u16string(3000, u'\uFFFD'));
}

}  // namespace
}  // namespace kp
