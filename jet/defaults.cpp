#include "jet/defaults.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "jet/format.h"

namespace kp::jet {

namespace {

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

bool EqualsFolded(const std::u16string& s, const char* word) {
  size_t i = 0;
  for (; word[i] != 0; ++i) {
    if (i >= s.size()) return false;
    char16_t c = s[i];
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
    if (c != char16_t(word[i])) return false;
  }
  return i == s.size();
}

// [+-]digits[.digits][(e|E)[+-]digits], or .digits.
bool IsNumber(const std::u16string& s, bool* integral) {
  size_t i = 0;
  *integral = true;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) ++i;
  size_t digits = 0;
  while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') ++i, ++digits;
  if (i < s.size() && s[i] == u'.') {
    *integral = false;
    ++i;
    while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
    *integral = false;
    ++i;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) ++i;
    size_t exp = 0;
    while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') ++i, ++exp;
    if (exp == 0) return false;
  }
  return i == s.size();
}

Status NotUnderstood(const std::u16string& expression) {
  return Status::NotSupported("default value " + Utf16ToUtf8(expression) + " is not a literal this layer can evaluate");
}

}  // namespace

Status ParseDefaultLiteral(const std::u16string& expression, Value* value, std::u16string* written) {
  size_t b = 0, e = expression.size();
  while (b < e && IsSpace(expression[b])) ++b;
  while (e > b && IsSpace(expression[e - 1])) --e;
  std::u16string s = expression.substr(b, e - b);
  if (!s.empty() && s[0] == u'=') {
    s.erase(0, 1);
    while (!s.empty() && IsSpace(s[0])) s.erase(0, 1);
  }
  written->clear();
  if (s.empty()) return NotUnderstood(expression);
  if (EqualsFolded(s, "null")) {
    *value = Value::Null();
    return Status::OK();
  }
  if (EqualsFolded(s, "true") || EqualsFolded(s, "yes")) {
    *value = Value::Bool(true);
    return Status::OK();
  }
  if (EqualsFolded(s, "false") || EqualsFolded(s, "no")) {
    *value = Value::Bool(false);
    return Status::OK();
  }
  if (s[0] == u'"' || s[0] == u'\'') {
    const char16_t q = s[0];
    std::u16string text;
    size_t i = 1;
    for (; i < s.size(); ++i) {
      if (s[i] != q) {
        text.push_back(s[i]);
      } else if (i + 1 < s.size() && s[i + 1] == q) {
        text.push_back(q);
        ++i;
      } else {
        break;
      }
    }
    if (i != s.size() - 1) return NotUnderstood(expression);  // unclosed, or more after it
    *value = Value::Str(text);
    return Status::OK();
  }
  bool integral = false;
  if (!IsNumber(s, &integral)) return NotUnderstood(expression);
  std::string ascii(s.begin(), s.end());  // digits, signs, '.', 'e' only
  *written = s;
  if (s[0] == u'+') written->erase(0, 1);
  if (integral) {
    errno = 0;
    const long long n = std::strtoll(ascii.c_str(), nullptr, 10);
    if (errno == ERANGE) return NotUnderstood(expression);
    *value = Value::Int(n);
    return Status::OK();
  }
  const double d = std::strtod(ascii.c_str(), nullptr);
  if (!std::isfinite(d)) return NotUnderstood(expression);
  *value = Value::Double(d);
  return Status::OK();
}

Status DefaultFor(const ColumnDef& column, const ColumnRules& rules, Value* value) {
  *value = Value::Null();
  if (!rules.default_value) return Status::OK();
  Value literal;
  std::u16string written;
  KP_RETURN_IF_ERROR(ParseDefaultLiteral(*rules.default_value, &literal, &written)
                         .WithContext(ColumnLabel(column)));
  const bool text_column = column.type == ColumnType::kText || column.type == ColumnType::kMemo;
  if (literal.kind == Value::Kind::kDouble) {
    if (text_column) {
      literal = Value::Str(written);
    } else if (column.type == ColumnType::kDouble || column.type == ColumnType::kSingle) {
      *value = literal;
      return Status::OK();
    } else if (std::floor(literal.d) == literal.d && std::fabs(literal.d) < 9.0e15) {
      literal = Value::Int(int64_t(literal.d));
    } else {
      return Status::NotSupported(ColumnLabel(column) + ": default value " + Utf16ToUtf8(*rules.default_value) +
                                  " is not a whole number");
    }
  }
  if (literal.kind == Value::Kind::kInteger) {
    if (column.type == ColumnType::kBoolean) literal = Value::Bool(literal.i != 0);
    else if (text_column) literal = Value::Str(written);
  } else if (literal.kind == Value::Kind::kBoolean && column.type != ColumnType::kBoolean && !text_column) {
    literal = Value::Int(literal.i != 0 ? -1 : 0);
  }
  Status s = ConvertValue(column, literal, value);
  if (!s.ok()) {
    return Status::NotSupported("default value " + Utf16ToUtf8(*rules.default_value) + " does not fit: " + s.message());
  }
  return Status::OK();
}

Status PrepareAppend(const TableDef& def, std::vector<ColumnRules>* rules, Row* defaults) {
  const std::string table = "table " + Utf16ToUtf8(def.name);
  auto table_rule = def.properties.table.find(u"ValidationRule");
  if (table_rule != def.properties.table.end() && table_rule->second.value.size() >= 2) {
    return Status::NotSupported(table + " has a validation rule: the table is not opened for appending");
  }
  rules->clear();
  defaults->clear();
  for (const ColumnDef& c : def.columns) {
    ColumnRules r = RulesOf(def, c);
    if (r.validation_rule) {
      return Status::NotSupported(table + ": " + ColumnLabel(c) + " has a validation rule (" +
                                  Utf16ToUtf8(*r.validation_rule) + "): the table is not opened for appending");
    }
    if ((c.flags & kColumnAutoGuid) != 0) {
      return Status::NotSupported(table + ": " + ColumnLabel(c) + " is a GUID autonumber: the table is not opened for appending");
    }
    Value v;
    Status s = DefaultFor(c, r, &v);
    if (!s.ok()) return Status::NotSupported(table + ": " + s.message() + ": the table is not opened for appending");
    rules->push_back(std::move(r));
    defaults->push_back(std::move(v));
  }
  return Status::OK();
}

}  // namespace kp::jet
