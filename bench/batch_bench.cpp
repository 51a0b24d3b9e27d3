// ctl2mdb --batch over generated documents: the time with -j 2 as a ratio to
// the baseline measured in the same run, the same documents one after another
// (-j 1). On two free cores the ratio is about 0.5.
// Usage: batch_bench [DOCUMENTS [PAGES]]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/ctl_writer.h"

using namespace kp;
using Clock = std::chrono::steady_clock;

namespace {

ControlDocument MakeDocument(int pages) {
  ControlDocument doc;
  for (int n = 1; n <= pages; ++n) {
    PageRecord p = testing::SimplePage(n);
    p.Comments.assign(5, {1, 2, 3, u"評価用のコメント本文です。"});
    p.KeyWords.assign(3, {1, 2, 3, 4, u"キーワード", u"項目"});
    p.CommentCount = 5;
    p.KeyWordCount = 3;
    doc.Pages.push_back(p);
  }
  doc.PageCount = pages;
  return doc;
}

// CPU seconds used by finished child processes so far.
double ChildCpu() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

double TimeBatch(const std::string& root, const std::string& out, int jobs, double* cpu) {
  std::filesystem::remove_all(out);
  const std::string command = std::string(KP_BUILD_DIR) + "/ctl2mdb --batch '" + root + "' '" + out +
                              "' -j " + std::to_string(jobs) + " >/dev/null 2>&1";
  const double cpu_before = ChildCpu();
  auto start = Clock::now();
  int rc = std::system(command.c_str());
  double s = std::chrono::duration<double>(Clock::now() - start).count();
  if (rc != 0) {
    std::fprintf(stderr, "batch_bench: %s failed\n", command.c_str());
    std::exit(1);
  }
  *cpu = ChildCpu() - cpu_before;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const int documents = argc > 1 ? std::atoi(argv[1]) : 16;
  const int pages = argc > 2 ? std::atoi(argv[2]) : 2000;
  const std::string root = testing::MakeTempFolder("kp-batch-bench");
  const ControlDocument doc = MakeDocument(pages);
  for (int i = 0; i < documents; ++i) {
    testing::WriteDocumentFolder(root + "/docs/doc-" + std::to_string(i), doc);
  }
  const std::string out = root + "/out";
  double cpu1 = 0, cpu2 = 0;
  TimeBatch(root + "/docs", out, 2, &cpu2);  // warm the caches
  const double serial = TimeBatch(root + "/docs", out, 1, &cpu1);
  const double parallel = TimeBatch(root + "/docs", out, 2, &cpu2);
  std::printf("%d documents of %d pages: -j 1 %.2f s (baseline, %.2f s CPU), -j 2 %.2f s (%.2f s CPU), "
              "ratio %.2f\n", documents, pages, serial, cpu1, parallel, cpu2, parallel / serial);
  std::filesystem::remove_all(root);
  return 0;
}
