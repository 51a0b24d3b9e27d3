#include "fuzz/fuzz_targets.h"

#include <stdlib.h>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "ctl/control_reader.h"
#include "ctl/function.h"
#include "jet/jet.h"

namespace kp::fuzz {

namespace {

// Every image file exists; its size follows from its name.
class AnySizer : public ImageSizer {
 public:
  bool Measure(const Path&, const std::u16string& name, int64_t* size, std::string*) override {
    *size = int64_t(name.size()) * 1000;
    return true;
  }
};

// A folder of this process for the files a target writes.
const std::string& ScratchFolder() {
  static const std::string folder = [] {
#ifdef _WIN32
    const std::string pattern =
        (std::filesystem::temp_directory_path() / ("kp-fuzz-" + std::to_string(::_getpid()))).string();
    std::error_code ec;
    std::filesystem::create_directories(pattern, ec);
    if (ec) std::abort();
#else
    std::string pattern = "/tmp/kp-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
#endif
    return pattern;
  }();
  return folder;
}

bool WriteScratch(const std::string& path, const uint8_t* data, size_t size) {
  std::remove(path.c_str());
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

void ReadEverything(const jet::DatabaseReader& reader) {
  for (const jet::CatalogEntry& e : reader.ListTables(true)) {
    jet::TableDef def;
    if (!reader.ReadTableDefAt(e.tdef_page(), &def).ok()) continue;
    std::vector<uint32_t> pages;
    (void)reader.OwnedPages(def, &pages);
    size_t rows = 0;
    (void)reader.ForEachRow(def, [&rows](uint32_t, const jet::Row&) {
      ++rows;
      return Status::OK();
    });
  }
}

void Check(const std::string& path) {
  jet::CheckOptions options;
  options.strict = true;
  jet::CheckReport report;
  (void)jet::CheckDatabase(path, options, &report);
}

// One row in each local table: every text and memo column gets a short
// text, every number column 1; what the table refuses is refused.
void AppendRows(const std::string& path) {
  std::vector<jet::TableDef> tables;
  {
    std::unique_ptr<jet::DatabaseReader> reader;
    if (!jet::DatabaseReader::Open(path, &reader).ok()) return;
    for (const jet::CatalogEntry& e : reader->ListTables(false)) {
      jet::TableDef def;
      if (reader->ReadTableDefAt(e.tdef_page(), &def).ok()) {
        def.name = e.name;
        tables.push_back(std::move(def));
      }
    }
  }
  auto engine = jet::CreateJetEngine();
  std::unique_ptr<jet::Database> db;
  if (!engine->OpenDatabase(path, &db).ok()) return;
  for (const jet::TableDef& def : tables) {
    std::unique_ptr<jet::Recordset> rs;
    if (!db->OpenRecordset(u"SELECT * FROM [" + def.name + u"]", &rs).ok()) continue;
    if (rs->AddNew().ok()) {
      for (const jet::ColumnDef& c : def.columns) {
        const bool text = c.type == jet::ColumnType::kText || c.type == jet::ColumnType::kMemo;
        (void)rs->SetField(c.name, text ? jet::Value::Str(u"fuzz") : jet::Value::Int(1));
      }
      (void)rs->Update();
    }
    (void)rs->Close();
  }
  (void)db->Close();
}

}  // namespace

int ControlFile(const uint8_t* data, size_t size) {
  AnySizer sizer;
  ControlDocument doc;
  (void)ParseControlFile(data, size, "/doc", &sizer, &doc);
  return 0;
}

int ControlString(const uint8_t* data, size_t size) {
  ControlStream stream;
  stream.data = data;
  stream.size = size;
  std::u16string text;
  while (stream.pos < stream.size && ReadControlString(&stream, &text)) {
  }
  return 0;
}

int JetFile(const uint8_t* data, size_t size) {
  std::unique_ptr<jet::DatabaseReader> reader;
  if (jet::DatabaseReader::OpenBytes(jet::Bytes(data, data + size), &reader).ok()) ReadEverything(*reader);
  reader.reset();
  jet::CheckOptions options;
  jet::CheckReport report;
  (void)jet::CheckDatabaseImage(jet::Bytes(data, data + size), options, &report);

  const std::string path = ScratchFolder() + "/append.mdb";
  if (!WriteScratch(path, data, size)) return 0;
  AppendRows(path);
  if (jet::DatabaseReader::Open(path, &reader).ok()) ReadEverything(*reader);
  Check(path);
  std::remove(path.c_str());
  return 0;
}

int Compact(const uint8_t* data, size_t size) {
  const std::string source = ScratchFolder() + "/source.mdb";
  const std::string destination = ScratchFolder() + "/compacted.mdb";
  if (!WriteScratch(source, data, size)) return 0;
  std::remove(destination.c_str());
  // The copy itself, on whatever the source holds.
  jet::CompactOptions unchecked;
  unchecked.check_source = false;
  if (jet::CompactDatabase(source, destination, unchecked).ok()) Check(destination);
  std::remove(destination.c_str());
  // Checked first, as the tool does: a copy made is never one the check
  // rejects.
  if (jet::CompactDatabase(source, destination).ok()) {
    jet::CheckReport report;
    if (jet::CheckDatabase(destination, jet::CheckOptions(), &report).ok() && !report.ok()) {
      std::fprintf(stderr, "compacted a sound file into one the check rejects:\n%s", report.ToString().c_str());
      std::abort();
    }
  }
  std::remove(destination.c_str());
  std::remove(source.c_str());
  return 0;
}

const std::vector<Target>& Targets() {
  static const std::vector<Target> targets = {
      {"control_file", ControlFile},
      {"control_string", ControlString},
      {"jet_file", JetFile},
      {"compact", Compact},
  };
  return targets;
}

}  // namespace kp::fuzz
