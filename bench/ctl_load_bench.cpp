// Loads a generated document of about 50 MB (20,000 pages, a million
// annotations) and prints the time as a ratio to the baseline measured in the
// same run: reading the same bytes and stat'ing the same image files.
// Usage: ctl_load_bench [PAGES]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text_util.h"
#include "bench/bench_support.h"
#include "ctl/control_reader.h"
#include "ctl/load_command.h"
#include "tests/support/ctl_writer.h"

using namespace kp;
using namespace kp::bench;

int main(int argc, char** argv) {
  int pages = argc > 1 ? std::atoi(argv[1]) : 20000;
  std::string folder = testing::MakeTempFolder("kp-bench");
  ControlDocument doc = MakeDocument(pages, {20, 10, 10, 8, 2});
  std::string ctl = testing::WriteDocumentFolder(folder, doc, {}, 0);
  const std::vector<std::string> images = ImagePaths(folder, doc);
  int64_t annotations = int64_t(pages) * 50;
  std::printf("document: %d pages, %lld annotations, %.1f MB\n", pages, (long long)annotations,
              std::filesystem::file_size(ctl) / 1e6);
  doc = ControlDocument();

  double best_base = 1e9, best_load = 1e9;
  for (int round = 0; round < 3; ++round) {
    best_base = std::min(best_base, ReadAndStat(ctl, images));
    auto t1 = Clock::now();
    ControlDocument loaded;
    FileSystemImageSizer sizer;
    LoadResult r = LoadControlFile(Utf8ToUtf16(ctl), &sizer, &loaded);
    auto t2 = Clock::now();
    if (!r.ok()) {
      std::printf("load failed: %s\n", r.cause.c_str());
      return 1;
    }
    best_load = std::min(best_load, Seconds(t1, t2));
  }
  std::printf("baseline (read bytes + stat images): %.3f s\n", best_base);
  std::printf("load:                                %.3f s\n", best_load);
  std::printf("ratio load / baseline: %.2fx (target <= 3x)\n", best_load / best_base);
  std::filesystem::remove_all(folder);
  return 0;
}
