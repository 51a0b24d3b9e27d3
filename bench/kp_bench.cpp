// The whole job, measured in one run against baselines of the same machine:
// load, export, compaction, the default conversion, reading its output back
// (`ctl2mdb --verify`), the growth of the cost with the row count, the peak
// memory of a conversion, and the window's lists
// (when their benchmark was built). Each step runs several times; the table
// shows medians and ratios.
//
// Usage: kp_bench [--quick] [--reps N] [--dir FOLDER] [--doc NAME] [--keep]
//   --quick  small sizes and three repetitions, a smoke run of every step
//   --dir    where the documents and databases are written (default: temp)
//   --doc    only the documents whose name starts with NAME ("small", "3k",
//            "100k"), or only "growth" or "lists", for profiling one step
//   --keep   leave each generated document in FOLDER/kp-bench/doc-PAGES
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/heap.h"
#include "bench/bench_support.h"
#include "ctl/load_command.h"
#include "export/export_command.h"
#include "jet/compact.h"
#include "jet/engine.h"
#include "base/text_util.h"
#include "tests/support/ctl_writer.h"

using namespace kp;
using namespace kp::bench;

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "kp_bench: %s\n", what.c_str());
  std::exit(1);
}

// Exports `doc` into a fresh copy of the template at `out`, uncompacted.
double Export(ExportCommand& command, const ControlDocument& doc, const std::string& out) {
  std::filesystem::remove(out);
  SilentUi ui(out);
  ExportOptions options;
  options.compact = false;
  const auto start = Clock::now();
  ExportResult r = command.Run(doc, &ui, options);
  const double s = Seconds(start, Clock::now());
  if (r.outcome != ExportOutcome::kSaved) Fail("export failed: " + r.cause.ToString());
  return s;
}

double Load(const std::string& ctl, ControlDocument* doc) {
  FileSystemImageSizer sizer;
  const auto start = Clock::now();
  LoadResult r = LoadControlFile(Utf8ToUtf16(ctl), &sizer, doc);
  const double s = Seconds(start, Clock::now());
  if (!r.ok()) Fail("load failed: " + r.cause);
  return s;
}

