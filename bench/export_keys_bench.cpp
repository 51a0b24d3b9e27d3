// The export into the template with its primary keys against the same
// export into the same template without them, measured in one run: each
// repetition exports the document into both (alternating), and the table
// shows the medians and their ratio (target: at most 1.3).
//
// Usage: export_keys_bench [--quick] [--reps N] [--dir FOLDER] [--only keyed|plain]
//   --only  exports into one template only (for profiling); no ratio
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "export/export_command.h"
#include "jet/builder.h"
#include "jet/engine.h"
#include "export/output_schema.h"
#include "tests/support/ctl_writer.h"

using namespace kp;
using namespace kp::bench;

namespace {

std::string Ms(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f ms", s * 1e3);
  return buf;
}
std::string Mb(double bytes) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f MB", bytes / 1e6);
  return buf;
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "export_keys_bench: %s\n", what.c_str());
  std::exit(1);
}

// A program folder whose KP.dbd has the primary keys or not.
std::string TemplateFolder(const std::string& root, bool keys) {
  const std::string folder = root + (keys ? "/with-keys" : "/without-keys");
  std::filesystem::create_directories(folder);
  std::vector<jet::TableDef> defs;
  if (!OutputTableDefs(&defs, keys).ok()) Fail("template tables");
  jet::DatabaseSpec layout;
  for (auto& d : defs) layout.tables.push_back({d, {}});
  const Status s = jet::WriteDatabase(layout, folder + "/KP.dbd");
  if (!s.ok()) Fail("template: " + s.ToString());
  return folder;
}

struct Times {
  double wall = 0, cpu = 0;
};

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

Times Export(const std::string& program_folder, const ControlDocument& doc, const std::string& out) {
  std::filesystem::remove(out);
  ExportCommand command(program_folder, [] { return jet::CreateJetEngine(); });
  SilentUi ui(out);
  ExportOptions options;
  options.compact = false;
  const auto start = Clock::now();
  const double cpu = CpuSeconds();
  ExportResult r = command.Run(doc, &ui, options);
  Times t{Seconds(start, Clock::now()), CpuSeconds() - cpu};
  if (r.outcome != ExportOutcome::kSaved) {
    std::printf("  export into %s failed: %s\n", program_folder.c_str(), r.cause.ToString().c_str());
    return Times{-1, -1};
  }
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  RunOptions run;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    if (TakeRunOption(argc, argv, &i, &run)) continue;
    const std::string a = argv[i];
    if (a == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else {
      std::fprintf(stderr, "usage: export_keys_bench [--quick] [--reps N] [--dir FOLDER]\n");
      return 2;
    }
  }
  const std::string root = WorkFolder(run, "kp-keys-bench");
  std::filesystem::create_directories(root);
  const std::string with = TemplateFolder(root, true), without = TemplateFolder(root, false);

  struct Doc {
    const char* name;
    int pages;
    PageShape shape;
  };
  std::vector<Doc> docs = {{"3k pages", 3000, {30, 15, 14, 8, 3}}, {"100k pages", 100000, {4, 2, 2, 1, 1}}};
  if (run.quick) docs = {{"2k pages", 2000, {4, 2, 2, 1, 1}}};
  std::printf("export_keys_bench: %d repetitions each, medians\n", run.reps);
  for (const Doc& d : docs) {
    const ControlDocument doc = MakeDocument(d.pages, d.shape);
    std::vector<double> keyed, plain, keyed_cpu, plain_cpu;
    bool failed = false;
    for (int i = 0; i < run.reps && !failed; ++i) {
      const Times p = only == "keyed" ? Times{1, 1} : Export(without, doc, root + "/plain.mdb");
      const Times k = only == "plain" ? Times{1, 1} : Export(with, doc, root + "/keyed.mdb");
      plain.push_back(p.wall);
      plain_cpu.push_back(p.cpu);
      keyed.push_back(k.wall);
      keyed_cpu.push_back(k.cpu);
      failed = p.wall < 0 || k.wall < 0;
    }
    if (failed) {
      std::printf("%-11s %lld rows: not measured\n", d.name, (long long)RowCount(doc));
      continue;
    }
    const double k = Median(keyed), p = Median(plain), kc = Median(keyed_cpu), pc = Median(plain_cpu);
    if (!only.empty()) {
      std::printf("%-11s %s: %s, CPU %s\n", d.name, only.c_str(), Ms(only == "keyed" ? k : p).c_str(),
                  Ms(only == "keyed" ? kc : pc).c_str());
      continue;
    }
    std::printf("%-11s %lld rows: with keys %s, without %s: ratio %.2f (target <= 1.3) %s; CPU %s / %s: %.2f; "
                "file %s / %s\n",
                d.name, (long long)RowCount(doc), Ms(k).c_str(), Ms(p).c_str(), k / p, k / p <= 1.3 ? "met" : "MISSED",
                Ms(kc).c_str(), Ms(pc).c_str(), kc / pc,
                Mb(double(std::filesystem::file_size(root + "/keyed.mdb"))).c_str(),
                Mb(double(std::filesystem::file_size(root + "/plain.mdb"))).c_str());
  }
  std::filesystem::remove_all(root);
  return 0;
}
