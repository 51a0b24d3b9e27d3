#include "jet/values.h"

#include <cstdio>
#include <limits>

#include "jet/props.h"

namespace kp::jet {

namespace {

bool IsBlank(const std::u16string& s) {
  for (char16_t c : s) {
    if (c != u' ' && c != u'\t' && c != u'\r' && c != u'\n') return false;
  }
  return true;
}

Status Refuse(const ColumnDef& c, const std::string& what) {
  return Status::InvalidArgument(ColumnLabel(c) + ": " + what);
}

const char* KindName(const Value& v) {
  switch (v.kind) {
    case Value::Kind::kNull: return "Null";
    case Value::Kind::kBoolean: return "a Boolean";
    case Value::Kind::kInteger: return "a number";
    case Value::Kind::kDouble: return "a floating-point number";
    case Value::Kind::kCurrency: return "a currency value";
    case Value::Kind::kDateTime: return "a date";
    case Value::Kind::kText: return "text";
    case Value::Kind::kBinary: return "binary data";
  }
  return "a value";
}

Status InRange(const ColumnDef& c, const Value& in, int64_t lo, int64_t hi) {
  if (in.i < lo || in.i > hi) {
    return Refuse(c, "value " + std::to_string(in.i) + " does not fit " + ColumnTypeName(c.type) + " (" +
                         std::to_string(lo) + ".." + std::to_string(hi) + ")");
  }
  return Status::OK();
}

}  // namespace

std::string ColumnLabel(const ColumnDef& column) { return "column " + Utf16ToUtf8(column.name); }

std::string ValueText(const Value& v) {
  switch (v.kind) {
    case Value::Kind::kNull: return "Null";
    case Value::Kind::kBoolean: return v.i != 0 ? "True" : "False";
    case Value::Kind::kInteger: return std::to_string(v.i);
    case Value::Kind::kCurrency: {
      const int64_t whole = v.i / 10000, part = (v.i < 0 ? -v.i : v.i) % 10000;
      std::string s = std::to_string(whole);
      if (v.i < 0 && whole == 0) s = "-" + s;
      if (part != 0) {
        char buf[8];
        std::snprintf(buf, sizeof buf, ".%04d", int(part));
        s += buf;
      }
      return s;
    }
    case Value::Kind::kDouble:
    case Value::Kind::kDateTime: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.17g", v.d);
      return buf;
    }
    case Value::Kind::kText: return "\"" + Utf16ToUtf8(v.text.size() > 64 ? v.text.substr(0, 64) + u"..." : v.text) + "\"";
    case Value::Kind::kBinary: return std::to_string(v.binary.size()) + " bytes";
  }
  return "?";
}

ColumnRules RulesOf(const TableDef& def, const ColumnDef& column) {
  ColumnRules rules;
  rules.required = ColumnRequired(def.properties, column.name).value_or(false);
  rules.allow_zero_length = ColumnAllowZeroLength(def.properties, column.name).value_or(false);
  rules.default_value = ColumnDefaultValue(def.properties, column.name);
  if (rules.default_value && IsBlank(*rules.default_value)) rules.default_value.reset();
  rules.validation_rule = ColumnValidationRule(def.properties, column.name);
  if (rules.validation_rule && IsBlank(*rules.validation_rule)) rules.validation_rule.reset();
  return rules;
}

Status ConvertValue(const ColumnDef& c, const Value& in, Value* out) {
  if (in.is_null()) {
    *out = Value::Null();
    return Status::OK();
  }
  switch (c.type) {
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
    case ColumnType::kDouble:
    case ColumnType::kSingle: {
      if (in.kind != Value::Kind::kInteger) {
        return Refuse(c, std::string("a ") + ColumnTypeName(c.type) + " column cannot hold " + KindName(in));
      }
      if (c.type == ColumnType::kByte) KP_RETURN_IF_ERROR(InRange(c, in, 0, 255));
      if (c.type == ColumnType::kInteger) KP_RETURN_IF_ERROR(InRange(c, in, -32768, 32767));
      if (c.type == ColumnType::kLong) {
        KP_RETURN_IF_ERROR(InRange(c, in, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
      }
      if (c.type == ColumnType::kCurrency) {
        constexpr int64_t kLimit = std::numeric_limits<int64_t>::max() / 10000;
        KP_RETURN_IF_ERROR(InRange(c, in, -kLimit, kLimit));
        out->kind = Value::Kind::kCurrency;
        out->i = in.i * 10000;
        return Status::OK();
      }
      if (c.type == ColumnType::kSingle) KP_RETURN_IF_ERROR(InRange(c, in, -(1 << 24), 1 << 24));
      if (c.type == ColumnType::kDouble || c.type == ColumnType::kSingle) {
        *out = Value::Double(double(in.i));
        return Status::OK();
      }
      *out = Value::Int(in.i);
      return Status::OK();
    }
    case ColumnType::kBoolean:
      if (in.kind != Value::Kind::kBoolean) return Refuse(c, std::string("a Boolean column cannot hold ") + KindName(in));
      *out = Value::Bool(in.i != 0);
      return Status::OK();
    case ColumnType::kText:
      if (in.kind != Value::Kind::kText) return Refuse(c, std::string("a Text column cannot hold ") + KindName(in));
      if (in.text.size() > c.length / 2u) {
        return Refuse(c, "text of " + std::to_string(in.text.size()) + " characters is longer than the field size " +
                             std::to_string(c.length / 2u));
      }
      *out = in;
      return Status::OK();
    case ColumnType::kMemo:
      if (in.kind != Value::Kind::kText) return Refuse(c, std::string("a Memo column cannot hold ") + KindName(in));
      if (in.text.size() > kMaxMemoChars) return Refuse(c, "text is too long for a Memo column");
      *out = in;
      return Status::OK();
    default:
      return Refuse(c, std::string("values of type ") + ColumnTypeName(c.type) + " cannot be written");
  }
}

std::vector<size_t> CheckedColumns(const TableDef& def, const std::vector<ColumnRules>& rules) {
  std::vector<size_t> checked;
  for (size_t i = 0; i < def.columns.size() && i < rules.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    const bool text = c.type == ColumnType::kText || c.type == ColumnType::kMemo;
    if (rules[i].required || (text && !rules[i].allow_zero_length)) checked.push_back(i);
  }
  return checked;
}

Status CheckRow(const TableDef& def, const std::vector<ColumnRules>& rules, const Row& row,
                const std::vector<size_t>& checked) {
  for (size_t i : checked) {
    if (i >= row.size()) break;
    const ColumnDef& c = def.columns[i];
    if (rules[i].required && row[i].is_null()) return Refuse(c, "a value is required (Null given)");
    if ((c.type == ColumnType::kText || c.type == ColumnType::kMemo) && !rules[i].allow_zero_length &&
        row[i].kind == Value::Kind::kText && row[i].text.empty()) {
      return Refuse(c, "zero-length text is not allowed");
    }
  }
  return Status::OK();
}

Status CheckRow(const TableDef& def, const std::vector<ColumnRules>& rules, const Row& row) {
  return CheckRow(def, rules, row, CheckedColumns(def, rules));
}

}  // namespace kp::jet