// The same rows into six SQLite tables of the same columns: one
// transaction, one prepared statement per table, texts bound as UTF-16.
// With `keyed`, the tables have the template's primary keys: No in the pages
// table (SQLite's row id), a unique (PageNo, ID) in the other five.
double Sqlite(const ControlDocument& doc, const std::string& path, bool keyed) {
  std::filesystem::remove(path);
  const auto start = Clock::now();
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) Fail("sqlite open");
  const std::string page_key = keyed ? ", PRIMARY KEY (No)" : "";
  const std::string key = keyed ? ", PRIMARY KEY (PageNo, ID)" : "";
  const std::string schema =
      "CREATE TABLE page (No INTEGER, Name TEXT, IsTag INTEGER, Level INTEGER, FileName TEXT, "
      "ImageLen INTEGER, Angle INTEGER" + page_key + ");"
      "CREATE TABLE embed (PageNo INTEGER, ID INTEGER, KPE_FileName TEXT, InData TEXT" + key + ");"
      "CREATE TABLE comment (PageNo INTEGER, ID INTEGER, Color INTEGER, \"Left\" INTEGER, Top INTEGER, "
      "Text TEXT" + key + ");"
      "CREATE TABLE keyword (PageNo INTEGER, ID INTEGER, \"Left\" INTEGER, Top INTEGER, Width INTEGER, "
      "Height INTEGER, KeyWord TEXT, Field TEXT" + key + ");"
      "CREATE TABLE square (PageNo INTEGER, ID INTEGER, Color INTEGER, \"Left\" INTEGER, Top INTEGER, "
      "Width INTEGER, Height INTEGER" + key + ");"
      "CREATE TABLE link (PageNo INTEGER, ID INTEGER, \"Left\" INTEGER, Top INTEGER, Width INTEGER, "
      "Height INTEGER, LinkInfo1 TEXT, LinkInfo2 TEXT" + key + ");"
      "BEGIN";
  if (sqlite3_exec(db, schema.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail("sqlite schema");
  auto prepare = [&](const char* sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) Fail("sqlite prepare");
    return st;
  };
  auto text = [](sqlite3_stmt* st, int i, const std::u16string& s) {
    sqlite3_bind_text16(st, i, s.data(), int(s.size() * 2), SQLITE_STATIC);
  };
  auto step = [](sqlite3_stmt* st) {
    if (sqlite3_step(st) != SQLITE_DONE) Fail("sqlite insert");
    sqlite3_reset(st);
  };
  sqlite3_stmt* st = prepare("INSERT INTO page VALUES (?,?,?,?,?,?,?)");
  for (size_t i = 0; i < doc.Pages.size(); ++i) {
    const PageRecord& p = doc.Pages[i];
    sqlite3_bind_int(st, 1, int(i + 1));
    if (p.Name.empty()) sqlite3_bind_null(st, 2); else text(st, 2, p.Name);
    sqlite3_bind_int(st, 3, p.IsTagged());
    sqlite3_bind_int(st, 4, p.Level);
    text(st, 5, p.FileName);
    sqlite3_bind_int(st, 6, p.ImageLen);
    sqlite3_bind_int(st, 7, (p.Angle - 1) * 90);
    step(st);
  }
  sqlite3_finalize(st);
  st = prepare("INSERT INTO embed VALUES (?,?,?,?)");
  for (size_t i = 0; i < doc.Pages.size(); ++i)
    for (size_t j = 0; j < doc.Pages[i].Embeds.size(); ++j) {
      const EmbeddedFileRecord& e = doc.EmbeddedFiles[size_t(doc.Pages[i].Embeds[j].RegisterIndex)];
      sqlite3_bind_int(st, 1, int(i + 1));
      sqlite3_bind_int(st, 2, int(j + 1));
      text(st, 3, e.KPE_FileName);
      text(st, 4, e.InData);
      step(st);
    }
  sqlite3_finalize(st);
  st = prepare("INSERT INTO comment VALUES (?,?,?,?,?,?)");
  for (size_t i = 0; i < doc.Pages.size(); ++i)
    for (size_t j = 0; j < doc.Pages[i].Comments.size(); ++j) {
      const CommentRecord& c = doc.Pages[i].Comments[j];
      sqlite3_bind_int(st, 1, int(i + 1));
      sqlite3_bind_int(st, 2, int(j + 1));
      sqlite3_bind_int(st, 3, c.Color);
      sqlite3_bind_int(st, 4, c.Left);
      sqlite3_bind_int(st, 5, c.Top);
      text(st, 6, c.Text);
      step(st);
    }
  sqlite3_finalize(st);
  st = prepare("INSERT INTO keyword VALUES (?,?,?,?,?,?,?,?)");
  for (size_t i = 0; i < doc.Pages.size(); ++i)
    for (size_t j = 0; j < doc.Pages[i].KeyWords.size(); ++j) {
      const KeyWordRecord& k = doc.Pages[i].KeyWords[j];
      sqlite3_bind_int(st, 1, int(i + 1));
      sqlite3_bind_int(st, 2, int(j + 1));
      sqlite3_bind_int(st, 3, k.Left);
      sqlite3_bind_int(st, 4, k.Top);
      sqlite3_bind_int(st, 5, k.Width);
      sqlite3_bind_int(st, 6, k.Height);
      text(st, 7, k.KeyWord);
      text(st, 8, k.Field);
      step(st);
    }
  sqlite3_finalize(st);
  st = prepare("INSERT INTO square VALUES (?,?,?,?,?,?,?)");
  for (size_t i = 0; i < doc.Pages.size(); ++i)
    for (size_t j = 0; j < doc.Pages[i].Squares.size(); ++j) {
      const SquareRecord& q = doc.Pages[i].Squares[j];
      sqlite3_bind_int(st, 1, int(i + 1));
      sqlite3_bind_int(st, 2, int(j + 1));
      sqlite3_bind_int(st, 3, q.Color);
      sqlite3_bind_int(st, 4, q.Left);
      sqlite3_bind_int(st, 5, q.Top);
      sqlite3_bind_int(st, 6, q.Width);
      sqlite3_bind_int(st, 7, q.Height);
      step(st);
    }
  sqlite3_finalize(st);
  st = prepare("INSERT INTO link VALUES (?,?,?,?,?,?,?,?)");
  for (size_t i = 0; i < doc.Pages.size(); ++i)
    for (size_t j = 0; j < doc.Pages[i].HyperLinks.size(); ++j) {
      const HyperLinkRecord& h = doc.Pages[i].HyperLinks[j];
      sqlite3_bind_int(st, 1, int(i + 1));
      sqlite3_bind_int(st, 2, int(j + 1));
      sqlite3_bind_int(st, 3, h.Left);
      sqlite3_bind_int(st, 4, h.Top);
      sqlite3_bind_int(st, 5, h.Width);
      sqlite3_bind_int(st, 6, h.Height);
      text(st, 7, h.LinkInfo1);
      text(st, 8, h.LinkInfo2);
      step(st);
    }
  sqlite3_finalize(st);
  if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) Fail("sqlite commit");
  sqlite3_close(db);
  const double s = Seconds(start, Clock::now());
  std::filesystem::remove(path);
  return s;
}


