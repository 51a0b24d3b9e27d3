#include "bench/bench_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/support/ctl_writer.h"

namespace kp::bench {

Child RunChild(const std::vector<std::string>& args, std::string* out) {
  Child c;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int pipe_fd[2] = {-1, -1};
  if (out && ::pipe(pipe_fd) != 0) return c;
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) return c;
  if (pid == 0) {
    const int null_fd = ::open("/dev/null", O_WRONLY);
    ::dup2(out ? pipe_fd[1] : null_fd, 1);
    ::dup2(null_fd, 2);
    if (out) ::close(pipe_fd[0]);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (out) {
    ::close(pipe_fd[1]);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipe_fd[0], buf, sizeof buf)) > 0) out->append(buf, size_t(n));
    ::close(pipe_fd[0]);
  }
  struct rusage ru {};
  int status = 0;
  if (::wait4(pid, &status, 0, &ru) != pid) return c;
  c.seconds = Seconds(start, Clock::now());
  c.max_rss_kb = ru.ru_maxrss;
  c.cpu_seconds = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                  double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  c.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return c;
}

namespace {
constexpr char kPeakOf[] = "--peak-of";
}  // namespace

bool IsPeakOf(int argc, char** argv) { return argc > 2 && std::string(argv[1]) == kPeakOf; }

// --peak-of ARGS...: runs ARGS and prints its figures for RunFresh.
int PeakOfMain(int argc, char** argv) {
  const Child c = RunChild(std::vector<std::string>(argv + 2, argv + argc));
  std::printf("%d %.6f %.6f %ld\n", c.status, c.seconds, c.cpu_seconds, c.max_rss_kb);
  return 0;
}

Child RunFresh(const std::vector<std::string>& args) {
  std::vector<std::string> through{"/proc/self/exe", kPeakOf};
  through.insert(through.end(), args.begin(), args.end());
  std::string out;
  Child c;
  if (RunChild(through, &out).status != 0 ||
      std::sscanf(out.c_str(), "%d %lf %lf %ld", &c.status, &c.seconds, &c.cpu_seconds, &c.max_rss_kb) != 4) {
    return Child();
  }
  return c;
}

bool TakeRunOption(int argc, char** argv, int* i, RunOptions* run) {
  const std::string a = argv[*i];
  if (a == "--quick") {
    run->quick = true;
    run->reps = 3;
  } else if (a == "--reps" && *i + 1 < argc) {
    run->reps = std::max(1, std::atoi(argv[++*i]));
  } else if (a == "--dir" && *i + 1 < argc) {
    run->dir = argv[++*i];
  } else {
    return false;
  }
  return true;
}

std::string WorkFolder(const RunOptions& run, const std::string& name) {
  return run.dir.empty() ? testing::MakeTempFolder(name) : run.dir + "/" + name;
}

double Median(std::vector<double> runs) {
  if (runs.empty()) return 0;
  std::sort(runs.begin(), runs.end());
  const size_t n = runs.size();
  return n % 2 ? runs[n / 2] : (runs[n / 2 - 1] + runs[n / 2]) / 2;
}

namespace {

std::u16string LongText(int n) {
  std::u16string s = u"長い本文 " + std::u16string(1, char16_t(u'A' + n % 26)) + u": ";
  while (s.size() < 400) s += u"これは長めの説明文です。The quick brown fox jumps over the lazy dog. ";
  return s;
}

}  // namespace

