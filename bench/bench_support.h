// Helpers shared by the benchmarks: clocks and medians, the generated
// documents, an export UI that answers without asking, and the machine's
// baselines (raw reads, raw writes, copies).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "export/export_command.h"
#include "model/control_document.h"

namespace kp::bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// The median of `runs` (which it sorts); 0 when empty.
double Median(std::vector<double> runs);

// The options every benchmark takes: --quick (small sizes and three
// repetitions), --reps N (at least 1) and --dir FOLDER (where files are
// written; default: a new temporary folder).
struct RunOptions {
  bool quick = false;
  int reps = 5;
  std::string dir;
};
// Takes argv[*i] (and its value, moving *i past it) when it is one of those.
bool TakeRunOption(int argc, char** argv, int* i, RunOptions* run);
// The folder `name` under --dir, or a new temporary folder named after it.
std::string WorkFolder(const RunOptions& run, const std::string& name);

// A child process: wall time, processor time (user + system), peak
// resident set, and exit status (-1 when it could not run or was killed).
struct Child {
  double seconds = 0;
  double cpu_seconds = 0;
  long max_rss_kb = 0;
  int status = -1;
};
// Runs `args` as a child process (stdout and stderr to /dev/null unless
// `out`, which then receives stdout).
Child RunChild(const std::vector<std::string>& args, std::string* out = nullptr);
// Runs `args` as the child of a fresh copy of this program, which starts
// small: a child forked straight from a benchmark would count the
// benchmark's own pages in its peak until it exec'd. Every benchmark that
// uses it starts with `if (IsPeakOf(argc, argv)) return PeakOfMain(argc, argv);`.
Child RunFresh(const std::vector<std::string>& args);
bool IsPeakOf(int argc, char** argv);
int PeakOfMain(int argc, char** argv);

// How many items each page carries in each list.
struct PageShape {
  int comments = 0, keywords = 0, squares = 0, hyperlinks = 0, embeds = 0;
  int Items() const { return comments + keywords + squares + hyperlinks + embeds; }
};

// An export UI that saves to `path` without asking and shows nothing.
class SilentUi : public ExportUi {
 public:
  explicit SilentUi(std::string path) : path_(std::move(path)) {}
  bool AskSavePath(const std::u16string&, std::string* path) override {
    *path = path_;
    return true;
  }
  void ShowMessage(const std::u16string&) override {}
  void ShowProgress() override {}
  void HideProgress() override {}
  void SetProgressCaption(const std::u16string&) override {}
  void SetProgressMax(float) override {}
  void SetProgressValue(float) override {}
  void SetMainWindowEnabled(bool) override {}

 private:
  std::string path_;
};

// A document of `pages` pages of `shape`, with a register of 50 embedded
// files. Texts mix Japanese and ASCII; every seventh comment and hyperlink
// text is long (several hundred characters, a long string in the file).
ControlDocument MakeDocument(int pages, const PageShape& shape);

// Rows the export writes for `doc`: one per page plus one per list item.
int64_t RowCount(const ControlDocument& doc);

// The image file of every page of `doc` written under `folder` (ASCII names).
std::vector<std::string> ImagePaths(const std::string& folder, const ControlDocument& doc);

// Baseline of a load: reads the bytes of `ctl` in one go and stats every
// file of `images`. Returns seconds, or a negative value when the read failed.
double ReadAndStat(const std::string& ctl, const std::vector<std::string>& images);

// Baseline of a write: `bytes` bytes written to a new file at `path` in
// `chunk`-byte writes, then one fsync when `sync`. Removes the file after.
// Returns seconds, or a negative value when the write failed.
double RawWrite(int64_t bytes, const std::string& path, size_t chunk = 4096, bool sync = true);

// Baseline of a compaction: `from` copied to `to` by reads and writes of
// 64 KiB, then one fsync. Removes `to` after. Returns seconds (< 0 failed).
double CopyFile(const std::string& from, const std::string& to);

}  // namespace kp::bench
