#include "tools/ctl2mdb/batch.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/path.h"
#include "base/system.h"
#include "tools/ctl2mdb/cli_common.h"

namespace kp::cli {

namespace {

namespace fs = std::filesystem;

struct Job {
  fs::path control;  // the DEFAULT.CTL
  fs::path output;   // the .mdb to write
  std::string name;  // the folder under ROOT, as the lines name it
  std::string clash;  // an earlier document with the same output: not converted
};

// The name a DEFAULT.CTL directly in `root` gets: the root folder's own name.
std::string RootName(const fs::path& root) {
  std::error_code ec;
  fs::path p = fs::absolute(root, ec).lexically_normal();
  if (p.filename().empty()) p = p.parent_path();
  std::string name = PathToUtf8(p.filename());
  return name.empty() ? "DEFAULT" : name;
}

// Every DEFAULT.CTL under `root`, in the order of their folder names.
bool FindDocuments(const fs::path& root, const fs::path& outdir, std::vector<Job>* jobs,
                   std::string* error) {
  std::error_code ec;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code type_ec;
    if (it->path().filename() != "DEFAULT.CTL" || !it->is_regular_file(type_ec)) continue;
    fs::path rel = it->path().parent_path().lexically_relative(root);
    std::string name = rel.empty() || rel == "." ? RootName(root) : PathToUtf8(rel);
    jobs->push_back({it->path(), outdir / PathFromUtf8(name + ".mdb"), name});
  }
  if (ec) {
    *error = "cannot read " + PathToUtf8(root) + ": " + ec.message();
    return false;
  }
  std::sort(jobs->begin(), jobs->end(), [](const Job& a, const Job& b) { return a.name < b.name; });
  // A DEFAULT.CTL in ROOT takes ROOT's own name, which a subfolder can have
  // too: the later one would overwrite the earlier one's database.
  std::map<fs::path, std::string> first;
  for (Job& job : *jobs) {
    auto [it, fresh] = first.emplace(job.output, PathToUtf8(job.control));
    if (!fresh) job.clash = it->second;
  }
  return true;
}

struct JobResult {
  bool ok = false;
  std::string detail;  // why it failed
};

// What the converter said apart from its success messages, as one line.
std::string FailureDetail(const std::string& err) {
  std::string detail;
  size_t start = 0;
  while (start < err.size()) {
    size_t end = err.find('\n', start);
    if (end == std::string::npos) end = err.size();
    std::string line = err.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line == "読込に成功しました。" || line == "保存に成功しました。" ||
        line == "最適化に成功しました。") {
      continue;
    }
    if (!detail.empty()) detail += ": ";
    detail += line;
  }
  return detail;
}

// Runs `exe PATH OUTPUT` with stderr caught and no stdin or stdout: a
// converter process of its own, so that a document that brings its converter
// down takes no other with it, and each document's memory goes with its
// process.
JobResult RunOne(const fs::path& exe, const Job& job) {
  JobResult r;
  if (!job.clash.empty()) {
    r.detail = PathToUtf8(job.output) + " is already the output of " + job.clash + "; not converted";
    return r;
  }
  std::error_code ec;
  fs::create_directories(job.output.parent_path(), ec);
  if (ec) {
    r.detail = "cannot create " + PathToUtf8(job.output.parent_path()) + ": " + ec.message();
    return r;
  }
  ProcessOutcome outcome;
  Status started = RunProcess(exe, {job.control, job.output}, 1u << 16, &outcome);
  if (!started.ok()) {
    r.detail = started.message();
    return r;
  }
  if (outcome.exited && outcome.exit_code == kExitOk) {
    r.ok = true;
    return r;
  }
  r.detail = FailureDetail(outcome.errors);
  if (!outcome.exited) {
    if (!r.detail.empty()) r.detail += ": ";
    r.detail += "the converter ended by " + outcome.ended_by;
  } else if (r.detail.empty()) {
    r.detail = "exit status " + std::to_string(outcome.exit_code);
  }
  return r;
}

