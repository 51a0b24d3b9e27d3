// make-sample FOLDER: writes the sample document (DEFAULT.CTL and its page
// images) to try the program with: a twelve-page staff manual on the office
// network. make-sample --pages N FOLDER writes a generated N-page document
// instead (every kind of annotation on its pages, small image files), the
// same on every run, for comparing conversions on a large document. The committed samples/kp-sample was made by it; the output is the
// same byte for byte on every run, so the folder can be checked against it.
//
// The page images are small baseline TIFF files (one strip set, PackBits),
// 1-bit for text pages and 8-bit grayscale for the cover and the figures,
// drawn here: a page frame, a running head, headings and lines of "text" as
// bars, figures as boxes, and the page number. The annotations sit on what
// is drawn, in the image's pixel coordinates.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/ctl_writer.h"

using namespace kp;

namespace {

// ---- drawing -------------------------------------------------------------

// A page as ink levels, 0 = white paper to 255 = black.
struct Canvas {
  int w, h;
  std::vector<uint8_t> ink;
  Canvas(int width, int height) : w(width), h(height), ink(size_t(width) * size_t(height), 0) {}

  void Fill(int x, int y, int cw, int ch, uint8_t v) {
    for (int yy = std::max(y, 0); yy < std::min(y + ch, h); ++yy)
      for (int xx = std::max(x, 0); xx < std::min(x + cw, w); ++xx) ink[size_t(yy) * size_t(w) + size_t(xx)] = v;
  }
  void Frame(int x, int y, int cw, int ch, int t, uint8_t v = 255) {
    Fill(x, y, cw, t, v);
    Fill(x, y + ch - t, cw, t, v);
    Fill(x, y, t, ch, v);
    Fill(x + cw - t, y, t, ch, v);
  }
  void Disc(int cx, int cy, int r, uint8_t v) {
    for (int yy = cy - r; yy <= cy + r; ++yy)
      for (int xx = cx - r; xx <= cx + r; ++xx)
        if ((xx - cx) * (xx - cx) + (yy - cy) * (yy - cy) <= r * r) Fill(xx, yy, 1, 1, v);
  }
  // Digits and '-' in a 5 x 7 font, `scale` pixels per dot.
  void Print(int x, int y, const std::string& s, int scale, uint8_t v = 255) {
    static const char* const kGlyphs[11][7] = {
        {"01110", "10001", "10011", "10101", "11001", "10001", "01110"},
        {"00100", "01100", "00100", "00100", "00100", "00100", "01110"},
        {"01110", "10001", "00001", "00010", "00100", "01000", "11111"},
        {"11110", "00001", "00001", "01110", "00001", "00001", "11110"},
        {"00010", "00110", "01010", "10010", "11111", "00010", "00010"},
        {"11111", "10000", "11110", "00001", "00001", "10001", "01110"},
        {"00110", "01000", "10000", "11110", "10001", "10001", "01110"},
        {"11111", "00001", "00010", "00100", "01000", "01000", "01000"},
        {"01110", "10001", "10001", "01110", "10001", "10001", "01110"},
        {"01110", "10001", "10001", "01111", "00001", "00010", "01100"},
        {"00000", "00000", "00000", "11111", "00000", "00000", "00000"}};
    for (char ch : s) {
      if (ch != ' ') {
        const auto& g = kGlyphs[ch == '-' ? 10 : ch - '0'];
        for (int r = 0; r < 7; ++r)
          for (int c = 0; c < 5; ++c)
            if (g[r][c] == '1') Fill(x + c * scale, y + r * scale, scale, scale, v);
      }
      x += 6 * scale;
    }
  }
  static int PrintWidth(const std::string& s, int scale) { return int(s.size()) * 6 * scale - scale; }
};

// Deterministic word lengths for the text bars.
struct Words {
  uint32_t state;
  explicit Words(uint32_t seed) : state(seed * 2654435761u + 1) {}
  int Next(int lo, int hi) {
    state = state * 1664525u + 1013904223u;
    return lo + int((state >> 16) % uint32_t(hi - lo + 1));
  }
};

const int kBar = 8;     // height of a line of text
const int kPitch = 16;  // distance between lines

// `lines` lines of "words" from (x, y), `width` wide, the last one shorter.
// Returns the y below the paragraph.
int Paragraph(Canvas& c, int x, int y, int width, int lines, uint32_t seed, uint8_t v = 255) {
  Words words(seed);
  for (int i = 0; i < lines; ++i) {
    int end = (i == lines - 1) ? x + width * words.Next(35, 75) / 100 : x + width;
    int at = (i == 0) ? x + 16 : x;  // indented first line
    while (at < end) {
      int len = std::min(words.Next(10, 46), end - at);
      if (len >= 4) c.Fill(at, y + i * kPitch, len, kBar, v);
      at += len + 5;
    }
  }
  return y + lines * kPitch + kPitch / 2;
}

// Frame, running head and (except on the cover) the page number.
void PageBase(Canvas& c, int number, int head_len) {
  c.Frame(16, 16, c.w - 32, c.h - 32, 2);
  c.Fill(40, 28, head_len, 5, 255);
  c.Fill(40, 40, c.w - 80, 1, 255);
  if (number > 1) {
    std::string s = "- " + std::to_string(number) + " -";
    c.Print((c.w - Canvas::PrintWidth(s, 2)) / 2, c.h - 44, s, 2);
  }
}

void Heading(Canvas& c, int y, int len) {
  c.Fill(48, y, len, 12, 255);
  c.Fill(48, y + 18, 400, 2, 255);
}

// ---- TIFF ----------------------------------------------------------------

void PutU16(std::string* o, uint32_t v) {
  o->push_back(char(v & 0xFF));
  o->push_back(char((v >> 8) & 0xFF));
}
void PutU32(std::string* o, uint32_t v) {
  PutU16(o, v & 0xFFFF);
  PutU16(o, v >> 16);
}

// PackBits of one row (rows are packed separately).
void PackBits(const uint8_t* d, size_t n, std::string* out) {
  size_t i = 0;
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 128 && d[i + run] == d[i]) ++run;
    if (run >= 3) {
      out->push_back(char(int8_t(1 - int(run))));
      out->push_back(char(d[i]));
      i += run;
      continue;
    }
    size_t j = i;
    while (j < n && j - i < 128) {
      if (j + 2 < n && d[j] == d[j + 1] && d[j] == d[j + 2]) break;
      ++j;
    }
    out->push_back(char(j - i - 1));
    out->append(reinterpret_cast<const char*>(d + i), j - i);
    i = j;
  }
}

