#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "ctl/control_reader.h"
#include "ctl/load_command.h"
#include "base/text_util.h"
#include "tests/support/ctl_writer.h"

namespace kp {
namespace {

using testing::ControlWriteOptions;
using testing::EncodeControlFile;
using testing::SimplePage;

// Every image exists and is 2048 bytes, except names listed as missing.
class FakeSizer : public ImageSizer {
 public:
  bool Measure(const Path& folder, const std::u16string& name, int64_t* size,
               std::string* cause) override {
    ++calls;
    const std::u16string path = Utf8ToUtf16(PathToUtf8(folder)) + name;
    if (path.find(u"MISSING") != std::u16string::npos) {
      *cause = "image file not found";
      return false;
    }
    *size = path.find(u"HUGE") != std::u16string::npos ? (int64_t(1) << 31) : 2048;
    return true;
  }
  int calls = 0;
};

ControlReadResult Parse(const std::string& bytes, ControlDocument* doc, FakeSizer* sizer = nullptr) {
  FakeSizer local;
  return ParseControlFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), "/doc",
                          sizer ? sizer : &local, doc);
}

ControlDocument RichDocument() {
  ControlDocument doc;
  doc.Header.HeaderByte = 7;
  doc.Header.HeaderLong = -5;
  doc.EmbeddedFiles = {{11, u"埋込.KPE", u"データ"}, {12, u"B.KPE", u""}};
  doc.EmbeddedFileCount = 2;
  PageRecord p = SimplePage(1);
  p.Level = 3;
  p.IsTag = 2;
  p.Name = u"目次";
  p.AuxText = u"aux";
  p.Angle = 2;
  p.Comments = {{-1, 10, 20, u"コメント"}, {5, 0, 0, u""}};
  p.CommentCount = 2;
  p.KeyWords = {{1, 2, 3, 4, u"鍵", u"欄"}};
  p.KeyWordCount = 1;
  p.Squares = {{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}, {-1, -2, -3, -4, -5}};
  p.SquareCount = 3;
  p.HyperLinks = {{1, 2, 3, 4, u"http://x", u"ﾘﾝｸﾞ"}};
  p.HyperLinkCount = 1;
  p.Embeds = {{1}, {99}};
  p.EmbedCount = 2;
  doc.Pages = {p, SimplePage(2)};
  doc.PageCount = 2;
  return doc;
}

TEST(ControlReaderTest, SixtyFiveByteFile) {
  const std::string bytes(
      "\x90\x01\x40\x4B\x50\x4C\x01" "\x00" "\x00\x00\x00\x00" "\x00\x00\x00\x00" "\x00\x00\x00\x00"
      "\x07\x5C\x50\x31\x2E\x54\x49\x46" "\x00\x00" "\x01" "\x00\x00\x00\x00" "\x02" "\x01\x41" "\x00" "\x00"
      "\x01" "\x00" "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x0C" "ENDOFCONTROL",
      65);
  ControlDocument doc;
  ASSERT_TRUE(Parse(bytes, &doc).ok());
  ASSERT_EQ(doc.PageCount, 1);
  EXPECT_EQ(doc.Pages[0].FileName, u"\\P1.TIF");
  EXPECT_EQ(doc.Pages[0].Level, 1);
  EXPECT_TRUE(doc.Pages[0].IsTagged());
  EXPECT_EQ(doc.Pages[0].Name, u"A");
  EXPECT_EQ(doc.Pages[0].Angle, 1);
  EXPECT_EQ(doc.Pages[0].ImageLen, 2048);
  EXPECT_EQ(EncodeControlFile(doc), bytes);  // the test writer agrees byte for byte
}

