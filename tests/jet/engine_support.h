// Helpers of the engine and compaction tests: working copies of databases,
// rows read back by the project's reader, and the invariant checker.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/builder.h"
#include "jet/engine.h"
#include "jet/reader.h"
#include "jet/tdef_write.h"

#include "export/output_schema.h"
#include "tests/support/jet_support.h"

namespace kp::jet::testing {

// A path in a folder of this test process's own (other test runs may share
// the temporary folder).
inline std::string TempPath(const std::string& name) {
  const std::string dir = ::testing::TempDir() + "/kp-jet-" + std::to_string(::getpid());
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/" + name;
  std::filesystem::remove(path);
  return path;
}

// A writable copy of the template (the build's KP.dbd, or one written from
// the same table definitions when the build has not made it).
inline std::string KpCopy(const std::string& name) {
  const std::string path = TempPath(name);
  const std::string built = std::string(KP_BUILD_DIR) + "/KP.dbd";
  if (std::filesystem::exists(built)) {
    std::filesystem::copy_file(built, path);
  } else {
    std::vector<TableDef> defs;
    EXPECT_TRUE(OutputTableDefs(&defs).ok());
    DatabaseSpec layout;
    for (auto& d : defs) layout.tables.push_back({d, {}});
    EXPECT_TRUE(WriteDatabase(layout, path).ok());
  }
  std::filesystem::permissions(path, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  return path;
}

// A writable copy of the reference file `file`, named `name`.
inline std::string ReferenceCopy(const std::string& file, const std::string& name) {
  const std::string path = TempPath(name);
  std::filesystem::copy_file(ReferencePath(file), path);
  std::filesystem::permissions(path, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  return path;
}

// A database opened through the engine, with a row set on `table`.
struct Opened {
  std::unique_ptr<DBEngine> engine = CreateJetEngine();
  std::unique_ptr<Database> db;
  std::unique_ptr<Recordset> rs;
};
inline Opened Open(const std::string& path, const std::u16string& table) {
  Opened o;
  Status s = o.engine->OpenDatabase(path, &o.db);
  EXPECT_TRUE(s.ok()) << s.ToString();
  if (s.ok()) s = o.db->OpenRecordset(u"SELECT * FROM [" + table + u"]", &o.rs);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return o;
}

// Adds one row, assigning `values` by name; returns the first failure.
using Assignments = std::vector<std::pair<std::u16string, Value>>;
inline Status AddRow(Recordset* rs, const Assignments& values) {
  KP_RETURN_IF_ERROR(rs->AddNew());
  for (const auto& [name, v] : values) KP_RETURN_IF_ERROR(rs->SetField(name, v));
  return rs->Update();
}

// `n` Japanese characters (80 different ones in turn).
inline std::u16string Japanese(size_t n) {
  std::u16string s;
  for (size_t i = 0; i < n; ++i) s.push_back(char16_t(u'あ' + i % 80));
  return s;
}

// A database with the given tables (columns laid out in order).
inline std::string MakeDatabase(const std::string& name, std::vector<TableDef> tables) {
  const std::string path = TempPath(name);
  DatabaseSpec layout;
  for (auto& d : tables) {
    EXPECT_TRUE(AssignColumnLayout(&d).ok());
    layout.tables.push_back({d, {}});
  }
  Status s = WriteDatabase(layout, path);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return path;
}

inline ColumnDef Col(const char16_t* name, ColumnType type, uint16_t chars = 0) {
  ColumnDef c;
  c.name = name;
  c.type = type;
  c.length = uint16_t(2 * chars);
  return c;
}

inline void AllowEmpty(TableDef* def) {
  for (const auto& c : def->columns) {
    if (c.type == ColumnType::kText || c.type == ColumnType::kMemo) {
      Property p;
      p.type = uint8_t(ColumnType::kBoolean);
      p.ddl_flag = 1;
      p.value = {1};
      def->properties.columns[c.name][u"AllowZeroLength"] = p;
    }
  }
}

// The rows of `table` as the project's reader sees them.
inline std::vector<Row> ReadBack(const std::string& path, const std::u16string& table, TableDef* def_out = nullptr) {
  std::unique_ptr<DatabaseReader> reader;
  Status s = DatabaseReader::Open(path, &reader);
  EXPECT_TRUE(s.ok()) << s.ToString();
  if (!s.ok()) return {};
  TableDef def;
  s = reader->ReadTableDef(table, &def);
  EXPECT_TRUE(s.ok()) << s.ToString();
  std::vector<Row> rows;
  s = reader->ReadRows(def, &rows);
  EXPECT_TRUE(s.ok()) << s.ToString();
  if (def_out) *def_out = def;
  return rows;
}

// How a value prints in the outside readers' common notation (tests/support/oracle.h).
inline std::string Printed(const ColumnDef& c, const Value& v, bool mdbtools) {
  if (c.type == ColumnType::kBoolean) return v.is_null() || v.i == 0 ? "0" : "1";
  if (v.is_null()) return "<NULL>";
  if (v.kind == Value::Kind::kText) return v.text.empty() && mdbtools ? "<NULL>" : Utf8(v.text);
  if (v.kind == Value::Kind::kBinary) return Hex(v.binary);
  return std::to_string(v.i);
}

inline std::vector<std::string> PrintedRows(const TableDef& def, const std::vector<Row>& rows, bool mdbtools) {
  std::vector<std::string> out;
  for (const Row& r : rows) {
    std::string line;
    for (size_t i = 0; i < def.columns.size(); ++i) {
      if (i) line += "|";
      line += Printed(def.columns[i], r[i], mdbtools);
    }
    out.push_back(line);
  }
  return out;
}

// The row count and the first differing row only (rows can be long).
inline void ExpectSameLines(const std::vector<std::string>& got, const std::vector<std::string>& want,
                            const std::string& what) {
  EXPECT_EQ(got.size(), want.size()) << what;
  for (size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
    if (got[i] != want[i]) {
      ADD_FAILURE() << what << ", row " << i + 1 << ":\n got  " << got[i].substr(0, 200) << "\n want "
                    << want[i].substr(0, 200);
      return;
    }
  }
}

// How many rows mdbtools (or mdb-reader) reads from `table`; a reader that
// cannot read it fails the test.
inline size_t OutsideRowCount(const std::string& path, const std::u16string& table, bool mdbtools) {
  bool ok = false;
  const size_t n = (mdbtools ? RowsByMdbtools : RowsByMdbReader)(path, Utf8(table), &ok).size();
  EXPECT_TRUE(ok) << (mdbtools ? "mdbtools" : "mdb-reader") << " cannot read " << Utf8(table);
  return n;
}

// Compares `rows` (in the table's column order) with what the project's
// reader (values and TDEF row count), mdbtools and mdb-reader read from the
// file; a reader that cannot read it (or is missing) fails the test.
inline void ExpectRowsThreeWays(const std::string& path, const std::u16string& table, const std::vector<Row>& rows) {
  TableDef def;
  const std::vector<Row> got = ReadBack(path, table, &def);
  EXPECT_EQ(def.row_count, rows.size()) << "TDEF row count";
  EXPECT_EQ(got.size(), rows.size()) << "rows read back";
  for (size_t i = 0, diffs = 0; i < std::min(got.size(), rows.size()) && !diffs; ++i) {
    for (size_t c = 0; c < def.columns.size() && !diffs; ++c) {
      Value want = rows[i][c];
      if (def.columns[c].type == ColumnType::kBoolean && want.is_null()) want = Value::Bool(false);
      if (!(got[i][c] == want)) {
        ++diffs;  // the first difference only
        ADD_FAILURE() << "project reader, row " << i + 1 << " column " << Utf8(def.columns[c].name) << ":\n got  "
                      << Printed(def.columns[c], got[i][c], false).substr(0, 200) << "\n want "
                      << Printed(def.columns[c], want, false).substr(0, 200);
      }
    }
  }
  for (bool mdbtools : {true, false}) {
    bool ok = false;
    const std::vector<std::string> by = mdbtools ? RowsByMdbtools(path, Utf8(table), &ok)
                                                 : RowsByMdbReader(path, Utf8(table), &ok);
    EXPECT_TRUE(ok) << (mdbtools ? "mdbtools" : "mdb-reader") << " cannot read " << Utf8(table);
    if (ok) ExpectSameLines(by, PrintedRows(def, rows, mdbtools), mdbtools ? "mdbtools" : "mdb-reader");
  }
}

}  // namespace kp::jet::testing
