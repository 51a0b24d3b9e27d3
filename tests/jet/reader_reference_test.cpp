// The reader on every Access-made reference file, compared value by value
// with mdbtools and mdb-reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "export/jet/props.h"
#include "export/jet/reader.h"
#include "tests/support/oracle.h"

namespace kp::jet {
namespace {

namespace fs = std::filesystem;

std::string Utf8(const std::u16string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size()) c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    if (c < 0x80) {
      out.push_back(char(c));
    } else if (c < 0x800) {
      out += {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
    } else if (c < 0x10000) {
      out += {char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
    } else {
      out += {char(0xF0 | (c >> 18)), char(0x80 | ((c >> 12) & 0x3F)), char(0x80 | ((c >> 6) & 0x3F)),
              char(0x80 | (c & 0x3F))};
    }
  }
  return out;
}

std::string HexOf(const Bytes& b, bool upper) {
  std::string s;
  char buf[3];
  for (uint8_t x : b) {
    std::snprintf(buf, sizeof buf, upper ? "%02X" : "%02x", x);
    s += buf;
  }
  return s;
}

// An OLE Automation date as calendar fields, to the millisecond.
struct Civil {
  int64_t y, m, d, hh, mm, ss, ms;
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
    s += HexOf(Bytes{b[order[i]]}, upper);
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

// How mdb-export prints a value (nullopt: as Null).
std::optional<std::string> AsMdbtools(const ColumnDef& c, const Value& v) {
  char buf[64];
  if (c.type == ColumnType::kBoolean) return std::string(v.i ? "1" : "0");
  if (v.is_null()) return std::nullopt;
  switch (c.type) {
    case ColumnType::kByte: case ColumnType::kInteger: case ColumnType::kLong:
      return std::to_string(v.i);
    case ColumnType::kCurrency: return CurrencyText(v.i);
    case ColumnType::kSingle: std::snprintf(buf, sizeof buf, "%.8g", float(v.d)); return std::string(buf);
    case ColumnType::kDouble: std::snprintf(buf, sizeof buf, "%.16g", v.d); return std::string(buf);
    case ColumnType::kDateTime: {
      Civil t = FromOleDate(v.d, true);  // mdbtools rounds to the second
      std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", (long long)t.y, (long long)t.m,
                    (long long)t.d, (long long)t.hh, (long long)t.mm, (long long)t.ss);
      return std::string(buf);
    }
    case ColumnType::kText: case ColumnType::kMemo: {
      // mdb-export stops texts at a NUL character, and prints empty ones as Null.
      const std::u16string text = v.text.substr(0, v.text.find(u'\0'));
      if (text.empty()) return std::nullopt;
      return Utf8(text);
    }
    case ColumnType::kNumeric: return NumericText(c, v.binary);
    case ColumnType::kGuid: {  // printed as text, then in hex
      std::string g = "{" + GuidText(v.binary, true) + "}", hex;
      return HexOf(Bytes(g.begin(), g.end()), true);
    }
    case ColumnType::kBinary: {
      // mdb-export stops Binary values at their first zero byte.
      Bytes b = v.binary;
      b.erase(std::find(b.begin(), b.end(), 0), b.end());
      if (b.empty()) return std::nullopt;
      return HexOf(b, true);
    }
    default:
      return HexOf(v.binary, true);
  }
}

// How mdb_dump.mjs prints a value.
std::optional<std::string> AsMdbReader(const ColumnDef& c, const Value& v) {
  char buf[64];
  if (c.type == ColumnType::kBoolean) return std::string(v.i ? "true" : "false");
  if (v.is_null()) return std::nullopt;
  switch (c.type) {
    case ColumnType::kByte: case ColumnType::kInteger: case ColumnType::kLong:
      return std::to_string(v.i);
    case ColumnType::kCurrency: return CurrencyText(v.i);
    case ColumnType::kDateTime: {
      Civil t = FromOleDate(v.d);
      std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", (long long)t.y,
                    (long long)t.m, (long long)t.d, (long long)t.hh, (long long)t.mm, (long long)t.ss,
                    (long long)t.ms);
      return std::string(buf);
    }
    case ColumnType::kText: case ColumnType::kMemo: return Utf8(v.text);
    case ColumnType::kNumeric: return NumericText(c, v.binary);
    case ColumnType::kGuid: return GuidText(v.binary, false);
    case ColumnType::kSingle: case ColumnType::kDouble:
      return std::string();  // compared as numbers
    default:
      return HexOf(v.binary, false);
  }
}

bool SameNumber(const std::string& text, double d) { return std::strtod(text.c_str(), nullptr) == d; }

std::vector<std::string> ReferenceFiles() {
  std::vector<std::string> files;
  if (!fs::exists(KP_REFERENCE_DIR)) return files;
  for (const auto& e : fs::directory_iterator(KP_REFERENCE_DIR)) {
    if (e.path().extension() == ".mdb") files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool SameCell(const ColumnDef& col, const Value& v, const std::optional<std::string>& t, bool mdbtools) {
  if (col.type == ColumnType::kComplex) return true;  // Access's own data: the tools print it their own way
  if (!mdbtools && (col.type == ColumnType::kSingle || col.type == ColumnType::kDouble) && !v.is_null()) {
    return t.has_value() && SameNumber(*t, col.type == ColumnType::kSingle ? double(float(v.d)) : v.d);
  }
  return (mdbtools ? AsMdbtools(col, v) : AsMdbReader(col, v)) == t;
}

// Compares our rows of `def` with an oracle's. Row order may differ: the
// tools list a row that moved to another page (an overflow row) where its
// data is, we list it where its slot is. So each of our rows is matched with
// an equal row of theirs; the first unmatched rows are reported cell by cell.
void CompareRows(const std::string& who, const std::string& where, const TableDef& def, const std::vector<Row>& ours,
                 const testing::OracleTable& theirs, bool mdbtools) {
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
    bool found = false;
    if (!used[r] && same_row(r)) {
      used[r] = found = true;
    }
    for (size_t t = 0; !found && t < theirs.rows.size(); ++t) {
      if (!used[t] && same_row(t)) used[t] = found = true;
    }
    if (found || reported >= 3) continue;
    ++reported;
    ASSERT_EQ(theirs.rows[r].size(), def.columns.size()) << who << " columns, " << where << " row " << r;
    for (size_t c = 0; c < def.columns.size(); ++c) {
      const ColumnDef& col = def.columns[c];
      if (SameCell(col, ours[r][c], theirs.rows[r][c], mdbtools)) continue;
      const auto mine = mdbtools ? AsMdbtools(col, ours[r][c]) : AsMdbReader(col, ours[r][c]);
      ADD_FAILURE() << who << " has no row equal to ours at " << where << " row " << r << "; column "
                    << Utf8(col.name) << ": ours " << mine.value_or("<null>").substr(0, 200) << ", theirs (row " << r
                    << ") " << theirs.rows[r][c].value_or("<null>").substr(0, 200);
    }
  }
}

TEST(ReaderReferenceTest, EveryTableAgreesWithMdbtoolsAndMdbReader) {
  const auto files = ReferenceFiles();
  if (files.empty()) GTEST_SKIP() << "no reference files at " KP_REFERENCE_DIR;
  const bool mdbtools = testing::HaveMdbtools(), mdbreader = testing::HaveMdbReader();
  if (!mdbtools && !mdbreader) GTEST_SKIP() << "neither mdbtools nor mdb-reader is installed";
  for (const auto& path : files) {
    SCOPED_TRACE(path);
    std::unique_ptr<DatabaseReader> reader;
    ASSERT_TRUE(DatabaseReader::Open(path, &reader).ok());
    std::vector<std::string> names;
    for (const auto& e : reader->ListTables(true)) names.push_back(Utf8(e.name));
    if (mdbtools) {
      std::vector<std::string> theirs;
      ASSERT_TRUE(testing::MdbtoolsTableNames(path, true, &theirs).ok());
      std::vector<std::string> a = names, b = theirs;
      std::sort(a.begin(), a.end());
      std::sort(b.begin(), b.end());
      EXPECT_EQ(a, b) << "table names";
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
        testing::OracleTable t;
        ASSERT_TRUE(testing::MdbtoolsRows(path, name, &t).ok()) << where;
        CompareRows("mdbtools", where, def, rows, t, true);
      }
      bool access_data = false;  // a column of Access's own type, which mdb-reader refuses
      for (const auto& c : def.columns) access_data |= c.type == ColumnType::kComplex;
      if (mdbreader && !access_data) {
        testing::OracleTable t;
        ASSERT_TRUE(testing::MdbReaderRows(path, name, &t).ok()) << where;
        ASSERT_EQ(t.columns.size(), def.columns.size()) << where;
        for (size_t c = 0; c < def.columns.size(); ++c) EXPECT_EQ(t.columns[c], Utf8(def.columns[c].name)) << where;
        EXPECT_EQ(t.row_count, long(def.row_count)) << where;
        CompareRows("mdb-reader", where, def, rows, t, false);
      }
    }
  }
}

}  // namespace
}  // namespace kp::jet

namespace kp::jet {
namespace {

TEST(ReaderReferenceTest, OverflowedRowsKeepTheirSlotPointer) {
  if (ReferenceFiles().empty()) GTEST_SKIP() << "no reference files";
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
