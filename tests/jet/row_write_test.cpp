// Row encoding against rows Access wrote (bytes from empty.mdb's catalog) and
// the long-value storage rules (inline / one LVAL row / chain).
#include "export/jet/row_write.h"

#include <gtest/gtest.h>

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

TableDef AcesDef() {
  TableDef d;
  d.max_cols = 4;
  d.columns = {Col(u"ObjectId", ColumnType::kLong, 0, 0, 0, 4, true),
               Col(u"SID", ColumnType::kBinary, 1, 0, 0, 510, false),
               Col(u"ACM", ColumnType::kLong, 2, 1, 4, 4, true),
               Col(u"FInheritable", ColumnType::kBoolean, 3, 1, 0, 1, true)};
  return d;
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

TEST(RowWriteTest, ReproducesAccessRows) {
  // MSysACEs row of empty.mdb: ObjectId 0x80000000, SID A7 33, ACM 0xFFFFF, inheritable.
  Bytes out;
  Row aces = {Value::Int(int32_t(0x80000000u)), Value::Blob({0xA7, 0x33}), Value::Int(0xFFFFF),
              Value::Bool(true)};
  ASSERT_TRUE(EncodeRow(AcesDef(), aces, nullptr, &out).ok());
  EXPECT_EQ(out, (Bytes{0x04, 0x00, 0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x0F, 0x00, 0xA7, 0x33, 0x0C,
                        0x00, 0x0A, 0x00, 0x01, 0x00, 0x0F}));
  aces[3] = Value::Bool(false);
  ASSERT_TRUE(EncodeRow(AcesDef(), aces, nullptr, &out).ok());
  EXPECT_EQ(out.back(), 0x07);

  // MSysObjects row 0 ("Tables"): 17 columns, 11 variable, all long values null.
  TableDef obj;
  obj.max_cols = 17;
  obj.columns = {Col(u"Id", ColumnType::kLong, 0, 0, 0, 4, true),
                 Col(u"ParentId", ColumnType::kLong, 1, 0, 4, 4, true),
                 Col(u"Name", ColumnType::kText, 2, 0, 0, 510, false),
                 Col(u"Type", ColumnType::kInteger, 3, 1, 8, 2, true),
                 Col(u"DateCreate", ColumnType::kDateTime, 4, 1, 10, 8, true),
                 Col(u"DateUpdate", ColumnType::kDateTime, 5, 1, 18, 8, true),
                 Col(u"Owner", ColumnType::kBinary, 6, 1, 0, 510, false),
                 Col(u"Flags", ColumnType::kLong, 7, 2, 26, 4, true),
                 Col(u"Database", ColumnType::kMemo, 8, 2, 0, 0, false),
                 Col(u"Connect", ColumnType::kMemo, 9, 3, 0, 0, false),
                 Col(u"ForeignName", ColumnType::kText, 10, 4, 0, 510, false),
                 Col(u"RmtInfoShort", ColumnType::kBinary, 11, 5, 0, 510, false),
                 Col(u"RmtInfoLong", ColumnType::kOle, 12, 6, 0, 0, false),
                 Col(u"Lv", ColumnType::kOle, 13, 7, 0, 0, false),
                 Col(u"LvProp", ColumnType::kOle, 14, 8, 0, 0, false),
                 Col(u"LvModule", ColumnType::kOle, 15, 9, 0, 0, false),
                 Col(u"LvExtra", ColumnType::kOle, 16, 10, 0, 0, false)};
  const uint8_t date[8] = {0x3E, 0xD1, 0xC4, 0xC5, 0x91, 0x84, 0xE2, 0x40};
  Row tables(17);
  tables[0] = Value::Int(0x0F000001);
  tables[1] = Value::Int(0x0F000000);
  tables[2] = Value::Str(u"Tables");
  tables[3] = Value::Int(3);
  tables[4] = Value::DateTime(GetF64(date));
  tables[5] = tables[4];
  tables[6] = Value::Blob({0xA7, 0x31});
  tables[7] = Value::Int(int32_t(0x80000000u));
  ASSERT_TRUE(EncodeRow(obj, tables, nullptr, &out).ok());
  Bytes expected = {0x11, 0x00, 0x01, 0x00, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x0F, 0x03, 0x00};
  AppendBytes(&expected, date, 8);
  AppendBytes(&expected, date, 8);
  for (uint8_t b : {0x00, 0x00, 0x00, 0x80, 0x54, 0x00, 0x61, 0x00, 0x62, 0x00, 0x6C, 0x00, 0x65, 0x00,
                    0x73, 0x00, 0xA7, 0x31, 0x2E, 0x00}) {
    expected.push_back(b);
  }
  for (int i = 0; i < 9; ++i) AppendU16(&expected, 0x2E);
  for (uint8_t b : {0x2C, 0x00, 0x20, 0x00, 0x0B, 0x00, 0xFF, 0x00, 0x00}) expected.push_back(b);
  EXPECT_EQ(out, expected);
  EXPECT_EQ(out.size(), 75u);
}

TEST(RowWriteTest, RefusesValuesOutsideTheirColumn) {
  TableDef d;
  d.max_cols = 4;
  d.columns = {Col(u"B", ColumnType::kByte, 0, 0, 0, 1, true),
               Col(u"I", ColumnType::kInteger, 1, 0, 1, 2, true),
               Col(u"L", ColumnType::kLong, 2, 0, 3, 4, true),
               Col(u"T", ColumnType::kText, 3, 0, 0, 2 * 3, false)};
  Bytes out;
  auto encode = [&](Row r) { return EncodeRow(d, r, nullptr, &out); };
  const Value n = Value::Null();
  EXPECT_TRUE(encode({Value::Int(255), Value::Int(-32768), Value::Int(INT32_MIN), Value::Str(u"abc")}).ok());
  EXPECT_TRUE(encode({Value::Int(0), Value::Int(32767), Value::Int(INT32_MAX), Value::Str(u"")}).ok());
  Status s = encode({Value::Int(256), n, n, n});
  EXPECT_TRUE(s.IsInvalidArgument());
  EXPECT_NE(s.message().find("column B"), std::string::npos) << s.ToString();
  EXPECT_FALSE(encode({Value::Int(-1), n, n, n}).ok());
  EXPECT_FALSE(encode({n, Value::Int(32768), n, n}).ok());
  EXPECT_FALSE(encode({n, n, Value::Int(int64_t(INT32_MAX) + 1), n}).ok());
  s = encode({n, n, n, Value::Str(u"abcd")});
  EXPECT_NE(s.message().find("column T"), std::string::npos) << s.ToString();
  EXPECT_FALSE(encode({Value::Str(u"1"), n, n, n}).ok());
  EXPECT_FALSE(encode({n, n}).ok());  // wrong number of values
  TableDef odd = d;  // a Long column that claims one byte (a damaged definition)
  odd.columns[2].length = 1;
  EXPECT_FALSE(EncodeRow(odd, {n, n, Value::Int(7), n}, nullptr, &out).ok());

  // Null keeps the fixed bytes reserved; an empty text is present but zero length.
  ASSERT_TRUE(encode({n, n, n, Value::Str(u"")}).ok());
  EXPECT_EQ(out, (Bytes{0x04, 0x00, 0, 0, 0, 0, 0, 0, 0, 0x09, 0x00, 0x09, 0x00, 0x01, 0x00, 0x08}));
  ASSERT_TRUE(encode({n, n, n, n}).ok());
  EXPECT_EQ(out.back(), 0x00);
}

TEST(RowWriteTest, CompressesTextOnlyWhereAllowedAndItPays) {
  ColumnDef c = Col(u"T", ColumnType::kText, 0, 0, 0, 510, false);
  Bytes out;
  EncodeText(c, u"abc", &out);
  EXPECT_EQ(out, (Bytes{'a', 0, 'b', 0, 'c', 0}));
  c.ext_flags = kColumnCompressedUnicode;
  out.clear();
  EncodeText(c, u"abc", &out);
  EXPECT_EQ(out, (Bytes{0xFF, 0xFE, 'a', 'b', 'c'}));
  out.clear();
  EncodeText(c, u"ab", &out);  // two characters: compression would not pay
  EXPECT_EQ(out.size(), 4u);
  out.clear();
  EncodeText(c, u"a\u00E9\u65E5", &out);  // a Japanese character stays UCS-2
  EXPECT_EQ(out, (Bytes{'a', 0, 0xE9, 0, 0xE5, 0x65}));
  out.clear();
  EncodeText(c, std::u16string(1025, u'x'), &out);  // past Access's limit
  EXPECT_EQ(out.size(), 2050u);
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