TEST(ControlReaderTest, RoundTripOfEveryFieldInBothStringForms) {
  for (auto form : {testing::StringForm::kShort, testing::StringForm::kLong}) {
    ControlWriteOptions options;
    options.form = form;
    options.trailing_bytes = EncodeControlFile(RichDocument()).substr(100);  // ignored tail
    ControlDocument doc;
    ASSERT_TRUE(Parse(EncodeControlFile(RichDocument(), options), &doc).ok());
    ControlDocument want = RichDocument();
    EXPECT_EQ(doc.Header.HeaderByte, 7);
    EXPECT_EQ(doc.Header.HeaderLong, -5);
    ASSERT_EQ(doc.EmbeddedFiles.size(), 2u);
    EXPECT_EQ(doc.EmbeddedFiles[0].EntryValue, 11);
    EXPECT_EQ(doc.EmbeddedFiles[0].InData, u"データ");
    ASSERT_EQ(doc.PageCount, 2);
    const PageRecord& p = doc.Pages[0];
    EXPECT_EQ(p.Name, u"目次");
    EXPECT_EQ(p.AuxText, u"aux");
    EXPECT_EQ(p.Comments[0].Text, u"コメント");
    EXPECT_EQ(p.Comments[0].Color, -1);
    EXPECT_EQ(p.KeyWords[0].Field, u"欄");
    EXPECT_EQ(p.Squares.size(), 3u);
    EXPECT_EQ(p.Squares[2].Height, -5);
    EXPECT_EQ(p.HyperLinks[0].LinkInfo2, u"ﾘﾝｸﾞ");
    EXPECT_EQ(p.Embeds[1].RegisterIndex, 99);  // outside the register, kept as read
    EXPECT_EQ(doc.Pages[1].CommentCount, 0);
    EXPECT_TRUE(doc.Pages[1].Comments.empty());
  }
}

TEST(ControlReaderTest, EveryTruncationFailsCleanly) {
  const std::string bytes = EncodeControlFile(RichDocument());
  for (size_t n = 0; n < bytes.size(); ++n) {
    ControlDocument doc;
    ControlReadResult r = Parse(bytes.substr(0, n), &doc);
    EXPECT_FALSE(r.ok()) << n;
    EXPECT_EQ(r.kind, ControlReadResult::Kind::kReadFailure) << n;
  }
  // A short file that does not start like the magic is not a control file.
  ControlDocument doc;
  EXPECT_EQ(Parse("KP", &doc).kind, ControlReadResult::Kind::kWrongMagic);
  EXPECT_EQ(Parse(std::string("\x90\x01\x40\x4B\x50\x4C\x02"), &doc).kind, ControlReadResult::Kind::kWrongMagic);
}

// Read from a file through a window of a few bytes, every prefix of a file
// gives exactly what parsing it in memory gives: the same outcome, cause and
// offset, or the same document.
TEST(ControlReaderTest, ReadingThroughAWindowMatchesParsingInMemory) {
  const std::string bytes = EncodeControlFile(RichDocument());
  const std::string path = ::testing::TempDir() + "/window-" + std::to_string(::getpid()) + ".CTL";
  for (size_t window : {size_t(1), size_t(2), size_t(5), size_t(64)}) {
    for (size_t n = 0; n <= bytes.size(); ++n) {
      SCOPED_TRACE("window " + std::to_string(window) + ", " + std::to_string(n) + " bytes");
      testing::WriteFile(path, bytes.substr(0, n));
      ControlDocument read, parsed;
      FakeSizer sizer;
      const ControlReadResult r = ReadControlFile(path, "/doc", &sizer, &read, window);
      const ControlReadResult p = Parse(bytes.substr(0, n), &parsed);
      ASSERT_EQ(r.kind, p.kind);
      ASSERT_EQ(r.cause, p.cause);
      if (r.ok()) EXPECT_EQ(EncodeControlFile(read), bytes);
    }
  }
  std::filesystem::remove(path);
}

TEST(ControlReaderTest, RandomlyDamagedFilesGiveAnOutcome) {
  // Bytes overwritten at random places (counts, lengths, lead bytes, the
  // terminator): every copy ends in some outcome, within bounded memory.
  const std::string good = EncodeControlFile(RichDocument());
  uint32_t seed = 12345;
  auto next = [&seed]() { return seed = seed * 1103515245u + 12345u, seed >> 8; };
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = good;
    for (int k = 0, n = 1 + int(next() % 4); k < n; ++k) {
      bytes[7 + next() % (bytes.size() - 7)] = char(next() & 0xFF);
    }
    ControlDocument doc;
    ControlReadResult r = Parse(bytes, &doc);
    if (r.ok()) EXPECT_EQ(size_t(doc.PageCount), doc.Pages.size());
    else EXPECT_FALSE(r.cause.empty());
  }
}

