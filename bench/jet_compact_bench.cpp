// Compaction of a big database against copying the same file, each run in a
// process of its own so that its peak memory can be told apart: the
// database gets `rows` rows of the comment table's shape (Long, Long,
// Integer x3, Memo of 20-40 Japanese characters) in two sessions, so that
// their pages interleave with a second table's. With --keys the tables have
// their primary keys, whose indexes the compaction rebuilds. Prints times,
// peak memory and the ratios (best time of five runs each).
//
// Each run is a fresh copy of this program (--run) started by another fresh
// copy (--peak-of) that reports its time and peak: a child forked from this
// process, big after the filling, would count this process's pages.
//
// Usage: jet_compact_bench [--keys] [--keep] [rows] [work folder]
//   --keep  leaves the source database (jet_compact_bench.mdb) in the folder
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "jet/builder.h"
#include "jet/compact.h"
#include "jet/engine.h"
#include "export/output_schema.h"

namespace {

using Clock = std::chrono::steady_clock;
using kp::jet::Value;

bool Check(const kp::Status& s, const char* what) {
  if (!s.ok()) std::fprintf(stderr, "%s: %s\n", what, s.ToString().c_str());
  return s.ok();
}

// Appends comment rows `first` to `first + n` and a page row for every
// tenth to `path`.
bool Fill(const std::string& path, size_t first, size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  auto engine = kp::jet::CreateJetEngine();
  std::unique_ptr<kp::jet::Database> db;
  if (!Check(engine->OpenDatabase(path, &db), "open")) return false;
  std::unique_ptr<kp::jet::Recordset> comments, pages;
  if (!Check(db->OpenRecordset(u"SELECT * FROM [一覧_コメント]", &comments), "open table") ||
      !Check(db->OpenRecordset(u"SELECT * FROM [一覧_ページ]", &pages), "open table")) {
    return false;
  }
  std::u16string text;
  for (size_t i = first; i < first + n; ++i) {
    text.resize(20 + rng() % 21);
    for (auto& c : text) c = char16_t(rng() % 3 == 0 ? 0x3041 + rng() % 83 : 0x4E00 + rng() % 2000);
    kp::Status s = comments->AddNew();
    if (s.ok()) s = comments->SetField(u"PageNo", Value::Int(int64_t(i / 50 + 1)));
    if (s.ok()) s = comments->SetField(u"ID", Value::Int(int64_t(i % 50 + 1)));
    if (s.ok()) s = comments->SetField(u"Color", Value::Int(rng() % 16));
    if (s.ok()) s = comments->SetField(u"Left", Value::Int(rng() % 2000));
    if (s.ok()) s = comments->SetField(u"Top", Value::Int(rng() % 3000));
    if (s.ok()) s = comments->SetField(u"Text", Value::Str(text));
    if (s.ok()) s = comments->Update();
    if (s.ok() && i % 10 == 0) {
      s = pages->AddNew();
      if (s.ok()) s = pages->SetField(u"No", Value::Int(int64_t(i / 10 + 1)));
      if (s.ok()) s = pages->SetField(u"FileName", Value::Str(u"\\PAGE.TIF"));
      if (s.ok()) s = pages->Update();
    }
    if (!Check(s, "row")) return false;
  }
  return Check(comments->Close(), "close") && Check(pages->Close(), "close") && Check(db->Close(), "close");
}

// Copies `from` to the new file `to` (read, write, fsync), as compaction
// reads and writes.
bool Copy(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (in < 0 || out < 0) return false;
  std::vector<char> buf(1 << 20);
  ssize_t n;
  while ((n = ::read(in, buf.data(), buf.size())) > 0) {
    if (::write(out, buf.data(), size_t(n)) != n) return false;
  }
  const bool ok = n == 0 && ::fsync(out) == 0;
  ::close(in);
  ::close(out);
  return ok;
}

// `--run job` in a fresh process (see RunFresh): its time, processor time
// and peak resident memory (KiB).
bool Measure(const std::vector<std::string>& job, double* seconds, double* cpu, long* peak_kib) {
  std::vector<std::string> args{"/proc/self/exe", "--run"};
  args.insert(args.end(), job.begin(), job.end());
  const kp::bench::Child c = kp::bench::RunFresh(args);
  *seconds = c.seconds;
  *cpu = c.cpu_seconds;
  *peak_kib = c.max_rss_kb;
  return c.status == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (kp::bench::IsPeakOf(argc, argv)) return kp::bench::PeakOfMain(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 2 && args[0] == "--run") {
    if (args[1] == "idle") return 0;
    if (args.size() != 4) return 2;
    if (args[1] == "copy") return Copy(args[2], args[3]) ? 0 : 1;
    // The compaction the export runs on its own output (its template was
    // checked); jet-compact checks its source first.
    kp::jet::CompactOptions options;
    options.check_source = false;
    return Check(kp::jet::CompactDatabase(args[2], args[3], options), "compact") ? 0 : 1;
  }
  bool keys = false, keep = false;
  while (!args.empty() && (args[0] == "--keys" || args[0] == "--keep")) {
    (args[0] == "--keys" ? keys : keep) = true;
    args.erase(args.begin());
  }
  const size_t n = !args.empty() ? size_t(std::strtoull(args[0].c_str(), nullptr, 10)) : 200000;
  const std::string dir = args.size() > 1 ? args[1] : std::filesystem::temp_directory_path().string();
  const std::string source = dir + "/jet_compact_bench.mdb", copy = dir + "/jet_compact_bench.copy",
                    compacted = dir + "/jet_compact_bench.compact";
  for (const auto& p : {source, copy, compacted}) std::filesystem::remove(p);
  std::vector<kp::jet::TableDef> defs;
  if (!Check(kp::OutputTableDefs(&defs, keys), "template tables")) return 1;
  kp::jet::DatabaseSpec layout;
  for (auto& d : defs) layout.tables.push_back({d, {}});
  if (!Check(kp::jet::WriteDatabase(layout, source), "template")) return 1;
  if (!Fill(source, 0, n / 2, 1) || !Fill(source, n / 2, n - n / 2, 2)) return 1;

  double copy_s = 1e9, compact_s = 1e9, copy_cpu = 1e9, compact_cpu = 1e9, idle_s = 0, idle_cpu = 0;
  long copy_kib = 0, compact_kib = 0, idle_kib = 0;
  if (!Measure({"idle"}, &idle_s, &idle_cpu, &idle_kib)) return 1;
  // Best of five runs each: the machine may be busy with other work.
  for (int run = 0; run < 5; ++run) {
    double s = 0, cpu = 0;
    long kib = 0;
    std::filesystem::remove(copy);
    if (!Measure({"copy", source, copy}, &s, &cpu, &kib)) return 1;
    copy_s = std::min(copy_s, s);
    copy_cpu = std::min(copy_cpu, cpu);
    copy_kib = std::max(copy_kib, kib);
    std::filesystem::remove(compacted);
    if (!Measure({"compact", source, compacted}, &s, &cpu, &kib)) return 1;
    compact_s = std::min(compact_s, s);
    compact_cpu = std::min(compact_cpu, cpu);
    compact_kib = std::max(compact_kib, kib);
  }
  const auto size = std::filesystem::file_size(source), after = std::filesystem::file_size(compacted);
  std::printf("%s: ", keys ? "with primary keys" : "without keys");
  std::printf("rows: %zu comment rows + %zu page rows, file %ju bytes, compacted %ju bytes\n", n, n / 10 + 2,
              uintmax_t(size), uintmax_t(after));
  std::printf("copy the file : %8.3f s (processor %.3f s)  peak %6ld KiB\n", copy_s, copy_cpu, copy_kib);
  std::printf("compaction    : %8.3f s (processor %.3f s)  peak %6ld KiB\n", compact_s, compact_cpu, compact_kib);
  std::printf("(a child that does nothing: peak %ld KiB)\n", idle_kib);
  std::printf("compaction/copy time ratio %.2f (target <= 3)\n", compact_s / copy_s);
  for (const auto& p : {copy, compacted}) std::filesystem::remove(p);
  if (!keep) std::filesystem::remove(source);
  return 0;
}
