// Appending one million rows of the comment table's shape (Long, Long,
// Integer x3, Memo of 20-40 Japanese characters) through the engine, against
// two baselines measured in the same run: writing the same number of bytes
// raw, and inserting the same rows into SQLite in one transaction with a
// prepared statement. Prints rows per second and the ratios.
//
// Usage: jet_append_bench [rows] [work folder]
#include <sqlite3.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/text_util.h"
#include "bench/bench_support.h"
#include "jet/builder.h"
#include "jet/engine.h"
#include "export/output_schema.h"

namespace {

using kp::bench::Clock;
using kp::bench::Seconds;
using kp::jet::Value;

struct CommentRow {
  int32_t page_no, id;
  int16_t color, left, top;
  std::u16string text;
};

std::vector<CommentRow> MakeRows(size_t n) {
  std::mt19937 rng(42);
  std::vector<CommentRow> rows(n);
  for (size_t i = 0; i < n; ++i) {
    CommentRow& r = rows[i];
    r.page_no = int32_t(i / 50 + 1);
    r.id = int32_t(i % 50 + 1);
    r.color = int16_t(rng() % 16);
    r.left = int16_t(rng() % 2000);
    r.top = int16_t(rng() % 3000);
    const size_t len = 20 + rng() % 21;
    r.text.resize(len);
    for (auto& c : r.text) c = char16_t(rng() % 3 == 0 ? 0x3041 + rng() % 83 : 0x4E00 + rng() % 2000);
  }
  return rows;
}


bool Check(const kp::Status& s, const char* what) {
  if (!s.ok()) std::fprintf(stderr, "%s: %s\n", what, s.ToString().c_str());
  return s.ok();
}

// Appends `rows` through the engine to a fresh copy of the template.
bool RunEngine(const std::vector<CommentRow>& rows, const std::string& path, double* seconds) {
  std::vector<kp::jet::TableDef> defs;
  if (!Check(kp::OutputTableDefs(&defs), "template tables")) return false;
  kp::jet::DatabaseSpec layout;
  for (auto& d : defs) layout.tables.push_back({d, {}});
  std::filesystem::remove(path);
  if (!Check(kp::jet::WriteDatabase(layout, path), "template")) return false;

  const std::u16string kPageNo = u"PageNo", kId = u"ID", kColor = u"Color", kLeft = u"Left", kTop = u"Top",
                       kText = u"Text";
  const auto start = Clock::now();
  auto engine = kp::jet::CreateJetEngine();
  std::unique_ptr<kp::jet::Database> db;
  if (!Check(engine->OpenDatabase(path, &db), "open")) return false;
  std::unique_ptr<kp::jet::Recordset> rs;
  if (!Check(db->OpenRecordset(u"SELECT * FROM [一覧_コメント]", &rs), "open table")) return false;
  for (const CommentRow& r : rows) {
    kp::Status s = rs->AddNew();
    if (s.ok()) s = rs->SetField(kPageNo, Value::Int(r.page_no));
    if (s.ok()) s = rs->SetField(kId, Value::Int(r.id));
    if (s.ok()) s = rs->SetField(kColor, Value::Int(r.color));
    if (s.ok()) s = rs->SetField(kLeft, Value::Int(r.left));
    if (s.ok()) s = rs->SetField(kTop, Value::Int(r.top));
    if (s.ok()) s = rs->SetField(kText, Value::Str(r.text));
    if (s.ok()) s = rs->Update();
    if (!Check(s, "row")) return false;
  }
  if (!Check(rs->Close(), "close table") || !Check(db->Close(), "close")) return false;
  *seconds = Seconds(start, Clock::now());
  return true;
}

bool RunSqlite(const std::vector<CommentRow>& rows, const std::string& path, double* seconds) {
  std::filesystem::remove(path);
  std::vector<std::string> texts;
  texts.reserve(rows.size());
  for (const auto& r : rows) texts.push_back(kp::Utf16ToUtf8(r.text));
  const auto start = Clock::now();
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
  sqlite3_exec(db,
               "CREATE TABLE comment (PageNo INTEGER, ID INTEGER, Color INTEGER, \"Left\" INTEGER, "
               "Top INTEGER, Text TEXT)",
               nullptr, nullptr, nullptr);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO comment VALUES (?, ?, ?, ?, ?, ?)", -1, &st, nullptr);
  for (size_t i = 0; i < rows.size(); ++i) {
    const CommentRow& r = rows[i];
    sqlite3_bind_int(st, 1, r.page_no);
    sqlite3_bind_int(st, 2, r.id);
    sqlite3_bind_int(st, 3, r.color);
    sqlite3_bind_int(st, 4, r.left);
    sqlite3_bind_int(st, 5, r.top);
    sqlite3_bind_text(st, 6, texts[i].data(), int(texts[i].size()), SQLITE_STATIC);
    if (sqlite3_step(st) != SQLITE_DONE) return false;
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  const bool ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  *seconds = Seconds(start, Clock::now());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t n = argc > 1 ? size_t(std::strtoull(argv[1], nullptr, 10)) : 1000000;
  const std::string dir = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
  const std::string jet_path = dir + "/jet_append_bench.mdb";
  const std::vector<CommentRow> rows = MakeRows(n);

  double jet = 0, raw = 0, lite = 0;
  if (!RunEngine(rows, jet_path, &jet)) return 1;
  const size_t bytes = std::filesystem::file_size(jet_path);
  raw = kp::bench::RawWrite(int64_t(bytes), dir + "/jet_append_bench.raw", 1 << 20, false);
  if (raw < 0) return 1;
  if (!RunSqlite(rows, dir + "/jet_append_bench.sqlite", &lite)) return 1;
  const size_t lite_bytes = std::filesystem::file_size(dir + "/jet_append_bench.sqlite");

  std::printf("rows: %zu (comment table shape, memo of 20-40 Japanese characters)\n", n);
  std::printf("engine append : %8.3f s  %10.0f rows/s  file %zu bytes\n", jet, n / jet, bytes);
  std::printf("raw write     : %8.3f s  (same %zu bytes)  engine/raw time ratio %.2f\n", raw, bytes, jet / raw);
  std::printf("sqlite insert : %8.3f s  %10.0f rows/s  file %zu bytes\n", lite, n / lite, lite_bytes);
  std::printf("engine rows/s vs sqlite rows/s: %.2fx (target >= 4x)\n", lite / jet);
  std::filesystem::remove(jet_path);
  std::filesystem::remove(dir + "/jet_append_bench.sqlite");
  return 0;
}