ControlDocument MakeDocument(int pages, const PageShape& shape) {
  ControlDocument doc;
  for (int i = 0; i < 50; ++i) {
    const std::string n = std::to_string(i + 1);
    doc.EmbeddedFiles.push_back({1, u"\\埋め込み資料" + std::u16string(n.begin(), n.end()) + u".KPE",
                                 i % 2 ? u"説明文テキスト" : u"attached file"});
  }
  doc.EmbeddedFileCount = 50;
  const std::u16string japanese = u"これは評価用のコメント本文です。長めの文章で一行を埋めます。";
  const std::u16string ascii = u"A comment in plain ASCII text, of a usual length.";
  const std::u16string long_text = LongText(0);
  int item = 0;
  for (int n = 1; n <= pages; ++n) {
    PageRecord p = testing::SimplePage(n);
    if (n % 3 == 1) {
      p.Name = n % 2 ? u"見出し" : u"Heading";
      p.IsTag = 2;
    }
    p.Level = uint8_t(n % 4);
    p.Angle = uint8_t(1 + n % 4);
    for (int i = 0; i < shape.comments; ++i, ++item)
      p.Comments.push_back({int16_t(i % 16), int16_t(i * 7), int16_t(i * 11),
                            item % 7 == 0 ? long_text : item % 2 ? japanese : ascii});
    for (int i = 0; i < shape.keywords; ++i)
      p.KeyWords.push_back({1, 2, 3, 4, i % 2 ? u"キーワード" : u"keyword", u"項目"});
    for (int i = 0; i < shape.squares; ++i) p.Squares.push_back({int16_t(i % 16), 10, 20, 30, 40});
    for (int i = 0; i < shape.hyperlinks; ++i, ++item)
      p.HyperLinks.push_back({1, 2, 3, 4, u"\\P1.TIF", item % 7 == 0 ? long_text : u"リンク先の説明"});
    for (int i = 0; i < shape.embeds; ++i) p.Embeds.push_back({(n + i) % 50});
    testing::CountLists(&p);
    doc.Pages.push_back(std::move(p));
  }
  doc.PageCount = pages;
  return doc;
}

int64_t RowCount(const ControlDocument& doc) {
  int64_t rows = 0;
  for (const PageRecord& p : doc.Pages)
    rows += 1 + p.CommentCount + p.KeyWordCount + p.SquareCount + p.HyperLinkCount + p.EmbedCount;
  return rows;
}

std::vector<std::string> ImagePaths(const std::string& folder, const ControlDocument& doc) {
  std::vector<std::string> paths;
  for (const PageRecord& p : doc.Pages) {
    std::string path = folder;
    for (char16_t c : p.FileName) path += c == u'\\' ? '/' : char(c);
    paths.push_back(std::move(path));
  }
  return paths;
}

double ReadAndStat(const std::string& ctl, const std::vector<std::string>& images) {
  const auto start = Clock::now();
  std::vector<char> bytes(std::filesystem::file_size(ctl));
  FILE* f = std::fopen(ctl.c_str(), "rb");
  if (!f) return -1;
  int64_t total = int64_t(std::fread(bytes.data(), 1, bytes.size(), f));
  std::fclose(f);
  struct stat st;
  for (const std::string& path : images)
    if (::stat(path.c_str(), &st) == 0) total += st.st_size;
  const double s = Seconds(start, Clock::now());
  return total < 0 ? -1 : s;
}

double RawWrite(int64_t bytes, const std::string& path, size_t chunk, bool sync) {
  std::vector<char> data(chunk, 'x');
  const auto start = Clock::now();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return -1;
  bool ok = true;
  for (int64_t done = 0; ok && done < bytes;) {
    const size_t n = size_t(std::min<int64_t>(int64_t(chunk), bytes - done));
    ok = ::write(fd, data.data(), n) == ssize_t(n);
    done += int64_t(n);
  }
  if (ok && sync) ok = ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  const double s = Seconds(start, Clock::now());
  std::filesystem::remove(path);
  return ok ? s : -1;
}

double CopyFile(const std::string& from, const std::string& to) {
  std::vector<char> buf(64 * 1024);
  const auto start = Clock::now();
  const int in = ::open(from.c_str(), O_RDONLY);
  if (in < 0) return -1;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = out >= 0;
  while (ok) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = ::write(out, buf.data(), size_t(n)) == n;
  }
  if (out >= 0) {
    ok = ok && ::fsync(out) == 0;
    ok = ::close(out) == 0 && ok;
  }
  ::close(in);
  const double s = Seconds(start, Clock::now());
  std::filesystem::remove(to);
  return ok ? s : -1;
}

}  // namespace kp::bench
