// The reader on every Access-made reference file, compared value by value
// with mdbtools and mdb-reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "jet/props.h"
#include "jet/reader.h"
#include "tests/support/jet_support.h"

namespace kp::jet {
namespace {

namespace fs = std::filesystem;
using testing::Hex;
using testing::ReferenceFiles;
using testing::Utf8;

// An OLE Automation date as calendar fields, to the millisecond.
struct Civil {
  long long y, m, d, hh, mm, ss, ms;
};
Civil FromOleDate(double v, bool whole_seconds = false) {
  const double whole = std::trunc(v);
  int64_t ms_of_day = std::llround(std::fabs(v - whole) * 86400000.0);
  if (whole_seconds) ms_of_day = int64_t(std::fabs(v - whole) * 86400.0 + 0.5) * 1000;
  int64_t days = int64_t(whole) + (ms_of_day >= 86400000 ? 1 : 0);
  ms_of_day %= 86400000;
  // Days since 1899-12-30 to a civil date (days-from-civil inverse).
  int64_t z = days - 25569 + 719468;  // 1970-01-01 is OLE day 25569
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  Civil c;
  c.d = doy - (153 * mp + 2) / 5 + 1;
  c.m = mp < 10 ? mp + 3 : mp - 9;
  c.y = yoe + era * 400 + (c.m <= 2);
  c.hh = ms_of_day / 3600000;
  c.mm = ms_of_day / 60000 % 60;
  c.ss = ms_of_day / 1000 % 60;
  c.ms = ms_of_day % 1000;
  return c;
}

std::string NumericText(const ColumnDef& c, const Bytes& b) {
  if (b.size() < 17) return "?";
  unsigned __int128 v = 0;
  for (int group = 0; group < 4; ++group) v = (v << 32) | GetU32(b.data() + 1 + 4 * group);
  std::string digits;
  do {
    digits.insert(digits.begin(), char('0' + int(v % 10)));
    v /= 10;
  } while (v != 0);
  const size_t scale = c.misc[1];
  if (scale > 0) {
    while (digits.size() <= scale) digits.insert(digits.begin(), '0');
    digits.insert(digits.end() - scale, '.');
  }
  return ((b[0] & 0x80) ? "-" : "") + digits;
}

// 8f096ca0-fc16-4288-801e-119f26c0b6fc: three little-endian groups, then bytes.
std::string GuidText(const Bytes& b, bool upper) {
  if (b.size() != 16) return "?";
  const Bytes order = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string s;
  for (size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || (i == 10 && !upper)) s += '-';  // mdbtools: no fourth dash
    s += Hex(Bytes{b[order[i]]}, upper);
  }
  return s;
}

std::string CurrencyText(int64_t v) {
  const bool neg = v < 0;
  const uint64_t a = neg ? uint64_t(0) - uint64_t(v) : uint64_t(v);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s%llu.%04llu", neg ? "-" : "", (unsigned long long)(a / 10000),
                (unsigned long long)(a % 10000));
  return buf;
}