struct Row {
  std::string step, measured, baseline, ratio, target;
};
std::vector<Row> table;

std::string Fmt(const char* f, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, f, v);
  return buf;
}
std::string Ms(double s) { return Fmt("%.1f ms", s * 1e3); }
std::string Mb(double bytes) { return Fmt("%.1f MB", bytes / 1e6); }

void Add(std::string step, std::string measured, std::string baseline, double ratio, double limit,
         bool at_most, const char* unit = "x") {
  const bool met = at_most ? ratio <= limit : ratio >= limit;
  // A ratio that misses its limit by less than the last shown digit gets one more.
  const bool close = Fmt("%.2f", ratio) == Fmt("%.2f", limit);
  Row r{std::move(step), std::move(measured), std::move(baseline), Fmt(close ? "%.3f" : "%.2f", ratio) + unit,
        (at_most ? "<= " : ">= ") + Fmt("%.1f", limit) + unit + (met ? "  met" : "  MISSED")};
  std::printf("  %s: %s vs %s -> %s (%s)\n", r.step.c_str(), r.measured.c_str(), r.baseline.c_str(),
              r.ratio.c_str(), r.target.c_str());
  std::fflush(stdout);
  table.push_back(std::move(r));
}

struct Doc {
  const char* name;
  int pages;
  PageShape shape;
};

}  // namespace

