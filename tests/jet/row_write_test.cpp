// Row encoding: values refused outside their column, text compression, the
// long-value storage rules (inline / one LVAL row / chain) and one encoder
// over many rows. (Rows against Access's bytes: build_catalog_test, whose
// blank catalog is encoded here and compared with adox_jet4.mdb.)
#include "jet/row_write.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kp::jet {
namespace {

ColumnDef Col(const char16_t* name, ColumnType type, uint16_t number, uint16_t var_index,
              uint16_t fixed_offset, uint16_t length, bool fixed) {
  ColumnDef c;
  c.name = name;
  c.type = type;
  c.number = number;
  c.var_index = var_index;
  c.fixed_offset = fixed_offset;
  c.length = length;
  c.flags = uint8_t(kColumnCanBeNull | (fixed ? kColumnFixedLength : 0));
  return c;
}

// Records LVAL rows and hands out pointers on page 9.
class FakeSink : public LongValueSink {
 public:
  Status AddLongValueRow(const ColumnDef& column, const Bytes& row, uint32_t* pointer) override {
    if (row.size() > kMaxLongValueRowBytes) return Status::InvalidArgument("LVAL row too long");
    rows.push_back(row);
    *pointer = (9u << 8) | uint32_t(rows.size() - 1);
    return Status::OK();
  }
  std::vector<Bytes> rows;
};

TEST(RowWriteTest, RefusesValuesOutsideTheirColumn) {
  TableDef d;
  d.max_cols = 4;
  d.columns = {Col(u"B", ColumnType::kByte, 0, 0, 0, 1, true),
               Col(u"I", ColumnType::kInteger, 1, 0, 1, 2, true),
               Col(u"L", ColumnType::kLong, 2, 0, 3, 4, true),
               Col(u"T", ColumnType::kText, 3, 0, 0, 2 * 3, false)};
  TableDef odd = d;  // a Long column that claims one byte (a damaged definition)
  odd.columns[2].length = 1;
  const Value n = Value::Null();
  struct Case {
    const char* name;
    const TableDef& def;
    Row row;
    const char* says;  // nullptr: encoded
  };
  const Case cases[] = {
      {"lowest and longest", d, {Value::Int(255), Value::Int(-32768), Value::Int(INT32_MIN), Value::Str(u"abc")}, nullptr},
      {"highest and empty", d, {Value::Int(0), Value::Int(32767), Value::Int(INT32_MAX), Value::Str(u"")}, nullptr},
      {"Byte past 255", d, {Value::Int(256), n, n, n}, "column B"},
      {"Byte below 0", d, {Value::Int(-1), n, n, n}, "column B"},
      {"Integer past 32767", d, {n, Value::Int(32768), n, n}, "column I"},
      {"Long past 2^31-1", d, {n, n, Value::Int(int64_t(INT32_MAX) + 1), n}, "column L"},
      {"text longer than its column", d, {n, n, n, Value::Str(u"abcd")}, "column T"},
      {"text in a Byte column", d, {Value::Str(u"1"), n, n, n}, "column B"},
      {"wrong number of values", d, {n, n}, "2 values for 4 columns"},
      {"Long column of one byte", odd, {n, n, Value::Int(7), n}, "column L"},
  };
  Bytes out;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Status s = EncodeRow(c.def, c.row, nullptr, &out);
    if (c.says == nullptr) {
      EXPECT_TRUE(s.ok()) << s.ToString();
    } else {
      EXPECT_TRUE(s.IsInvalidArgument()) << s.ToString();
      EXPECT_NE(s.message().find(c.says), std::string::npos) << s.ToString();
    }
  }
  // Null keeps the fixed bytes reserved; an empty text is present but zero length.
  ASSERT_TRUE(EncodeRow(d, {n, n, n, Value::Str(u"")}, nullptr, &out).ok());
  EXPECT_EQ(out, (Bytes{0x04, 0x00, 0, 0, 0, 0, 0, 0, 0, 0x09, 0x00, 0x09, 0x00, 0x01, 0x00, 0x08}));
  ASSERT_TRUE(EncodeRow(d, {n, n, n, n}, nullptr, &out).ok());
  EXPECT_EQ(out.back(), 0x00);
}

