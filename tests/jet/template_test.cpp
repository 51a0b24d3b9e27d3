// The template KP.dbd written by the build: the six tables with their columns
// and properties as both outside readers see them, and a catalog that is the
// engine's blank database plus exactly the rows the new tables add.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "jet/builder.h"
#include "jet/catalog_write.h"
#include "jet/checker.h"
#include "jet/props.h"
#include "jet/reader.h"
#include "export/output_schema.h"
#include "tests/support/jet_support.h"

namespace kp::jet {
namespace {

using testing::PageOf;
using testing::RowsOf;
using testing::Utf8;

std::string TemplatePath() { return std::string(KP_BUILD_DIR) + "/KP.dbd"; }

class TemplateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = testing::ReadWholeFile(TemplatePath());
    ASSERT_FALSE(file_.empty()) << TemplatePath() << " is missing: the build writes it";
    ASSERT_TRUE(OutputTableDefs(&defs_, /*primary_keys=*/true).ok());
  }
  Bytes file_;
  std::vector<TableDef> defs_;
};

TEST_F(TemplateTest, IsWhatTheBuilderWritesFromTheDefinitions) {
  DatabaseSpec layout;
  for (const auto& d : defs_) layout.tables.push_back({d, {}});
  Bytes built;
  ASSERT_TRUE(BuildDatabase(layout, &built).ok());
  EXPECT_TRUE(built == file_) << "KP.dbd is stale";
}

TEST_F(TemplateTest, BothReadersSeeTheSixTablesAndTheirColumns) {
  KP_SKIP_WITHOUT_ORACLES();
  std::vector<std::string> expected;
  for (const auto& d : defs_) {
    for (const auto& c : d.columns) expected.push_back(Utf8(d.name) + "|" + Utf8(c.name));
  }
  // mdb-reader: the tables and their columns, in order.
  std::vector<std::string> names, seen;
  ASSERT_TRUE(kp::testing::MdbReaderTableNames(TemplatePath(), false, &names).ok());
  for (const std::string& n : names) {
    kp::testing::OracleTable t;
    ASSERT_TRUE(kp::testing::MdbReaderRows(TemplatePath(), n, &t).ok()) << n;
    EXPECT_TRUE(t.rows.empty()) << n;
    for (const std::string& c : t.columns) seen.push_back(n + "|" + c);
  }
  EXPECT_EQ(seen, expected);
  // mdbtools: the same tables in the same order, each with its header row.
  std::vector<std::string> tables;
  ASSERT_TRUE(kp::testing::MdbtoolsTableNames(TemplatePath(), false, &tables).ok());
  ASSERT_EQ(tables.size(), defs_.size());
  for (size_t t = 0; t < defs_.size(); ++t) {
    EXPECT_EQ(tables[t], Utf8(defs_[t].name));
    std::string header, out;
    for (const auto& c : defs_[t].columns) header += (header.empty() ? "" : ",") + Utf8(c.name);
    ASSERT_TRUE(kp::testing::RunCapture("mdb-export -Q " + kp::testing::ShellQuote(TemplatePath()) + " " +
                                            kp::testing::ShellQuote(tables[t]),
                                        &out)
                    .ok());
    EXPECT_EQ(out, header + "\n") << "the template's tables are empty";
  }
}

TEST_F(TemplateTest, ProjectReaderAndStrictCheckerAgree) {
  CheckOptions strict;
  strict.strict = true;
  CheckReport report;
  ASSERT_TRUE(CheckDatabase(TemplatePath(), strict, &report).ok());
  EXPECT_TRUE(report.ok()) << report.ToString();
  std::unique_ptr<DatabaseReader> reader;
  ASSERT_TRUE(DatabaseReader::Open(TemplatePath(), &reader).ok());
  const auto tables = reader->ListTables();
  ASSERT_EQ(tables.size(), defs_.size());
  for (size_t t = 0; t < defs_.size(); ++t) {
    EXPECT_EQ(tables[t].name, defs_[t].name);
    EXPECT_EQ(tables[t].owner, ReferenceSecurityIds().admin);
    TableDef got;
    ASSERT_TRUE(reader->ReadTableDef(defs_[t].name, &got).ok());
    ASSERT_EQ(got.columns.size(), defs_[t].columns.size());
    for (size_t c = 0; c < got.columns.size(); ++c) {
      const ColumnDef& g = got.columns[c];
      EXPECT_EQ(g.name, defs_[t].columns[c].name);
      EXPECT_EQ(g.type, defs_[t].columns[c].type);
      EXPECT_EQ(g.length, defs_[t].columns[c].length);
      const bool text = g.type == ColumnType::kText || g.type == ColumnType::kMemo;
      EXPECT_EQ(ColumnAllowZeroLength(got.properties, g.name), text ? std::optional<bool>(true) : std::nullopt)
          << Utf8(g.name);
      EXPECT_EQ(ColumnRequired(got.properties, g.name), text ? std::optional<bool>(false) : std::nullopt)
          << Utf8(g.name);
      EXPECT_EQ(ColumnDefaultValue(got.properties, g.name),
                g.name == u"Angle" ? std::optional<std::u16string>(u"0") : std::nullopt)
          << Utf8(g.name);
    }
    // Its one index: the primary key, over No or (PageNo, ID).
    ASSERT_EQ(got.logical_indexes.size(), 1u);
    EXPECT_EQ(got.logical_indexes[0].name, u"PrimaryKey");
    ASSERT_EQ(got.physical_indexes.size(), 1u);
    EXPECT_EQ(got.physical_indexes[0].columns.size(), t == 0 ? 1u : 2u);
    std::vector<Row> rows;
    ASSERT_TRUE(reader->ReadRows(got, &rows).ok());
    EXPECT_TRUE(rows.empty());
  }
}

