// The database engine the export writes through: a small DAO-like interface
// over the Jet 4 layer (open a database, open a table's row set by its query
// text, add rows by column name, close, compact).
//
// Usage:
//   auto engine = CreateJetEngine();       // created once, kept
//   std::unique_ptr<Database> db;
//   Status s = engine->OpenDatabase(path, &db);
//   std::unique_ptr<Recordset> rs;
//   s = db->OpenRecordset(u"SELECT * FROM [一覧_ページ]", &rs);
//   s = rs->AddNew();  s = rs->SetField(u"No", Value::Int(1));  s = rs->Update();
//   s = rs->Close();   s = db->Close();
//   s = engine->CompactDatabase(path, work_path);
//
// Every row whose Update() returned OK is in the file once the database is
// closed, and also when the Database object is destroyed without Close() (the
// export's failure path). After a failed AddNew/SetField/Update the row set is
// good for nothing but Close(). Not thread-safe; one thread uses it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "jet/schema.h"

namespace kp::jet {

class Recordset {
 public:
  virtual ~Recordset() = default;
  // Starts a new row: every column takes its DefaultValue, or Null.
  virtual Status AddNew() = 0;
  // Assigns a column by its exact name. Numeric values go into any integer
  // column that can hold them, Booleans into Boolean columns, texts into Text
  // (within the field size) and Memo columns.
  virtual Status SetField(const std::u16string& column_name, const Value& value) = 0;
  // SetField with Value::Int(n) and Value::Str(text), without making the
  // Value (the export's many rows take these).
  virtual Status SetInteger(std::u16string_view column_name, int64_t n) {
    return SetField(std::u16string(column_name), Value::Int(n));
  }
  virtual Status SetText(std::u16string_view column_name, std::u16string_view text) {
    return SetField(std::u16string(column_name), Value::Str(std::u16string(text)));
  }
  // A column's position, found once by its exact name and then kept for the
  // setters by position below, which do what the setters by name do. The
  // base class remembers the names and hands them to the setters by name.
  virtual Status FindColumn(std::u16string_view column_name, int* position);
  virtual Status SetFieldAt(int position, const Value& value);
  virtual Status SetIntegerAt(int position, int64_t n);
  virtual Status SetTextAt(int position, std::u16string_view text);
  // Stores the new row (a plain update).
  virtual Status Update() = 0;
  virtual Status Close() = 0;

 private:
  std::vector<std::u16string> found_names_;  // of the base class's FindColumn
};

class Database {
 public:
  // Destroying an unclosed database writes what was updated (as Close() does)
  // and drops any error; call Close() to see errors.
  virtual ~Database() = default;
  // `query` must be exactly "SELECT * FROM [table name]".
  virtual Status OpenRecordset(const std::u16string& query, std::unique_ptr<Recordset>* result) = 0;
  virtual Status Close() = 0;
};

class DBEngine {
 public:
  virtual ~DBEngine() = default;
  // Opens an existing Jet 4 file for appending (shared, writable).
  virtual Status OpenDatabase(const std::string& path, std::unique_ptr<Database>* result) = 0;
  // Writes a compacted copy of the closed database `source` to `destination`,
  // which must not exist. On failure nothing is left at `destination` and the
  // source is untouched. The source is taken as sound (a database this
  // engine wrote into a checked template); `jet::CompactDatabase` checks
  // any other file first.
  virtual Status CompactDatabase(const std::string& source, const std::string& destination) = 0;
};

// The engine of this project's own Jet 4 layer.
std::unique_ptr<DBEngine> CreateJetEngine();

}  // namespace kp::jet
