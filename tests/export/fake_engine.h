// An in-memory DBEngine for the export tests: records every table opened,
// every row committed (with its assigned columns in order) and can fail a
// chosen call. Compaction copies the file byte for byte (with a marker
// appended, so a test can tell the compacted output from the saved one).
#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/path.h"
#include "jet/engine.h"

namespace kp::testing {

struct FakeRow {
  std::vector<std::pair<std::u16string, jet::Value>> columns;  // in assignment order

  const jet::Value* Find(const std::u16string& name) const {
    for (const auto& [n, v] : columns) if (n == name) return &v;
    return nullptr;
  }
};

struct FakeTable {
  std::u16string query;
  std::vector<FakeRow> rows;  // committed rows
  bool closed = false;
};

// What the engine saw; shared by the engine and the objects it hands out.
struct FakeLog {
  std::vector<std::string> opened_paths;
  std::vector<FakeTable> tables;  // in the order they were opened
  bool database_closed = false;
  bool database_released = false;
  int compactions = 0;

  // Failure injection: fail the n-th (0-based, counted over the whole run)
  // call of the kind, or every call when the value is -1.
  std::optional<int> fail_open_database;
  std::optional<int> fail_open_recordset;  // by table position
  std::optional<int> fail_update;          // by committed-row count over all tables
  std::optional<std::u16string> fail_column;  // SetField of this column fails
  bool fail_compact = false;
  bool fail_close = false;
  int updates = 0;
  std::function<void()> on_update;  // called before each committed row
  std::function<Status(const std::string& destination)> compact;  // in place of the copy

  const FakeTable* Table(const std::u16string& query) const {
    for (const auto& t : tables) if (t.query == query) return &t;
    return nullptr;
  }
};

class FakeRecordset : public jet::Recordset {
 public:
  FakeRecordset(std::shared_ptr<FakeLog> log, size_t table) : log_(std::move(log)), table_(table) {}
  Status AddNew() override {
    if (pending_) return Status::InvalidArgument("AddNew twice");
    pending_.emplace();
    return Status::OK();
  }
  Status SetField(const std::u16string& name, const jet::Value& value) override {
    if (!pending_) return Status::InvalidArgument("SetField without AddNew");
    if (log_->fail_column && *log_->fail_column == name) {
      return Status::NotFound("injected: no such column");
    }
    pending_->columns.emplace_back(name, value);
    return Status::OK();
  }
  Status Update() override {
    if (!pending_) return Status::InvalidArgument("Update without AddNew");
    if (log_->fail_update && *log_->fail_update == log_->updates) {
      return Status::IOError("injected: update failed");
    }
    if (log_->on_update) log_->on_update();
    ++log_->updates;
    log_->tables[table_].rows.push_back(std::move(*pending_));
    pending_.reset();
    return Status::OK();
  }
  Status Close() override {
    log_->tables[table_].closed = true;
    return Status::OK();
  }

 private:
  std::shared_ptr<FakeLog> log_;
  size_t table_;
  std::optional<FakeRow> pending_;
};

class FakeDatabase : public jet::Database {
 public:
  explicit FakeDatabase(std::shared_ptr<FakeLog> log) : log_(std::move(log)) {}
  ~FakeDatabase() override { log_->database_released = true; }
  Status OpenRecordset(const std::u16string& query, std::unique_ptr<jet::Recordset>* rs) override {
    if (log_->fail_open_recordset && *log_->fail_open_recordset == int(log_->tables.size())) {
      return Status::NotFound("injected: no such table");
    }
    log_->tables.push_back(FakeTable{query, {}, false});
    *rs = std::make_unique<FakeRecordset>(log_, log_->tables.size() - 1);
    return Status::OK();
  }
  Status Close() override {
    if (log_->fail_close) return Status::IOError("injected: close failed");
    log_->database_closed = true;
    return Status::OK();
  }

 private:
  std::shared_ptr<FakeLog> log_;
};

class FakeEngine : public jet::DBEngine {
 public:
  explicit FakeEngine(std::shared_ptr<FakeLog> log) : log_(std::move(log)) {}
  Status OpenDatabase(const std::string& path, std::unique_ptr<jet::Database>* db) override {
    int n = int(log_->opened_paths.size());
    log_->opened_paths.push_back(path);
    if (log_->fail_open_database && (*log_->fail_open_database == -1 || *log_->fail_open_database == n)) {
      return Status::Corruption("injected: not a database");
    }
    if (!std::filesystem::exists(PathFromUtf8(path))) return Status::NotFound("no file " + path);
    *db = std::make_unique<FakeDatabase>(log_);
    return Status::OK();
  }
  Status CompactDatabase(const std::string& source, const std::string& destination) override {
    ++log_->compactions;
    if (log_->compact) return log_->compact(destination);
    if (log_->fail_compact) return Status::IOError("injected: compaction failed");
    if (std::filesystem::exists(PathFromUtf8(destination))) return Status::IOError("destination exists");
    std::ifstream in(PathFromUtf8(source), std::ios::binary);
    if (!in) return Status::IOError("cannot read " + source);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream out(PathFromUtf8(destination), std::ios::binary);
    out << bytes << kCompactedMarker;
    return out ? Status::OK() : Status::IOError("cannot write " + destination);
  }

  static constexpr const char* kCompactedMarker = "[compacted]";

 private:
  std::shared_ptr<FakeLog> log_;
};

}  // namespace kp::testing