TEST_F(TemplateTest, ColumnPropertiesAreAsDefined) {
  KP_SKIP_WITHOUT_ORACLES();
  bool ok = false;
  // Pages: Name and FileName allow zero-length strings and are not required;
  // Angle defaults to 0.
  const std::string props = testing::RunCommand(
      "mdb-prop '" + TemplatePath() + "' '" + Utf8(defs_[0].name) + "'", &ok);
  ASSERT_TRUE(ok);
  for (const char* column : {"Name", "FileName"}) {
    const size_t at = props.find(std::string("name: ") + column + "\n");
    ASSERT_NE(at, std::string::npos) << column << "\n" << props;
    const std::string block = props.substr(at, props.find("\n\n", at) - at);
    EXPECT_NE(block.find("AllowZeroLength: yes"), std::string::npos) << block;
    EXPECT_NE(block.find("Required: no"), std::string::npos) << block;
  }
  const size_t angle = props.find("name: Angle\n");
  ASSERT_NE(angle, std::string::npos) << props;
  EXPECT_NE(props.find("DefaultValue: 0", angle), std::string::npos) << props;
}

TEST_F(TemplateTest, CatalogIsTheEnginesPlusTheNewTables) {
  KP_SKIP_WITHOUT_REFERENCE();
  const Bytes reference = testing::Load("adox_jet4.mdb");
  // The header page is the reference file's.
  EXPECT_TRUE(PageOf(file_, 0) == PageOf(reference, 0));
  // The engine's rows come first, unchanged; then one row per table.
  const auto objects = RowsOf(PageOf(file_, kCatalogDataPage));
  const auto ref_objects = RowsOf(PageOf(reference, kCatalogDataPage));
  ASSERT_EQ(objects.size(), ref_objects.size() + defs_.size());
  for (size_t i = 0; i < ref_objects.size(); ++i) EXPECT_EQ(objects[i], ref_objects[i]) << i;
  const auto aces = RowsOf(PageOf(file_, kAcesDataPage));
  const auto ref_aces = RowsOf(PageOf(reference, kAcesDataPage));
  ASSERT_EQ(aces.size(), ref_aces.size() + 2 * defs_.size());
  for (size_t i = 0; i < ref_aces.size(); ++i) EXPECT_EQ(aces[i], ref_aces[i]) << i;
  // Each table row names a TDEF page of a user table, owned by MSysDb's owner.
  std::set<uint32_t> ids;
  for (size_t i = ref_objects.size(); i < objects.size(); ++i) {
    const uint32_t id = GetU32(&objects[i][2]);
    ids.insert(id);
    const Bytes tdef = PageOf(file_, id);
    ASSERT_FALSE(tdef.empty());
    EXPECT_EQ(tdef[0], 0x02);
    EXPECT_EQ(tdef[40], 0x4E);
  }
  EXPECT_EQ(ids.size(), defs_.size());
  // The usage-map page of the catalog differs only in the rows of MSysObjects'
  // LvProp column (the six property blobs are longer than 64 bytes).
  const auto maps = RowsOf(PageOf(file_, kCatalogMapPage));
  const auto ref_maps = RowsOf(PageOf(reference, kCatalogMapPage));
  ASSERT_EQ(maps.size(), ref_maps.size());
  for (size_t r = 0; r < maps.size(); ++r) {
    if (r == (kObjectsLvPropOwnedMap & 0xFF) || r == (kObjectsLvPropFreeMap & 0xFF)) continue;
    EXPECT_EQ(maps[r], ref_maps[r]) << "map row " << r;
  }
}

}  // namespace
}  // namespace kp::jet