// The lines on stdout and, on a terminal, the bar on stderr below them.
class Report {
 public:
  explicit Report(size_t total) : total_(total), bar_(StderrIsTerminal()) {}

  void Done(const Job& job, const JobResult& r) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++done_;
    if (!r.ok) ++failed_;
    ClearBar();
    if (r.ok) {
      std::printf("ok      %s\n", job.name.c_str());
    } else {
      std::printf("failed  %s: %s\n", job.name.c_str(), r.detail.c_str());
    }
    std::fflush(stdout);
    DrawBar();
  }
  void Finish() {
    ClearBar();
    std::printf("%zu of %zu converted, %zu failed\n", done_ - failed_, total_, failed_);
    std::fflush(stdout);
  }
  bool all_ok() const { return failed_ == 0; }

 private:
  void DrawBar() {
    if (!bar_) return;
    constexpr size_t kWidth = 40;
    size_t filled = total_ ? done_ * kWidth / total_ : kWidth;
    std::fprintf(stderr, "\r[%s%s] %zu/%zu", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, '.').c_str(), done_, total_);
    std::fflush(stderr);
  }
  void ClearBar() {
    if (bar_) std::fprintf(stderr, "\r\033[K");
  }

  std::mutex mutex_;
  size_t total_;
  size_t done_ = 0;
  size_t failed_ = 0;
  bool bar_;
};

bool ParseJobs(const std::string& text, unsigned* jobs) {
  if (text.empty() || text.size() > 4 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  *jobs = unsigned(std::stoul(text));
  return *jobs >= 1 && *jobs <= 1024;
}

}  // namespace

int RunBatch(const std::vector<std::string>& args, const char* argv0) {
  std::vector<std::string> places;
  unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-j" || a == "--jobs") {
      if (i + 1 == args.size() || !ParseJobs(args[++i], &jobs)) return PrintUsage(stderr, kExitUsage);
    } else if (a.rfind("-j", 0) == 0) {
      if (!ParseJobs(a.substr(2), &jobs)) return PrintUsage(stderr, kExitUsage);
    } else if (a.size() > 1 && a[0] == '-') {
      return PrintUsage(stderr, kExitUsage);
    } else {
      places.push_back(a);
    }
  }
  if (places.size() != 2) return PrintUsage(stderr, kExitUsage);
  const fs::path root = PathFromUtf8(places[0]), outdir = PathFromUtf8(places[1]);

  std::error_code ec;
  if (!fs::is_directory(root, ec)) {
    std::fprintf(stderr, "ctl2mdb: %s is not a folder\n", PathToUtf8(root).c_str());
    return kExitFailure;
  }
  std::vector<Job> documents;
  std::string error;
  if (!FindDocuments(root, outdir, &documents, &error)) {
    std::fprintf(stderr, "ctl2mdb: %s\n", error.c_str());
    return kExitFailure;
  }
  if (documents.empty()) {
    std::fprintf(stderr, "ctl2mdb: no DEFAULT.CTL under %s\n", PathToUtf8(root).c_str());
    return kExitFailure;
  }
  fs::create_directories(outdir, ec);
  if (!fs::is_directory(outdir, ec)) {
    std::fprintf(stderr, "ctl2mdb: cannot create %s\n", PathToUtf8(outdir).c_str());
    return kExitFailure;
  }

  const fs::path self = ExecutablePath();
  const fs::path exe = self.empty() ? PathFromUtf8(argv0) : self;
  Report report(documents.size());
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t i; (i = next.fetch_add(1)) < documents.size();) {
      report.Done(documents[i], RunOne(exe, documents[i]));
    }
  };
  std::vector<std::thread> threads;
  const size_t n = std::min<size_t>(jobs, documents.size());
  for (size_t t = 1; t < n; ++t) threads.emplace_back(worker);
  worker();
  for (std::thread& t : threads) t.join();
  report.Finish();
  return report.all_ok() ? kExitOk : kExitFailure;
}

}  // namespace kp::cli