int main(int argc, char** argv) {
  // The heap set up as ctl2mdb and the window set theirs up, so that the
  // steps are measured as they run there.
  kp::ReserveHugePageHeap(size_t(512) << 20);
  if (IsPeakOf(argc, argv)) return PeakOfMain(argc, argv);
  RunOptions run;
  std::string only;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    if (TakeRunOption(argc, argv, &i, &run)) continue;
    const std::string a = argv[i];
    if (a == "--keep") {
      keep = true;
    } else if (a == "--doc" && i + 1 < argc) {
      only = argv[++i];
    } else {
      std::fprintf(stderr, "usage: kp_bench [--quick] [--reps N] [--dir FOLDER] [--doc NAME] [--keep]\n");
      return 2;
    }
  }
  const std::string bin = ProgramFolder();
  const std::string root = WorkFolder(run, "kp-bench");
  std::filesystem::create_directories(root);
  ExportCommand command(bin, [] { return jet::CreateJetEngine(); });

  // small; the 3,000-page one of about 211k rows; 100,000 pages with a
  // million annotations (ten a page across the four lists and the embeds).
  std::vector<Doc> docs = {{"small", 100, {3, 2, 2, 2, 1}},
                           {"3k pages", 3000, {30, 15, 14, 8, 3}},
                           {"100k pages", 100000, {4, 2, 2, 1, 1}}};
  if (run.quick) docs = {{"small", 100, {3, 2, 2, 2, 1}}, {"2k pages", 2000, {4, 2, 2, 1, 1}}};
  std::printf("kp_bench: %d repetitions each, medians; work folder %s\n", run.reps, root.c_str());

  for (const Doc& d : docs) {
    if (std::string(d.name).rfind(only, 0) != 0) continue;
    const std::string folder = root + "/doc-" + std::to_string(d.pages);
    std::filesystem::remove_all(folder);
    ControlDocument generated = MakeDocument(d.pages, d.shape);
    const std::string ctl = testing::WriteDocumentFolder(folder, generated, {}, 1000);
    const int64_t rows = RowCount(generated);
    const int64_t ctl_bytes = int64_t(std::filesystem::file_size(ctl));
    std::printf("\n%s: %d pages, %lld rows, control file %s\n", d.name, d.pages, (long long)rows,
                Mb(double(ctl_bytes)).c_str());

    // 1. load
    const std::vector<std::string> images = ImagePaths(folder, generated);
    std::vector<double> base, load;
    ControlDocument doc;
    for (int i = 0; i < run.reps; ++i) {
      base.push_back(ReadAndStat(ctl, images));
      doc = ControlDocument();
      load.push_back(Load(ctl, &doc));
    }
    generated = ControlDocument();
    Add(std::string(d.name) + ": load", Ms(Median(load)), Ms(Median(base)) + " read+stat",
        Median(load) / Median(base), 2, true);

    // 2. export (uncompacted) vs raw write of its bytes and vs SQLite
    const std::string out = root + "/out.mdb";
    std::vector<double> exp, raw, lite, lite_plain;
    for (int i = 0; i < run.reps; ++i) exp.push_back(Export(command, doc, out));
    const int64_t out_bytes = int64_t(std::filesystem::file_size(out));
    for (int i = 0; i < run.reps; ++i) raw.push_back(RawWrite(out_bytes, root + "/raw.bin"));
    for (int i = 0; i < run.reps; ++i) {
      lite.push_back(Sqlite(doc, root + "/out.sqlite", true));
      lite_plain.push_back(Sqlite(doc, root + "/out.sqlite", false));
    }
    const double e = Median(exp), w = Median(raw), q = Median(lite), qp = Median(lite_plain);
    Add(std::string(d.name) + ": export vs raw write", Ms(e) + Fmt(" (%.0f rows/s)", double(rows) / e),
        Ms(w) + " raw " + Mb(double(out_bytes)), e / w, 2, true);
    // The template has primary keys, so the baseline has them too.
    Add(std::string(d.name) + ": export vs SQLite", Fmt("%.0f rows/s", double(rows) / e),
        Fmt("%.0f rows/s", double(rows) / q), q / e, 4, false);
    std::printf("    (SQLite without the keys: %.0f rows/s, the export %.2fx that)\n", double(rows) / qp,
                qp / e);

    // 3. compaction vs copying the file
    std::vector<double> comp, copy;
    const std::string compacted = root + "/compacted.mdb";
    for (int i = 0; i < run.reps; ++i) {
      std::filesystem::remove(compacted);
      const auto start = Clock::now();
      Status s = jet::CompactDatabase(out, compacted);
      comp.push_back(Seconds(start, Clock::now()));
      if (!s.ok()) Fail("compaction: " + s.ToString());
      copy.push_back(CopyFile(out, root + "/copy.mdb"));
    }
    Add(std::string(d.name) + ": compaction vs copy", Ms(Median(comp)), Ms(Median(copy)) + " copy",
        Median(comp) / Median(copy), 3, true);
    std::filesystem::remove(compacted);

    // 4 and 6. the whole default conversion as a child process
    std::vector<double> conv, conv_cpu, conv_raw;
    long rss = 0, rss_nc = 0;
    int64_t final_bytes = 0;
    for (int i = 0; i < run.reps; ++i) {
      std::filesystem::remove(out);
      Child c = RunChild({bin + "/ctl2mdb", ctl, out});
      if (c.status != 0) Fail("ctl2mdb failed with status " + std::to_string(c.status));
      conv.push_back(c.seconds);
      conv_cpu.push_back(c.cpu_seconds);
      final_bytes = int64_t(std::filesystem::file_size(out));
      conv_raw.push_back(RawWrite(final_bytes, root + "/raw.bin"));
    }
    // 7. checking the compacted output, reading it back and comparing it
    // with the document (`ctl2mdb --verify`), against the whole conversion
    std::vector<double> verify, verify_cpu;
    for (int i = 0; i < run.reps; ++i) {
      Child c = RunChild({bin + "/ctl2mdb", "--verify", ctl, out});
      if (c.status != 0) Fail("ctl2mdb --verify failed with status " + std::to_string(c.status));
      verify.push_back(c.seconds);
      verify_cpu.push_back(c.cpu_seconds);
    }
    // The peak memory through a fresh process (see RunFresh).
    std::filesystem::remove(out);
    Child fresh = RunFresh({bin + "/ctl2mdb", ctl, out});
    if (fresh.status != 0) Fail("ctl2mdb failed with status " + std::to_string(fresh.status));
    rss = fresh.max_rss_kb;
    std::filesystem::remove(out);
    fresh = RunFresh({bin + "/ctl2mdb", ctl, out, "--no-compact"});
    if (fresh.status != 0) Fail("ctl2mdb --no-compact failed with status " + std::to_string(fresh.status));
    rss_nc = fresh.max_rss_kb;
    Add(std::string(d.name) + ": whole conversion", Ms(Median(conv)) + " (CPU " + Ms(Median(conv_cpu)) + ")",
        Ms(Median(conv_raw)) + " raw " + Mb(double(final_bytes)), Median(conv) / Median(conv_raw), 4, true);
    Add(std::string(d.name) + ": verify vs conversion", Ms(Median(verify)) + " (CPU " + Ms(Median(verify_cpu)) + ")",
        Ms(Median(conv)) + " conversion", Median(verify) / Median(conv), 4, true);
    const double inputs = double(ctl_bytes + final_bytes);
    Add(std::string(d.name) + ": peak memory", Mb(rss * 1024.0) + Fmt(" (no-compact %.1f MB)", rss_nc * 1024.0 / 1e6),
        Mb(inputs) + " ctl+output", rss * 1024.0 / inputs, 1.5, true);
    std::filesystem::remove(out);
    if (!keep) std::filesystem::remove_all(folder);
  }

  // 5. growth: export time per row at 10k, 100k and 1M rows (pages of ten
  // annotations: eleven rows a page).
  if (only.empty() || only == "growth") {
    std::printf("\ngrowth (export, uncompacted)\n");
    const std::vector<int> row_counts = run.quick ? std::vector<int>{1000, 10000} : std::vector<int>{10000, 100000, 1000000};
    std::vector<double> per_row;
    for (int n : row_counts) {
      const ControlDocument doc = MakeDocument(n / 11, {4, 2, 2, 1, 1});
      const int64_t rows = RowCount(doc);
      std::vector<double> runs;
      for (int i = 0; i < run.reps; ++i) runs.push_back(Export(command, doc, root + "/grow.mdb"));
      per_row.push_back(Median(runs) / double(rows));
      std::printf("  %lld rows: %.1f ms, %.3f us/row\n", (long long)rows, Median(runs) * 1e3, per_row.back() * 1e6);
    }
    std::filesystem::remove(root + "/grow.mdb");
    Add(Fmt("growth: per row at %.0f rows", row_counts.back()), Fmt("%.3f us", per_row.back() * 1e6),
        Fmt("%.3f us", per_row.front() * 1e6) + Fmt(" at %.0f rows", row_counts.front()),
        per_row.back() / per_row.front(), 1.2, true);
  }

  // 7. the window's lists, when their benchmark is built
  std::string lists_out;
  const std::string lists = bin + "/window_lists_bench";
  if (!only.empty() && only != "lists") {
    lists_out = "not run (--doc)\n";
  } else if (std::filesystem::exists(lists)) {
    std::vector<std::string> args{lists};
    if (run.quick) args.push_back("10000");
    Child c = RunChild(args, &lists_out);
    if (c.status != 0) lists_out = "window_lists_bench failed\n";
  } else {
    lists_out = "window_lists_bench not built (needs Qt)\n";
  }

  std::printf("\n| step | measured | baseline | ratio | target |\n|---|---|---|---|---|\n");
  for (const Row& r : table)
    std::printf("| %s | %s | %s | %s | %s |\n", r.step.c_str(), r.measured.c_str(), r.baseline.c_str(),
                r.ratio.c_str(), r.target.c_str());
  std::printf("\nwindow lists (target: each within 10x of an empty model reset):\n%s", lists_out.c_str());
  if (run.dir.empty()) std::filesystem::remove_all(root);
  return 0;
}