TEST(RowWriteTest, CompressesTextOnlyWhereAllowedAndItPays) {
  const struct {
    const char* name;
    bool compressible;
    std::u16string text;
    Bytes want;  // empty: only the size is checked
    size_t size;
  } cases[] = {
      {"column without compression", false, u"abc", {'a', 0, 'b', 0, 'c', 0}, 6},
      {"compressed", true, u"abc", {0xFF, 0xFE, 'a', 'b', 'c'}, 5},
      {"two characters: compression would not pay", true, u"ab", {'a', 0, 'b', 0}, 4},
      {"a Japanese character keeps UCS-2", true, u"a\u00E9\u65E5", {'a', 0, 0xE9, 0, 0xE5, 0x65}, 6},
      {"past Access's limit", true, std::u16string(1025, u'x'), {}, 2050},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ColumnDef col = Col(u"T", ColumnType::kText, 0, 0, 0, 510, false);
    if (c.compressible) col.ext_flags = kColumnCompressedUnicode;
    Bytes out;
    EncodeText(col, c.text, &out);
    EXPECT_EQ(out.size(), c.size);
    if (!c.want.empty()) EXPECT_EQ(out, c.want);
  }
  // Long texts, in blocks of 16 and 8 characters: one character outside
  // U+0001..U+00FF anywhere keeps the whole text in UCS-2, bytes as they are.
  ColumnDef col = Col(u"T", ColumnType::kText, 0, 0, 0, 510, false);
  col.ext_flags = kColumnCompressedUnicode;
  std::u16string text(41, u'x');
  text[3] = 0x01;
  text[20] = 0xFF;
  Bytes out;
  EncodeText(col, text, &out);
  ASSERT_EQ(out.size(), 43u);
  for (size_t k = 0; k < text.size(); ++k) EXPECT_EQ(out[2 + k], uint8_t(text[k])) << k;
  for (size_t at : {0, 7, 8, 15, 16, 31, 32, 39, 40}) {
    for (char16_t bad : {u'\0', u'\u0100', u'\uFF00', u'\u8000', u'\uFFFF'}) {
      std::u16string t = text;
      t[at] = bad;
      out.clear();
      EncodeText(col, t, &out);
      ASSERT_EQ(out.size(), 82u) << at << " " << int(bad);
      EXPECT_EQ(std::memcmp(out.data(), t.data(), 82), 0) << at << " " << int(bad);
    }
  }
}

TEST(RowWriteTest, StoresLongValuesInlineInOneRowOrInAChain) {
  ColumnDef memo = Col(u"M", ColumnType::kOle, 0, 0, 0, 0, false);
  for (size_t n : {size_t(0), size_t(64), size_t(65), size_t(4072), size_t(4076), size_t(4077),
                   size_t(9000)}) {
    SCOPED_TRACE(n);
    Bytes data(n);
    for (size_t i = 0; i < n; ++i) data[i] = uint8_t(i * 7 + 1);
    FakeSink sink;
    Bytes out;
    ASSERT_TRUE(EncodeLongValue(memo, data, &sink, &out).ok());
    const uint32_t head = GetU32(out.data());
    EXPECT_EQ(head & 0x3FFFFFFF, n);
    if (n <= 64) {
      EXPECT_EQ(head >> 30, 2u);
      EXPECT_EQ(out.size(), 12 + n);
      EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin() + 12));
      EXPECT_TRUE(sink.rows.empty());
      continue;
    }
    ASSERT_EQ(out.size(), 12u);
    if (n <= 4076) {
      EXPECT_EQ(head >> 30, 1u);
      ASSERT_EQ(sink.rows.size(), 1u);
      EXPECT_EQ(sink.rows[0], data);
      continue;
    }
    // Follow the chain from the header's pointer and reassemble the value.
    EXPECT_EQ(head >> 30, 0u);
    Bytes joined;
    uint32_t p = GetU32(out.data() + 4);
    size_t hops = 0;
    while (p != 0 && hops++ < 10) {
      const Bytes& row = sink.rows.at(p & 0xFF);
      EXPECT_LE(row.size(), kMaxLongValueRowBytes);
      joined.insert(joined.end(), row.begin() + 4, row.end());
      p = GetU32(row.data());
    }
    EXPECT_EQ(joined, data);
  }
  Bytes out;
  EXPECT_FALSE(EncodeLongValue(memo, Bytes(65), nullptr, &out).ok());
}

TEST(RowWriteTest, RefusesTooLongRowsBeforeStoringLongValues) {
  TableDef d;
  d.max_cols = 10;
  for (uint16_t i = 0; i < 9; ++i) {
    d.columns.push_back(Col(u"T", ColumnType::kText, i, i, 0, 510, false));
  }
  d.columns.push_back(Col(u"M", ColumnType::kMemo, 9, 9, 0, 0, false));
  Row r(10, Value::Str(std::u16string(255, u'\u3042')));  // 9 x 510 bytes
  r[9] = Value::Str(std::u16string(3000, u'x'));
  FakeSink sink;
  Bytes out;
  Status s = EncodeRow(d, r, &sink, &out);
  EXPECT_TRUE(s.IsInvalidArgument()) << s.ToString();
  EXPECT_TRUE(sink.rows.empty());
}