// A baseline TIFF of the canvas: 1-bit (WhiteIsZero) or 8-bit grayscale
// (BlackIsZero), PackBits, strips of 64 rows, 60 dots per inch.
std::string EncodeTiff(const Canvas& c, int bits) {
  const int rows_per_strip = 64;
  size_t row_bytes = bits == 1 ? size_t(c.w + 7) / 8 : size_t(c.w);
  std::string out = "II";
  PutU16(&out, 42);
  PutU32(&out, 0);  // IFD offset, set below
  std::vector<uint32_t> offsets, counts;
  std::vector<uint8_t> row(row_bytes);
  for (int y0 = 0; y0 < c.h; y0 += rows_per_strip) {
    offsets.push_back(uint32_t(out.size()));
    for (int y = y0; y < std::min(y0 + rows_per_strip, c.h); ++y) {
      const uint8_t* src = &c.ink[size_t(y) * size_t(c.w)];
      if (bits == 1) {
        std::fill(row.begin(), row.end(), 0);
        for (int x = 0; x < c.w; ++x)
          if (src[x] >= 128) row[size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
      } else {
        for (int x = 0; x < c.w; ++x) row[size_t(x)] = uint8_t(255 - src[x]);
      }
      PackBits(row.data(), row.size(), &out);
    }
    counts.push_back(uint32_t(out.size()) - offsets.back());
  }
  if (out.size() % 2) out.push_back(0);
  auto put_array = [&](const std::vector<uint32_t>& v) {
    uint32_t at = uint32_t(out.size());
    for (uint32_t x : v) PutU32(&out, x);
    return at;
  };
  uint32_t offsets_at = offsets.size() > 1 ? put_array(offsets) : offsets[0];
  uint32_t counts_at = counts.size() > 1 ? put_array(counts) : counts[0];
  uint32_t resolution_at = put_array({60, 1});
  uint32_t ifd = uint32_t(out.size());
  out[4] = char(ifd & 0xFF);
  out[5] = char((ifd >> 8) & 0xFF);
  out[6] = char((ifd >> 16) & 0xFF);
  out[7] = char(ifd >> 24);
  struct Entry { uint16_t tag, type; uint32_t count, value; };
  const uint16_t kShort = 3, kLong = 4, kRational = 5;
  uint32_t strips = uint32_t(offsets.size());
  const Entry entries[] = {
      {254, kLong, 1, 0},                        // NewSubfileType
      {256, kShort, 1, uint32_t(c.w)},           // ImageWidth
      {257, kShort, 1, uint32_t(c.h)},           // ImageLength
      {258, kShort, 1, uint32_t(bits)},          // BitsPerSample
      {259, kShort, 1, 32773},                   // Compression: PackBits
      {262, kShort, 1, bits == 1 ? 0u : 1u},     // PhotometricInterpretation
      {273, kLong, strips, offsets_at},          // StripOffsets
      {277, kShort, 1, 1},                       // SamplesPerPixel
      {278, kShort, 1, uint32_t(rows_per_strip)},// RowsPerStrip
      {279, kLong, strips, counts_at},           // StripByteCounts
      {282, kRational, 1, resolution_at},        // XResolution
      {283, kRational, 1, resolution_at},        // YResolution
      {296, kShort, 1, 2},                       // ResolutionUnit: inch
  };
  PutU16(&out, uint32_t(std::size(entries)));
  for (const Entry& e : entries) {
    PutU16(&out, e.tag);
    PutU16(&out, e.type);
    PutU32(&out, e.count);
    if (e.type == kShort && e.count == 1) {
      PutU16(&out, e.value);
      PutU16(&out, 0);
    } else {
      PutU32(&out, e.value);
    }
  }
  PutU32(&out, 0);  // no further IFD
  return out;
}

// ---- the document --------------------------------------------------------

struct SamplePage {
  PageRecord record;
  std::string disk_name;  // the image's name on disk (may differ in case)
  int width = 496, height = 702, bits = 1;
  std::function<void(Canvas&)> draw;
};

PageRecord Page(const char16_t* file, uint8_t level, bool tagged, const char16_t* name) {
  PageRecord p;
  p.FileName = file;
  p.Level = level;
  p.IsTag = tagged ? 2 : 0;
  p.Name = name;
  p.Angle = 1;
  return p;
}

std::vector<SamplePage> MakePages() {
  std::vector<SamplePage> pages;
  pages.reserve(12);
  auto add = [&](PageRecord r, int bits, std::function<void(Canvas&)> draw) {
    SamplePage s;
    s.record = std::move(r);
    s.bits = bits;
    s.draw = std::move(draw);
    pages.push_back(std::move(s));
    return &pages.back().record;
  };

  // 1: the cover.
  PageRecord* p = add(Page(u"\\P1.TIF", 1, true, u"表紙"), 8, [](Canvas& c) {
    PageBase(c, 1, 120);
    c.Fill(60, 90, 90, 10, 110);
    c.Frame(80, 190, 336, 60, 3);
    c.Fill(100, 206, 296, 12, 255);
    c.Fill(140, 228, 216, 10, 255);
    c.Disc(248, 380, 56, 90);
    c.Disc(248, 380, 34, 0);
    c.Disc(248, 380, 16, 200);
    c.Fill(80, 600, 200, 10, 255);
    c.Fill(60, 640, 160, 8, 160);
  });
  p->AuxText = u"作成：総務部 情報システム課";
  p->Comments = {{255, 60, 86, u"社内資料：持出し禁止"}, {0, 60, 636, u"改訂第3版 2026年12月"}};
  p->KeyWords = {{80, 190, 336, 60, u"社内ネットワーク利用の手引き", u"題名"},
                 {80, 596, 200, 18, u"情報システム課", u"発行"}};

  // 2: foreword, not tagged.
  p = add(Page(u"\\P2.TIF", 2, false, u""), 1, [](Canvas& c) {
    PageBase(c, 2, 160);
    Heading(c, 64, 110);
    int y = Paragraph(c, 48, 100, 400, 6, 21);
    y = Paragraph(c, 48, y, 400, 5, 22);
    Paragraph(c, 48, y, 400, 7, 23);
    c.Frame(40, 416, 416, 120, 1);
    Paragraph(c, 56, 432, 384, 6, 24, 255);
  });
  p->Comments = {{12, 300, 120, u"新入社員は必ず読むこと"},
                 {4, 48, 420,
                  u"この手引きは、社内ネットワークを安全に使うための最低限の決まりをまとめたものです。"
                  u"ここに書かれていない使い方をするときや、判断に迷うときは、自分で設定を変えずに、"
                  u"必ず情報システム課のﾍﾙﾌﾟﾃﾞｽｸ（内線1234）に相談してください。"
                  u"規程は毎年見直され、改訂のたびにこの手引きも更新されます。"}};
  p->KeyWords = {{48, 96, 120, 16, u"利用規程", u""}};

  // 3: contents, with links to the chapters.
  p = add(Page(u"\\P3.TIF", 1, true, u"目次"), 1, [](Canvas& c) {
    PageBase(c, 3, 160);
    Heading(c, 64, 60);
    const char* numbers[] = {"5", "7", "9", "11"};
    const int lengths[] = {150, 170, 140, 180};
    for (int i = 0; i < 4; ++i) {
      int y = 124 + 32 * i;
      c.Fill(60, y, lengths[i], kBar, 255);
      for (int x = 60 + lengths[i] + 8; x < 412; x += 6) c.Fill(x, y + 6, 2, 2, 255);
      c.Print(440 - Canvas::PrintWidth(numbers[i], 1), y, numbers[i], 1);
    }
    Paragraph(c, 48, 300, 400, 4, 31);
  });
  p->Squares = {{3, 48, 108, 400, 136}};
  p->HyperLinks = {{60, 120, 380, 16, u"\\P5.TIF", u"第1章 接続の準備"},
                   {60, 152, 380, 16, u"\\P7.TIF", u"第2章 メールの設定"},
                   {60, 184, 380, 16, u"\\P9.TIF", u"第3章 困ったときは"},
                   {60, 216, 380, 16, u"\\P11.TIF", u"付録 問い合わせ先"}};

  // 4: before use; tagged, but the tag was never named.
  p = add(Page(u"\\P4.TIF", 2, true, u""), 1, [](Canvas& c) {
    PageBase(c, 4, 160);
    Heading(c, 64, 130);
    Paragraph(c, 48, 100, 400, 8, 41);
    c.Frame(40, 280, 416, 60, 2);
    c.Fill(52, 292, 16, 16, 255);
    Paragraph(c, 80, 296, 360, 2, 42);
    Paragraph(c, 48, 360, 400, 9, 43);
  });
  p->Comments = {{9, 200, 360, u"ﾊﾟｽﾜｰﾄﾞは90日ごとに変更"}};
  p->KeyWords = {{48, 128, 180, 16, u"パスワード", u"本文"}};
  p->Squares = {{1, 40, 280, 416, 60}};

  // 5: chapter 1.
  p = add(Page(u"\\P5.TIF", 1, true, u"第1章 接続の準備"), 1, [](Canvas& c) {
    PageBase(c, 5, 200);
    Heading(c, 64, 180);
    Paragraph(c, 48, 100, 400, 8, 51);
    c.Frame(300, 240, 140, 96, 2);
    for (int x = 304; x < 436; x += 8) c.Fill(x, 300, 4, 32, 255);
    Paragraph(c, 48, 244, 240, 6, 52);
    Paragraph(c, 48, 360, 400, 12, 53);
    c.Fill(300, 620, 100, kBar, 255);
  });
  p->Comments = {{0, 300, 200, u"Wi-Fi の SSID は KP-OFFICE"}, {255, 60, 500, u"有線LANを優先"}};
  p->KeyWords = {{48, 96, 200, 16, u"無線LAN", u"本文"},
                 {48, 144, 160, 16, u"IPアドレス", u"本文"},
                 {260, 144, 120, 16, u"DHCP", u""}};
  p->HyperLinks = {{300, 616, 140, 16, u"\\P3.TIF", u"目次へ戻る"}};
  p->Embeds = {{0}};

  // 6: a full-page figure, with nothing laid on it.
  add(Page(u"\\P6.TIF", 2, false, u""), 8, [](Canvas& c) {
    PageBase(c, 6, 200);
    c.Disc(220, 110, 40, 70);
    c.Disc(276, 110, 44, 70);
    c.Fill(246, 150, 4, 50, 255);
    c.Frame(188, 200, 120, 50, 3);
    c.Fill(191, 203, 114, 44, 40);
    c.Fill(246, 250, 4, 60, 255);
    c.Frame(148, 310, 200, 40, 3);
    c.Fill(151, 313, 194, 34, 120);
    c.Fill(80, 390, 336, 3, 255);
    for (int i = 0; i < 4; ++i) {
      int x = 80 + i * 104;
      c.Fill(x + 20, 350, 3, 40, 255);
      c.Fill(x + 20, 390, 3, 40, 255);
      c.Frame(x, 430, 48, 40, 2);
      c.Fill(x + 4, 434, 40, 28, i == 3 ? 200 : 60);
      c.Fill(x + 12, 472, 24, 6, 255);
    }
    c.Fill(148, 560, 200, 10, 255);
  });

  // 7: chapter 2.
  p = add(Page(u"\\P7.TIF", 1, true, u"第2章 メールの設定"), 1, [](Canvas& c) {
    PageBase(c, 7, 200);
    Heading(c, 64, 200);
    Paragraph(c, 48, 100, 400, 6, 71);
    c.Frame(48, 220, 400, 150, 2);
    c.Fill(48, 220, 400, 16, 255);
    for (int i = 0; i < 4; ++i) {
      c.Fill(64, 252 + 26 * i, 90, kBar, 255);
      c.Frame(170, 248 + 26 * i, 250, 16, 1);
    }
    c.Fill(48, 400, 220, kBar, 255);
    c.Fill(48, 411, 220, 1, 255);
    Paragraph(c, 48, 430, 400, 10, 72);
  });
  p->Comments = {{2, 48, 256, u"POP3 は廃止。IMAP (port 993) を使用"},
                 {4, 320, 520, u"送信サーバ：smtp.example.co.jp"}};
  p->KeyWords = {{48, 112, 80, 16, u"メール", u"本文"}, {48, 160, 100, 16, u"Outlook", u""}};
  p->HyperLinks = {{48, 396, 300, 16, u"https://mail.example.co.jp/", u"Webメール"}};

  // 8: a floor plan, scanned landscape and shown turned by 90 degrees. The
  // control file names it in another letter case than the file on disk.
  p = add(Page(u"\\P8.tif", 2, false, u""), 8, [](Canvas& c) {
    PageBase(c, 8, 200);
    c.Frame(50, 70, 602, 360, 4);
    c.Frame(60, 80, 260, 180, 2);
    c.Fill(62, 82, 256, 176, 50);
    c.Frame(360, 80, 280, 180, 2);
    c.Fill(362, 82, 276, 176, 90);
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 4; ++k) {
        c.Frame(80 + 56 * k, 100 + 50 * r, 40, 30, 2);
        c.Frame(380 + 62 * k, 100 + 50 * r, 44, 30, 2);
      }
    c.Fill(60, 300, 580, 3, 255);
    c.Fill(320, 260, 40, 40, 180);
  });
  p->Angle = 2;
  p->Comments = {{1, 400, 300, u"3階の配置は変更予定"}};
  p->Squares = {{2, 60, 80, 260, 180}, {5, 360, 80, 280, 180}};
  p->Embeds = {{2}};

  // 9: chapter 3, troubleshooting.
  p = add(Page(u"\\P9.TIF", 1, true, u"第3章 困ったときは"), 1, [](Canvas& c) {
    PageBase(c, 9, 200);
    Heading(c, 64, 170);
    for (int i = 0; i < 3; ++i) {
      int y = 100 + 96 * i;
      c.Fill(48, y, kBar, kBar, 255);
      c.Fill(62, y, 120 + 20 * i, kBar, 255);
      Paragraph(c, 62, y + kPitch, 386, 4, uint32_t(91 + i));
    }
    Paragraph(c, 48, 400, 400, 12, 94);
  });
  p->Comments = {{12, 48, 380, u"まず ping 192.168.0.1 を試す"}};
  p->KeyWords = {{48, 96, 160, 16, u"接続できない", u"症状"},
                 {48, 192, 160, 16, u"印刷できない", u"症状"},
                 {48, 288, 200, 16, u"ﾊﾟｽﾜｰﾄﾞ忘れ", u"症状"}};
  p->Squares = {{4, 40, 92, 416, 88}};

  // 10: questions and answers, not tagged.
  p = add(Page(u"\\P10.TIF", 2, false, u""), 1, [](Canvas& c) {
    PageBase(c, 10, 200);
    Heading(c, 64, 90);
    for (int i = 0; i < 6; ++i) {
      int y = 100 + 64 * i;
      c.Fill(48, y, kBar, kBar, 255);
      c.Fill(62, y, 140 + 37 * (i % 3), kBar, 255);
      c.Frame(48, y + kPitch, kBar, kBar, 1);
      Paragraph(c, 62, y + kPitch, 386, 2, uint32_t(101 + i));
    }
    c.Fill(48, 504, 180, kBar, 255);
    c.Fill(48, 515, 180, 1, 255);
  });
  p->Comments = {{0, 380, 60, u"FAQ"}};
  p->KeyWords = {{48, 96, 60, 16, u"VPN", u""}};
  p->HyperLinks = {{48, 500, 260, 16, u"http://intra.example.co.jp/faq/", u"社内FAQサイト"}};

  // 11: appendix, the help desk.
  p = add(Page(u"\\P11.TIF", 1, true, u"付録 問い合わせ先"), 1, [](Canvas& c) {
    PageBase(c, 11, 160);
    Heading(c, 64, 150);
    c.Frame(48, 100, 400, 160, 2);
    for (int r = 1; r < 4; ++r) c.Fill(48, 100 + 40 * r, 400, 1, 255);
    c.Fill(48, 100, 400, 40, 255);
    c.Fill(168, 100, 1, 160, 255);
    c.Fill(328, 100, 1, 160, 255);
    for (int r = 1; r < 4; ++r) {
      c.Fill(60, 116 + 40 * r, 80, kBar, 255);
      c.Fill(180, 116 + 40 * r, 120, kBar, 255);
      c.Print(340, 116 + 40 * r, std::to_string(1233 + r), 1);
    }
    c.Fill(48, 304, 200, kBar, 255);
    c.Fill(48, 344, 100, kBar, 255);
    Paragraph(c, 48, 400, 400, 6, 111);
  });
  p->Comments = {{9, 260, 120, u"内線 1234（平日9時～17時）"}};
  p->HyperLinks = {{48, 300, 200, 16, u"mailto:helpdesk@example.co.jp", u"ﾍﾙﾌﾟﾃﾞｽｸ"},
                   {48, 340, 200, 16, u"\\P1.TIF", u"表紙へ"}};
  p->Embeds = {{1}, {0}};

  // 12: the colophon.
  p = add(Page(u"\\P12.TIF", 1, false, u""), 1, [](Canvas& c) {
    PageBase(c, 12, 160);
    c.Fill(48, 540, 400, 1, 255);
    c.Fill(48, 556, 260, kBar, 255);
    c.Fill(48, 580, 180, kBar, 255);
    c.Fill(48, 604, 140, kBar, 255);
  });
  p->Comments = {{0, 48, 556, u"Copyright (C) 2026 KP Office Inc."}, {255, 48, 604, u"無断転載を禁じます"}};

  for (SamplePage& s : pages) {
    std::string name(s.record.FileName.begin() + 1, s.record.FileName.end());  // ASCII names
    std::transform(name.begin(), name.end(), name.begin(), [](char ch) {
      return ch >= 'a' && ch <= 'z' ? char(ch - 32) : ch;
    });
    s.disk_name = name;
    if (s.record.Angle == 2) std::swap(s.width, s.height);
  }
  return pages;
}