// Counts and sizes a file cannot hold are read failures (with their place
// where given), and nothing is allocated for what a count claims.
TEST(ControlReaderTest, BadCountsAndSizesAreReadFailures) {
  auto no_pages = [](const std::function<void(ControlDocument&)>& change) {
    ControlDocument d;
    change(d);
    return d;
  };
  auto one_page = [](const std::function<void(PageRecord&)>& change) {
    ControlDocument d;
    d.Pages = {SimplePage(1)};
    change(d.Pages[0]);
    return d;
  };
  const struct {
    const char* name;
    ControlDocument doc;
    const char* says = "";
    size_t at_most_bytes = 0;  // the file stays tiny (0: not checked)
  } cases[] = {
      {"negative register count", no_pages([](auto& d) { d.EmbeddedFileCount = -1; }), "offset 16"},
      {"square count -1", one_page([](auto& p) { p.SquareCount = -1; })},
      {"square count -32768", one_page([](auto& p) { p.SquareCount = -32768; })},
      {"register count of two thousand million", no_pages([](auto& d) { d.EmbeddedFileCount = 2000000000; })},
      {"32767 register entries", no_pages([](auto& d) { d.EmbeddedFileCount = 32767; }), "", 40},
      {"32767 keywords", one_page([](auto& p) { p.KeyWordCount = 32767; }), "", 70},
      {"an image too large for ImageLen", one_page([](auto& p) { p.FileName = u"\\HUGE.TIF"; }), "ImageLen"},
      {"the terminator first", ControlDocument()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = EncodeControlFile(c.doc);
    if (c.at_most_bytes) ASSERT_LE(bytes.size(), c.at_most_bytes);
    ControlDocument out;
    const ControlReadResult r = Parse(bytes, &out);
    EXPECT_EQ(r.kind, ControlReadResult::Kind::kReadFailure);
    EXPECT_NE(r.cause.find(c.says), std::string::npos) << r.cause;
    EXPECT_LT(out.EmbeddedFiles.capacity(), 16u);
    for (const PageRecord& p : out.Pages) EXPECT_LT(p.KeyWords.capacity(), 16u);
  }
}

TEST(ControlReaderTest, RoomForPagesFollowsThePagesRead) {
  auto pages = [](int n, size_t long_aux_at, size_t long_aux_bytes) {
    ControlDocument d;
    for (int i = 1; i <= n; ++i) d.Pages.push_back(SimplePage(i));
    if (long_aux_bytes) d.Pages[long_aux_at].AuxText = std::u16string(long_aux_bytes, u'x');
    return d;
  };
  const struct {
    const char* name;
    ControlDocument doc;
    double at_most_per_page;  // capacity over pages read (0: not checked)
  } cases[] = {
      {"1100 pages alike: one layout, little slack", pages(1100, 0, 0), 1.25},
      {"small pages, then a long text: no more than the bytes could hold", pages(20, 19, 30000), 0},
      {"a long text first, then small pages", pages(300, 0, 30000), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = EncodeControlFile(c.doc);
    ControlDocument out;
    ASSERT_TRUE(Parse(bytes, &out).ok());
    ASSERT_EQ(out.Pages.size(), c.doc.Pages.size());
    EXPECT_LE(out.Pages.capacity(), bytes.size() / 24 + 16);
    if (c.at_most_per_page > 0) EXPECT_LE(out.Pages.capacity(), c.at_most_per_page * double(out.Pages.size()));
  }
}

TEST(ControlReaderTest, TerminatorMustMatchExactly) {
  // Small letters or a trailing blank are a page's FileName; no such image.
  for (const std::u16string& t : {std::u16string(u"endofcontrol"), std::u16string(u"ENDOFCONTROL ")}) {
    ControlDocument d;
    d.Pages = {SimplePage(1)};
    ControlWriteOptions o;
    o.terminator_bytes = testing::EncodeControlString(t) + testing::EncodeControlString(u"MISSING");
    ControlDocument doc;
    FakeSizer sizer;
    EXPECT_FALSE(Parse(EncodeControlFile(d, o), &doc, &sizer).ok());
    EXPECT_EQ(doc.Pages.size(), 2u);
    EXPECT_EQ(doc.Pages[1].FileName, t);
  }
}

TEST(ControlReaderTest, LeadByteAtTheEndOfANameShiftsLaterFields) {
  // Name has length 1 but its byte 0x93 takes the next byte (the skipped
  // byte 0x00) as trail, so AuxText's prefix is read one byte later.
  ControlDocument d;
  d.Pages = {SimplePage(1)};
  d.Pages[0].Name = u"NAMEMARK";
  d.Pages[0].AuxText = u"AUXMARK";
  ControlWriteOptions o;
  o.raw_strings[u"NAMEMARK"] = std::string("\x01\x93", 2);
  // After the pairing the skip byte is consumed; what follows is read as AuxText.
  o.raw_strings[u"AUXMARK"] = std::string("\x00\x00", 2);  // skip byte read earlier; empty AuxText here
  std::string bytes = EncodeControlFile(d, o);
  ControlDocument doc;
  ASSERT_TRUE(Parse(bytes, &doc).ok()) << Parse(bytes, &doc).cause;
  // 0x93 0x00 is no character: each byte on its own.
  EXPECT_EQ(doc.Pages[0].Name, std::u16string(u"\uFFFD\0", 2));
  EXPECT_EQ(doc.Pages[0].AuxText, u"");
}

// A control file past a megabyte has its images measured while it is parsed:
// each page gets its own image's size, and the first image that fails is the
// load's failure even when the file is also cut after it, the document left
// as a failure at that page leaves it.
TEST(ControlReaderTest, ImagesOfABigFileAreMeasuredBesideTheParse) {
  class SizedByNumber : public ImageSizer {  // \P<n>.TIF is n bytes
   public:
    bool Measure(const Path&, const std::u16string& name, int64_t* size, std::string* cause) override {
      if (name.find(u"MISSING") != std::u16string::npos) return (*cause = "image file not found", false);
      *size = name.find(u"HUGE") != std::u16string::npos ? int64_t(1) << 31 : std::stoll(Utf16ToUtf8(name.substr(2)));
      return true;
    }
  };
  constexpr int kPages = 3000;
  ControlDocument d;
  for (int n = 1; n <= kPages; ++n) {
    d.Pages.push_back(SimplePage(n));
    d.Pages.back().Name = std::u16string(400, u'x');
  }
  const struct {
    const char* name;
    int bad_page;             // 0: none
    const char16_t* bad_name;
    bool cut;                 // the file also ends early, after the bad page
    const char* cause;        // empty: loads
  } cases[] = {
      {"every image", 0, nullptr, false, ""},
      {"a missing image, the file cut after it", 1500, u"\\MISSING.TIF", true, "image file not found at byte offset "},
      {"an image too big", 2999, u"\\HUGE.TIF", false, "more than ImageLen can hold at byte offset "},
      {"the file cut, every image there", 0, nullptr, true, "end of file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ControlDocument src = d;
    if (c.bad_page) src.Pages[size_t(c.bad_page - 1)].FileName = c.bad_name;
    std::string bytes = EncodeControlFile(src);
    ASSERT_GT(bytes.size(), size_t(1) << 20);
    if (c.cut) bytes.resize(bytes.size() - 5000);
    SizedByNumber sizer;
    ControlDocument doc;
    const ControlReadResult r = ParseControlFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), "/doc",
                                                 &sizer, &doc);
    if (*c.cause == 0) {
      ASSERT_TRUE(r.ok()) << r.cause;
      ASSERT_EQ(doc.Pages.size(), size_t(kPages));
      for (int n = 1; n <= kPages; ++n) ASSERT_EQ(doc.Pages[size_t(n - 1)].ImageLen, n);
      continue;
    }
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.cause.find(c.cause), std::string::npos) << r.cause;
    if (c.bad_page) {
      ASSERT_EQ(doc.Pages.size(), size_t(c.bad_page));
      EXPECT_EQ(doc.Pages.back().FileName, c.bad_name);
      EXPECT_TRUE(doc.Pages.back().Name.empty());
    }
  }
}

