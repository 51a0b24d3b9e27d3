// Loads a generated document of about 50 MB (20,000 pages, a million
// annotations) and prints the time as a ratio to the baseline measured in the
// same run: reading the same bytes and stat'ing the same image files.
// Usage: ctl_load_bench [PAGES]
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text_util.h"
#include "ctl/control_reader.h"
#include "ctl/load_command.h"
#include "tests/support/ctl_writer.h"

using namespace kp;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

ControlDocument MakeDocument(int pages) {
  ControlDocument doc;
  doc.EmbeddedFiles.resize(50, {1, u"\\埋め込み資料.KPE", u"説明文テキスト"});
  doc.EmbeddedFileCount = 50;
  const std::u16string text = u"これは評価用のコメント本文です。長めの文章で一行を埋めます。ABCDEFG";
  for (int n = 1; n <= pages; ++n) {
    PageRecord p = testing::SimplePage(n);
    p.Name = u"見出し";
    p.IsTag = 2;
    p.Comments.assign(20, {1, 2, 3, text});
    p.KeyWords.assign(10, {1, 2, 3, 4, u"キーワード", u"項目"});
    p.Squares.assign(10, {1, 2, 3, 4, 5});
    p.HyperLinks.assign(8, {1, 2, 3, 4, u"\\P1.TIF", u"リンク先の説明"});
    p.Embeds.assign(2, {n % 50});
    p.CommentCount = 20; p.KeyWordCount = 10; p.SquareCount = 10; p.HyperLinkCount = 8; p.EmbedCount = 2;
    doc.Pages.push_back(std::move(p));
  }
  doc.PageCount = pages;
  return doc;
}

}  // namespace

int main(int argc, char** argv) {
  int pages = argc > 1 ? std::atoi(argv[1]) : 20000;
  std::string folder = testing::MakeTempFolder("kp-bench");
  ControlDocument doc = MakeDocument(pages);
  std::string ctl = testing::WriteDocumentFolder(folder, doc, {}, 0);
  int64_t annotations = int64_t(pages) * 50;
  std::printf("document: %d pages, %lld annotations, %.1f MB\n", pages, (long long)annotations,
              std::filesystem::file_size(ctl) / 1e6);
  doc = ControlDocument();

  double best_base = 1e9, best_load = 1e9;
  for (int round = 0; round < 3; ++round) {
    auto t0 = Clock::now();
    {  // Baseline: the same bytes read, the same image files stat'ed.
      std::vector<char> bytes(std::filesystem::file_size(ctl));
      FILE* f = std::fopen(ctl.c_str(), "rb");
      size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
      int64_t total = int64_t(got);
      struct stat st;
      for (int n = 1; n <= pages; ++n) {
        std::string path = folder + "/P" + std::to_string(n) + ".TIF";
        if (stat(path.c_str(), &st) == 0) total += st.st_size;
      }
      if (total < 0) std::printf("?");
    }
    auto t1 = Clock::now();
    ControlDocument loaded;
    FileSystemImageSizer sizer;
    LoadResult r = LoadControlFile(Utf8ToUtf16(ctl), &sizer, &loaded);
    auto t2 = Clock::now();
    if (!r.ok()) {
      std::printf("load failed: %s\n", r.cause.c_str());
      return 1;
    }
    best_base = std::min(best_base, Seconds(t0, t1));
    best_load = std::min(best_load, Seconds(t1, t2));
  }
  std::printf("baseline (read bytes + stat images): %.3f s\n", best_base);
  std::printf("load:                                %.3f s\n", best_load);
  std::printf("ratio load / baseline: %.2fx (target <= 3x)\n", best_load / best_base);
  std::filesystem::remove_all(folder);
  return 0;
}
