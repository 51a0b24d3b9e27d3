// make-sample FOLDER: writes a small sample document (DEFAULT.CTL and its page
// images) to try the program with. The committed samples/kp-sample was made
// by it.
#include <cstdio>
#include <string>

#include "tests/support/ctl_writer.h"

using namespace kp;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-sample FOLDER\n");
    return 2;
  }
  ControlDocument doc;
  doc.Header.HeaderByte = 1;
  doc.EmbeddedFiles = {{1, u"\\地図.KPE", u"所在地の地図"}, {2, u"\\表.KPE", u"年表"}};
  doc.EmbeddedFileCount = 2;

  const char16_t* names[] = {u"表紙", u"", u"目次", u"", u"第一章"};
  for (int n = 1; n <= 5; ++n) {
    PageRecord p = testing::SimplePage(n);
    p.Level = uint8_t(n % 3);
    p.Name = names[n - 1];
    p.IsTag = p.Name.empty() ? 0 : 2;
    p.Angle = uint8_t(n % 5);
    p.ImageLen = 20000 + 1537 * n;
    doc.Pages.push_back(p);
  }
  PageRecord& cover = doc.Pages[0];
  cover.Comments = {{255, 100, 120, u"社内資料"}, {0, 40, 800, u"改訂版：2026年12月"}};
  cover.KeyWords = {{10, 10, 300, 40, u"会社案内", u"題名"}};
  cover.Embeds = {{0}};
  PageRecord& toc = doc.Pages[2];
  toc.HyperLinks = {{50, 200, 400, 30, u"\\P5.TIF", u"第一章へ"}, {50, 240, 400, 30, u"http://example.com/", u"ﾎｰﾑﾍﾟｰｼﾞ"}};
  toc.Squares = {{3, 40, 180, 520, 120}};
  PageRecord& chapter = doc.Pages[4];
  chapter.Comments = {{12, 300, 300, u"ここに注目"}};
  chapter.KeyWords = {{20, 60, 200, 30, u"沿革", u"本文"}, {20, 400, 200, 30, u"所在地", u"本文"}};
  chapter.Squares = {{1, 10, 10, 100, 100}, {2, 200, 200, 50, 50}};
  chapter.Embeds = {{0}, {1}};
  for (PageRecord& p : doc.Pages) {
    p.CommentCount = int16_t(p.Comments.size());
    p.KeyWordCount = int16_t(p.KeyWords.size());
    p.SquareCount = int16_t(p.Squares.size());
    p.HyperLinkCount = int16_t(p.HyperLinks.size());
    p.EmbedCount = int16_t(p.Embeds.size());
  }
  doc.PageCount = int32_t(doc.Pages.size());
  std::string path = testing::WriteDocumentFolder(argv[1], doc);
  std::printf("%s\n", path.c_str());
  return 0;
}