TEST(FileSystemImageSizerTest, MapsBackslashesAndIgnoresCase) {
  std::string folder = testing::MakeTempFolder();
  std::filesystem::create_directories(folder + "/Images");
  testing::WriteFile(folder + "/Images/page1.tif", std::string(1536, 'x'));
  FileSystemImageSizer sizer;
  int64_t size = 0;
  std::string cause;
  EXPECT_TRUE(sizer.Measure(folder, u"\\Images\\page1.tif", &size, &cause));
  EXPECT_EQ(size, 1536);
  EXPECT_TRUE(sizer.Measure(folder, u"\\IMAGES\\PAGE1.TIF", &size, &cause)) << cause;
  EXPECT_FALSE(sizer.Measure(folder, u"\\IMAGES\\PAGE2.TIF", &size, &cause));
  EXPECT_FALSE(sizer.Measure(folder, u"\\IMAGES", &size, &cause));  // a folder is no image
  // One sizer measures name after name: a longer name in Japanese, then a shorter one again.
  testing::WriteFile(folder + "/Images/表紙の画像.tif", std::string(700, 'x'));
  EXPECT_TRUE(sizer.Measure(folder, u"\\Images\\表紙の画像.tif", &size, &cause)) << cause;
  EXPECT_EQ(size, 700);
  EXPECT_TRUE(sizer.Measure(folder, u"\\Images\\page1.tif", &size, &cause)) << cause;
  EXPECT_EQ(size, 1536);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace kp