// Every text must have a code in code page 932.
bool Encodable(const std::u16string& t) {
  std::string bytes = testing::EncodeCp932(t);
  return std::count(bytes.begin(), bytes.end(), '?') == std::count(t.begin(), t.end(), u'?');
}

bool AllEncodable(const ControlDocument& doc) {
  std::vector<const std::u16string*> texts;
  for (const EmbeddedFileRecord& e : doc.EmbeddedFiles) texts.insert(texts.end(), {&e.KPE_FileName, &e.InData});
  for (const PageRecord& p : doc.Pages) {
    texts.insert(texts.end(), {&p.FileName, &p.Name, &p.AuxText});
    for (const auto& c : p.Comments) texts.push_back(&c.Text);
    for (const auto& k : p.KeyWords) texts.insert(texts.end(), {&k.KeyWord, &k.Field});
    for (const auto& h : p.HyperLinks) texts.insert(texts.end(), {&h.LinkInfo1, &h.LinkInfo2});
  }
  for (const std::u16string* t : texts)
    if (!Encodable(*t)) return false;
  return true;
}

}  // namespace

// An N-page document: a heading on every third page and, on each page, two
// comments (Japanese or ASCII), a keyword, a range mark, a hyperlink and an
// embed of one of five embedded files.
ControlDocument GeneratedDocument(int pages) {
  ControlDocument doc;
  for (int i = 1; i <= 5; ++i) {
    const std::string n = std::to_string(i);
    doc.EmbeddedFiles.push_back({1, u"\\資料" + std::u16string(n.begin(), n.end()) + u".KPE",
                                 i % 2 ? u"添付資料の説明" : u"attached file"});
  }
  doc.EmbeddedFileCount = int32_t(doc.EmbeddedFiles.size());
  for (int n = 1; n <= pages; ++n) {
    PageRecord p = testing::SimplePage(n);
    if (n % 3 == 1) {
      p.Name = n % 2 ? u"見出し" : u"Heading";
      p.IsTag = 2;
    }
    p.Level = uint8_t(n % 4);
    p.Angle = uint8_t(1 + n % 4);
    p.Comments.push_back({int16_t(n % 16), 10, 20, u"評価用のコメント本文です。"});
    p.Comments.push_back({1, 30, 40, u"A comment in plain ASCII text."});
    p.KeyWords.push_back({1, 2, 3, 4, n % 2 ? u"キーワード" : u"keyword", u"項目"});
    p.Squares.push_back({int16_t(n % 16), 10, 20, 30, 40});
    p.HyperLinks.push_back({1, 2, 3, 4, u"\\P1.TIF", u"リンク先の説明"});
    p.Embeds.push_back({n % 5});
    testing::CountLists(&p);
    doc.Pages.push_back(std::move(p));
  }
  doc.PageCount = pages;
  return doc;
}

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--pages") {
    const int pages = std::atoi(argv[2]);
    if (pages < 1 || pages > 100000) {
      std::fprintf(stderr, "make-sample: --pages takes 1 to 100000\n");
      return 2;
    }
    std::printf("%s\n", testing::WriteDocumentFolder(argv[3], GeneratedDocument(pages)).c_str());
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-sample FOLDER\n       make-sample --pages N FOLDER\n");
    return 2;
  }
  std::string folder = argv[1];
  ControlDocument doc;
  doc.Header.HeaderByte = 1;
  doc.EmbeddedFiles = {{1, u"\\設定手順.KPE", u"無線LAN接続の設定手順"},
                       {2, u"\\問合せ先.KPE", u"部署別の問い合わせ先一覧"},
                       {3, u"\\FLOOR3F.KPE", u"3階フロア配置図"}};
  doc.EmbeddedFileCount = int32_t(doc.EmbeddedFiles.size());

  std::filesystem::create_directories(folder);
  for (SamplePage& s : MakePages()) {
    Canvas canvas(s.width, s.height);
    s.draw(canvas);
    std::string tiff = EncodeTiff(canvas, s.bits);
    testing::WriteFile(folder + "/" + s.disk_name, tiff);
    PageRecord& p = s.record;
    p.ImageLen = int32_t(tiff.size());
    testing::CountLists(&p);
    doc.Pages.push_back(std::move(p));
  }
  doc.PageCount = int32_t(doc.Pages.size());
  if (!AllEncodable(doc)) {
    std::fprintf(stderr, "make-sample: a text has no code in code page 932\n");
    return 1;
  }
  std::string ctl = folder + "/DEFAULT.CTL";
  testing::WriteFile(ctl, testing::EncodeControlFile(doc));
  std::printf("%s\n", ctl.c_str());
  return 0;
}