// How mdb-export (`mdbtools`) or mdb_dump.mjs prints a value (nullopt: as Null).
std::optional<std::string> AsPrinted(const ColumnDef& c, const Value& v, bool mdbtools) {
  char buf[64];
  if (c.type == ColumnType::kBoolean) return std::string(mdbtools ? (v.i ? "1" : "0") : (v.i ? "true" : "false"));
  if (v.is_null()) return std::nullopt;
  switch (c.type) {
    case ColumnType::kByte: case ColumnType::kInteger: case ColumnType::kLong:
      return std::to_string(v.i);
    case ColumnType::kCurrency: return CurrencyText(v.i);
    case ColumnType::kSingle: case ColumnType::kDouble:
      if (!mdbtools) return std::string();  // mdb-reader's are compared as numbers
      std::snprintf(buf, sizeof buf, c.type == ColumnType::kSingle ? "%.8g" : "%.16g",
                    c.type == ColumnType::kSingle ? double(float(v.d)) : v.d);
      return std::string(buf);
    case ColumnType::kDateTime: {
      const Civil t = FromOleDate(v.d, mdbtools);  // mdbtools rounds to the second
      if (mdbtools) {
        std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", t.y, t.m, t.d, t.hh, t.mm, t.ss);
      } else {
        std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", t.y, t.m, t.d, t.hh, t.mm,
                      t.ss, t.ms);
      }
      return std::string(buf);
    }
    case ColumnType::kText: case ColumnType::kMemo: {
      if (!mdbtools) return Utf8(v.text);
      // mdb-export stops texts at a NUL character, and prints empty ones as Null.
      const std::u16string text = v.text.substr(0, v.text.find(u'\0'));
      if (text.empty()) return std::nullopt;
      return Utf8(text);
    }
    case ColumnType::kNumeric: return NumericText(c, v.binary);
    case ColumnType::kGuid: {  // mdbtools: printed as text, then in hex
      if (!mdbtools) return GuidText(v.binary, false);
      const std::string g = "{" + GuidText(v.binary, true) + "}";
      return Hex(Bytes(g.begin(), g.end()), true);
    }
    case ColumnType::kBinary: {
      if (!mdbtools) return Hex(v.binary, false);
      // mdb-export stops Binary values at their first zero byte.
      Bytes b = v.binary;
      b.erase(std::find(b.begin(), b.end(), 0), b.end());
      if (b.empty()) return std::nullopt;
      return Hex(b, true);
    }
    default:
      return Hex(v.binary, mdbtools);
  }
}

bool SameCell(const ColumnDef& col, const Value& v, const std::optional<std::string>& t, bool mdbtools) {
  if (col.type == ColumnType::kComplex) return true;  // Access's own data: the tools print it their own way
  if (!mdbtools && (col.type == ColumnType::kSingle || col.type == ColumnType::kDouble) && !v.is_null()) {
    return t.has_value() && std::strtod(t->c_str(), nullptr) == (col.type == ColumnType::kSingle ? double(float(v.d)) : v.d);
  }
  return AsPrinted(col, v, mdbtools) == t;
}

// Compares our rows of `def` with an oracle's. Row order may differ: the
// tools list a row that moved to another page (an overflow row) where its
// data is, we list it where its slot is. So each of our rows is matched with
// an equal row of theirs; the first unmatched rows are reported cell by cell.
void CompareRows(const std::string& who, const std::string& where, const TableDef& def, const std::vector<Row>& ours,
                 const kp::testing::OracleTable& theirs, bool mdbtools) {
  ASSERT_EQ(ours.size(), theirs.rows.size()) << who << " row count, " << where;
  std::vector<bool> used(theirs.rows.size(), false);
  int reported = 0;
  for (size_t r = 0; r < ours.size(); ++r) {
    auto same_row = [&](size_t t) {
      if (theirs.rows[t].size() != def.columns.size()) return false;
      for (size_t c = 0; c < def.columns.size(); ++c) {
        if (!SameCell(def.columns[c], ours[r][c], theirs.rows[t][c], mdbtools)) return false;
      }
      return true;
    };
    bool found = !used[r] && same_row(r);
    if (found) used[r] = true;
    for (size_t t = 0; !found && t < theirs.rows.size(); ++t) {
      if (!used[t] && same_row(t)) used[t] = found = true;
    }
    if (found || reported >= 3) continue;
    ++reported;
    ASSERT_EQ(theirs.rows[r].size(), def.columns.size()) << who << " columns, " << where << " row " << r;
    for (size_t c = 0; c < def.columns.size(); ++c) {
      const ColumnDef& col = def.columns[c];
      if (SameCell(col, ours[r][c], theirs.rows[r][c], mdbtools)) continue;
      const auto mine = AsPrinted(col, ours[r][c], mdbtools);
      ADD_FAILURE() << who << " has no row equal to ours at " << where << " row " << r << "; column "
                    << Utf8(col.name) << ": ours " << mine.value_or("<null>").substr(0, 200) << ", theirs (row " << r
                    << ") " << theirs.rows[r][c].value_or("<null>").substr(0, 200);
    }
  }
}

