// Values handed to a row set, default literals, the column rules of a row,
// the tables refused for appending, and the one query form.
#include <gtest/gtest.h>

#include <limits>

#include "jet/defaults.h"
#include "jet/props.h"
#include "jet/query.h"
#include "jet/values.h"

namespace kp::jet {
namespace {

ColumnDef Column(const char16_t* name, ColumnType type, uint16_t length = 0) {
  ColumnDef c;
  c.name = name;
  c.type = type;
  c.length = length;
  return c;
}

TEST(EngineValues, IntegerLimitsAndOnePast) {
  const int64_t kMin = std::numeric_limits<int32_t>::min(),
                kMax = std::numeric_limits<int32_t>::max();
  const struct {
    ColumnType type;
    int64_t min, max;
  } types[] = {{ColumnType::kByte, 0, 255},
               {ColumnType::kInteger, -32768, 32767},
               {ColumnType::kLong, kMin, kMax}};
  for (const auto& t : types) {
    SCOPED_TRACE(int(t.type));
    Value out;
    for (int64_t n : {t.min, t.max})
      EXPECT_TRUE(ConvertValue(Column(u"C", t.type), Value::Int(n), &out).ok()) << n;
    for (int64_t n : {t.min - 1, t.max + 1})
      EXPECT_FALSE(ConvertValue(Column(u"C", t.type), Value::Int(n), &out).ok()) << n;
  }
}

TEST(EngineValues, KindsAndSizesMustMatchTheColumn) {
  // Whole numbers go into the exact floating and currency types too.
  Value out;
  ASSERT_TRUE(ConvertValue(Column(u"C", ColumnType::kCurrency), Value::Int(7), &out).ok());
  EXPECT_EQ(out.kind, Value::Kind::kCurrency);
  EXPECT_EQ(out.i, 70000);
  ASSERT_TRUE(ConvertValue(Column(u"C", ColumnType::kDouble), Value::Int(-3), &out).ok());
  EXPECT_EQ(out.d, -3.0);
  const ColumnDef flag = Column(u"Flag", ColumnType::kBoolean);
  EXPECT_TRUE(ConvertValue(flag, Value::Bool(true), &out).ok());
  EXPECT_FALSE(ConvertValue(flag, Value::Int(1), &out).ok());
  EXPECT_FALSE(ConvertValue(Column(u"N", ColumnType::kLong), Value::Bool(true), &out).ok());
  EXPECT_FALSE(ConvertValue(Column(u"N", ColumnType::kLong), Value::Str(u"1"), &out).ok());
  Status s = ConvertValue(Column(u"名前", ColumnType::kText, 20), Value::Int(5), &out);
  EXPECT_TRUE(s.IsInvalidArgument());
  EXPECT_NE(s.message().find("名前"), std::string::npos) << s.message();
  EXPECT_FALSE(ConvertValue(Column(u"G", ColumnType::kGuid, 16), Value::Str(u"x"), &out).ok());
  // Null goes anywhere; Required is a matter of the whole row.
  EXPECT_TRUE(ConvertValue(Column(u"G", ColumnType::kGuid, 16), Value::Null(), &out).ok());
  EXPECT_TRUE(out.is_null());
  // Text against the field size.
  const ColumnDef text = Column(u"T", ColumnType::kText, 2 * 5);
  EXPECT_TRUE(ConvertValue(text, Value::Str(u"あいうえお"), &out).ok());
  s = ConvertValue(text, Value::Str(u"あいうえおか"), &out);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("field size 5"), std::string::npos) << s.message();
  EXPECT_TRUE(ConvertValue(text, Value::Str(u""), &out).ok());
  EXPECT_TRUE(ConvertValue(Column(u"M", ColumnType::kMemo), Value::Str(std::u16string(9000, u'x')), &out).ok());
}

TEST(EngineValues, RowRulesRequiredAndZeroLength) {
  TableDef def;
  def.name = u"T";
  def.columns = {Column(u"A", ColumnType::kText, 20), Column(u"B", ColumnType::kMemo),
                 Column(u"C", ColumnType::kLong)};
  def.properties.columns[u"A"][u"AllowZeroLength"] = BoolProperty(true);
  def.properties.columns[u"C"][u"Required"] = BoolProperty(true);
  std::vector<ColumnRules> rules;
  for (const auto& c : def.columns) rules.push_back(RulesOf(def, c));
  EXPECT_TRUE(CheckRow(def, rules, {Value::Str(u""), Value::Null(), Value::Int(1)}).ok());
  // B has no AllowZeroLength property: the engine refuses "" there.
  Status s = CheckRow(def, rules, {Value::Str(u""), Value::Str(u""), Value::Int(1)});
  EXPECT_NE(s.message().find("column B"), std::string::npos) << s.message();
  s = CheckRow(def, rules, {Value::Null(), Value::Null(), Value::Null()});
  EXPECT_NE(s.message().find("column C"), std::string::npos) << s.message();
  EXPECT_NE(s.message().find("required"), std::string::npos) << s.message();
}

struct Literal {
  const char16_t* text;
  Value value;
};

TEST(EngineDefaults, Literals) {
  const std::vector<Literal> good = {
      {u"0", Value::Int(0)},          {u"-12", Value::Int(-12)},        {u" =+7 ", Value::Int(7)},
      {u"1.5", Value::Double(1.5)},   {u"2E3", Value::Double(2000)},    {u"\"a\"\"b\"", Value::Str(u"a\"b")},
      {u"'x'", Value::Str(u"x")},     {u"\"\"", Value::Str(u"")},       {u"True", Value::Bool(true)},
      {u"no", Value::Bool(false)},    {u"YES", Value::Bool(true)},      {u"Null", Value::Null()},
  };
  for (const Literal& l : good) {
    Value v;
    std::u16string written;
    ASSERT_TRUE(ParseDefaultLiteral(l.text, &v, &written).ok()) << Utf16ToUtf8(l.text);
    EXPECT_EQ(v, l.value) << Utf16ToUtf8(l.text);
  }
  for (const char16_t* bad : {u"Date()", u"1+1", u"\"open", u"\"a\" & \"b\"", u"=", u"--1", u"1e", u"Nulls",
                              u"&H10", u"GenGUID()"}) {
    Value v;
    std::u16string written;
    EXPECT_TRUE(ParseDefaultLiteral(bad, &v, &written).IsNotSupported()) << Utf16ToUtf8(bad);
  }
}

TEST(EngineDefaults, CoercedIntoTheColumnType) {
  auto with_default = [](const char16_t* expr) {
    ColumnRules r;
    r.default_value = expr;
    return r;
  };
  Value v;
  ASSERT_TRUE(DefaultFor(Column(u"B", ColumnType::kBoolean), with_default(u"-1"), &v).ok());
  EXPECT_EQ(v, Value::Bool(true));
  ASSERT_TRUE(DefaultFor(Column(u"N", ColumnType::kInteger), with_default(u"Yes"), &v).ok());
  EXPECT_EQ(v, Value::Int(-1));
  ASSERT_TRUE(DefaultFor(Column(u"T", ColumnType::kText, 20), with_default(u"007"), &v).ok());
  EXPECT_EQ(v, Value::Str(u"007"));
  ASSERT_TRUE(DefaultFor(Column(u"N", ColumnType::kLong), with_default(u"3.0"), &v).ok());
  EXPECT_EQ(v, Value::Int(3));
  EXPECT_FALSE(DefaultFor(Column(u"N", ColumnType::kLong), with_default(u"3.5"), &v).ok());
  EXPECT_FALSE(DefaultFor(Column(u"N", ColumnType::kByte), with_default(u"300"), &v).ok());
  EXPECT_FALSE(DefaultFor(Column(u"T", ColumnType::kText, 4), with_default(u"\"abc\""), &v).ok());
  ASSERT_TRUE(DefaultFor(Column(u"N", ColumnType::kLong), ColumnRules(), &v).ok());
  EXPECT_TRUE(v.is_null());
}

TEST(EngineDefaults, TablesRefusedForAppendingSayWhy) {
  TableDef def;
  def.name = u"一覧";
  def.columns = {Column(u"A", ColumnType::kLong), Column(u"B", ColumnType::kText, 20)};
  std::vector<ColumnRules> rules;
  Row defaults;
  def.properties.columns[u"A"][u"DefaultValue"] = TextProperty(u"5", ColumnType::kMemo);
  ASSERT_TRUE(PrepareAppend(def, &rules, &defaults).ok());
  EXPECT_EQ(defaults, (Row{Value::Int(5), Value::Null()}));

  TableDef bad = def;
  bad.properties.columns[u"B"][u"DefaultValue"] = TextProperty(u"Now()", ColumnType::kMemo);
  Status s = PrepareAppend(bad, &rules, &defaults);
  EXPECT_TRUE(s.IsNotSupported());
  EXPECT_NE(s.message().find("Now()"), std::string::npos) << s.message();
  EXPECT_NE(s.message().find("一覧"), std::string::npos) << s.message();

  bad = def;
  bad.properties.columns[u"B"][u"ValidationRule"] = TextProperty(u"Len([B])>2");
  s = PrepareAppend(bad, &rules, &defaults);
  EXPECT_NE(s.message().find("validation rule"), std::string::npos) << s.message();

  bad = def;
  bad.properties.table[u"ValidationRule"] = TextProperty(u"[A]>0");
  EXPECT_NE(PrepareAppend(bad, &rules, &defaults).message().find("validation rule"), std::string::npos);

  // Keys and relationships are no reason (the appender checks them).
  bad = def;
  LogicalIndex index;
  index.name = u"PrimaryKey";
  index.kind = 1;
  bad.logical_indexes.push_back(index);
  bad.physical_indexes.push_back(PhysicalIndex());
  index.name = u"OtherThis";
  index.kind = 2;
  index.raw.assign(28, 0);
  index.raw[12] = 2;
  bad.logical_indexes.push_back(index);
  EXPECT_TRUE(PrepareAppend(bad, &rules, &defaults).ok());
}

TEST(EngineQuery, OnlySelectStarFromBracketedTable) {
  std::u16string name;
  ASSERT_TRUE(ParseTableQuery(u"SELECT * FROM [一覧_ページ]", &name).ok());
  EXPECT_EQ(name, u"一覧_ページ");
  ASSERT_TRUE(ParseTableQuery(u"  select *\tfrom [a b] ", &name).ok());
  EXPECT_EQ(name, u"a b");
  for (const char16_t* q : {u"SELECT * FROM T", u"SELECT A FROM [T]", u"SELECT * FROM [T] WHERE A=1",
                            u"SELECT * FROM []", u"SELECT * FROM [T", u"SELECT *FROM [T]", u"SELECT * FROM [T];",
                            u"", u"DELETE * FROM [T]", u"SELECT * FROM [T]]"}) {
    Status s = ParseTableQuery(q, &name);
    EXPECT_TRUE(s.IsInvalidArgument()) << Utf16ToUtf8(q);
  }
  EXPECT_NE(ParseTableQuery(u"SELECT x FROM [T]", &name).message().find("SELECT x FROM [T]"), std::string::npos);
}

}  // namespace
}  // namespace kp::jet