// One encoder over many rows must give each row the bytes (and LVAL rows) a
// fresh encoding gives it: nothing of an earlier row, refused or not, leaks
// into a later one through the buffers it keeps.
TEST(RowWriteTest, EncoderReusedAcrossRowsMatchesFreshEncoding) {
  TableDef d;
  d.max_cols = 7;
  d.columns = {Col(u"Id", ColumnType::kLong, 0, 0, 0, 4, true),
               Col(u"Name", ColumnType::kText, 1, 0, 0, 20, false),
               Col(u"Flag", ColumnType::kBoolean, 2, 0, 0, 1, true),
               Col(u"Blob", ColumnType::kBinary, 3, 1, 0, 8, false),
               Col(u"Memo", ColumnType::kMemo, 4, 2, 0, 0, false),
               Col(u"Small", ColumnType::kInteger, 5, 0, 4, 2, true),
               Col(u"Note", ColumnType::kText, 6, 4, 0, 20, false)};  // slot 3 unused
  d.columns[1].ext_flags = kColumnCompressedUnicode;
  const Value n = Value::Null();
  const std::vector<Row> rows = {
      {Value::Int(1), Value::Str(u"abcd"), Value::Bool(true), Value::Blob({1, 2, 3}),
       Value::Str(std::u16string(40, u'\u65E5')), Value::Int(-2), Value::Str(u"xy")},
      {n, n, n, n, n, n, n},
      {Value::Int(2), Value::Str(u"\u3042\u3044"), Value::Bool(false), Value::Blob({}), Value::Str(u"short"),
       n, Value::Str(u"")},
      {Value::Int(3), Value::Str(u"way too long a name"), n, n, n, n, n},      // refused: text too long
      {Value::Int(4), n, n, Value::Blob(Bytes(9, 7)), n, n, n},                 // refused: binary too long
      {Value::Int(5), Value::Str(u"ok"), n, n, Value::Str(std::u16string(3000, u'x')), Value::Int(70000), n},
      {Value::Int(6), Value::Str(u"zz"), Value::Bool(true), Value::Blob({9}), Value::Str(std::u16string(3000, u'y')),
       Value::Int(7), Value::Str(u"\u00E9t\u00E9")},
      {Value::Int(7), n, n, n, n, n, Value::Str(u"last")},
  };
  RowEncoder encoder(d);
  Bytes reused;
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    FakeSink fresh_sink, reused_sink;  // pointers count from 0 in both
    Bytes fresh;
    const Status want = EncodeRow(d, rows[i], &fresh_sink, &fresh);
    const Status got = encoder.Encode(rows[i], &reused_sink, &reused);
    EXPECT_EQ(got.ToString(), want.ToString());
    if (!want.ok()) continue;
    EXPECT_EQ(reused, fresh);
    EXPECT_EQ(reused_sink.rows, fresh_sink.rows);
  }
  FakeSink reused_sink;
  // Spot checks that the rows are what the layout says.
  ASSERT_TRUE(encoder.Encode(rows[0], &reused_sink, &reused).ok());
  EXPECT_EQ(GetU16(reused.data()), 7u);                       // column count
  EXPECT_EQ(GetU32(reused.data() + 2), 1u);                   // Id
  EXPECT_EQ(GetU16(reused.data() + 6), 0xFFFEu);              // Small = -2
  EXPECT_EQ(reused[8], 0xFF);                                 // Name compressed: FF FE a b c d
  EXPECT_EQ(reused[9], 0xFE);
  EXPECT_EQ(reused.back(), 0x7F);                             // every column present, Flag true
  EXPECT_EQ(GetU16(reused.data() + reused.size() - 3), 5u);   // five variable slots
  ASSERT_TRUE(encoder.Encode(rows[1], &reused_sink, &reused).ok());
  EXPECT_EQ(reused.back(), 0x00);

  // A variable index used twice is refused on every row, not only the first.
  TableDef twice = d;
  twice.columns[6].var_index = 0;
  RowEncoder bad(twice);
  for (int k = 0; k < 2; ++k) {
    Status s = bad.Encode(rows[1], nullptr, &reused);
    EXPECT_TRUE(s.IsInvalidArgument()) << s.ToString();
    EXPECT_NE(s.message().find("used twice"), std::string::npos) << s.message();
  }
}

}  // namespace
}  // namespace kp::jet