TEST(ReaderReferenceTest, EveryTableAgreesWithMdbtoolsAndMdbReader) {
  const auto files = ReferenceFiles();
  if (files.empty()) GTEST_SKIP() << "no reference files at " KP_REFERENCE_DIR;
  const bool mdbtools = kp::testing::HaveMdbtools(), mdbreader = kp::testing::HaveMdbReader();
  if (!mdbtools && !mdbreader) GTEST_SKIP() << "neither mdbtools nor mdb-reader is installed";
  for (const auto& path : files) {
    SCOPED_TRACE(path);
    std::unique_ptr<DatabaseReader> reader;
    ASSERT_TRUE(DatabaseReader::Open(path, &reader).ok());
    std::vector<std::string> names;
    for (const auto& e : reader->ListTables(true)) names.push_back(Utf8(e.name));
    if (mdbtools) {
      std::vector<std::string> theirs;
      ASSERT_TRUE(kp::testing::MdbtoolsTableNames(path, true, &theirs).ok());
      std::sort(names.begin(), names.end());
      std::sort(theirs.begin(), theirs.end());
      EXPECT_EQ(names, theirs) << "table names";
    }
    for (const auto& e : reader->ListTables(true)) {
      const std::string name = Utf8(e.name);
      TableDef def;
      ASSERT_TRUE(reader->ReadTableDef(e.name, &def).ok()) << name;
      std::vector<Row> rows;
      Status s = reader->ReadRows(def, &rows);
      ASSERT_TRUE(s.ok()) << name << ": " << s.ToString();
      const std::string where = fs::path(path).filename().string() + " " + name;
      if (mdbtools) {
        kp::testing::OracleTable t;
        ASSERT_TRUE(kp::testing::MdbtoolsRows(path, name, &t).ok()) << where;
        CompareRows("mdbtools", where, def, rows, t, true);
      }
      bool access_data = false;  // a column of Access's own type, which mdb-reader refuses
      for (const auto& c : def.columns) access_data |= c.type == ColumnType::kComplex;
      if (mdbreader && !access_data) {
        kp::testing::OracleTable t;
        ASSERT_TRUE(kp::testing::MdbReaderRows(path, name, &t).ok()) << where;
        ASSERT_EQ(t.columns.size(), def.columns.size()) << where;
        for (size_t c = 0; c < def.columns.size(); ++c) EXPECT_EQ(t.columns[c], Utf8(def.columns[c].name)) << where;
        EXPECT_EQ(t.row_count, long(def.row_count)) << where;
        CompareRows("mdb-reader", where, def, rows, t, false);
      }
    }
  }
}

TEST(ReaderReferenceTest, OverflowedRowsKeepTheirSlotPointer) {
  KP_SKIP_WITHOUT_REFERENCE();
  std::unique_ptr<DatabaseReader> reader;
  ASSERT_TRUE(DatabaseReader::Open(std::string(KP_REFERENCE_DIR) + "/overflowTestV2000.mdb", &reader).ok());
  TableDef def;
  ASSERT_TRUE(reader->ReadTableDef(u"table1", &def).ok());  // names match ignoring case
  std::vector<uint32_t> pointers;
  ASSERT_TRUE(reader->ForEachRow(def, [&](uint32_t pointer, const Row&) {
    pointers.push_back(pointer);
    return Status::OK();
  }).ok());
  // Page 27 holds the seven slots; rows 2 and 4 overflowed to pages 28 and 31.
  const std::vector<uint32_t> want = {0x1B00, 0x1B01, 0x1B02, 0x1B03, 0x1B04, 0x1B05, 0x1B06};
  EXPECT_EQ(pointers, want);
  // A failed callback stops the walk and comes back as it is.
  int calls = 0;
  Status s = reader->ForEachRow(def, [&](uint32_t, const Row&) {
    ++calls;
    return Status::InvalidArgument("stop");
  });
  EXPECT_TRUE(s.IsInvalidArgument());
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace kp::jet
