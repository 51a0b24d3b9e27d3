#include "tests/support/oracle.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace kp::testing {

namespace {

// A small JSON reader, enough for mdb_dump.mjs output: values are turned
// into text (numbers keep their spelling).
class Json {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  std::string text;  // bool "true"/"false", number spelling, string value (UTF-8)
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> fields;

  const Json* Field(const std::string& name) const {
    for (const auto& f : fields) if (f.first == name) return &f.second;
    return nullptr;
  }
};

class JsonParser {
 public:
  explicit JsonParser(const std::string& s) : s_(s) {}
  bool Parse(Json* out) {
    if (!Value(out, 0)) return false;
    Space();
    return pos_ == s_.size();
  }

 private:
  void Space() { while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t')) ++pos_; }
  bool Literal(const char* word) {
    const std::string w(word);
    if (s_.compare(pos_, w.size(), w) != 0) return false;
    pos_ += w.size();
    return true;
  }
  static void Utf8(uint32_t c, std::string* out) {
    if (c < 0x80) {
      out->push_back(char(c));
    } else if (c < 0x800) {
      out->push_back(char(0xC0 | (c >> 6)));
      out->push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out->push_back(char(0xE0 | (c >> 12)));
      out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(char(0x80 | (c & 0x3F)));
    } else {
      out->push_back(char(0xF0 | (c >> 18)));
      out->push_back(char(0x80 | ((c >> 12) & 0x3F)));
      out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(char(0x80 | (c & 0x3F)));
    }
  }
  bool Hex4(uint32_t* v) {
    if (pos_ + 4 > s_.size()) return false;
    *v = uint32_t(std::strtoul(s_.substr(pos_, 4).c_str(), nullptr, 16));
    pos_ += 4;
    return true;
  }
  bool String(std::string* out) {
    if (s_[pos_] != '"') return false;
    ++pos_;
    while (pos_ < s_.size() && s_[pos_] != '"') {
      char c = s_[pos_++];
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (pos_ >= s_.size()) return false;
      c = s_[pos_++];
      switch (c) {
        case 'n': out->push_back('\n'); break;
        case 'r': out->push_back('\r'); break;
        case 't': out->push_back('\t'); break;
        case 'b': out->push_back('\b'); break;
        case 'f': out->push_back('\f'); break;
        case 'u': {
          uint32_t v;
          if (!Hex4(&v)) return false;
          if (v >= 0xD800 && v < 0xDC00 && s_.compare(pos_, 2, "\\u") == 0) {
            pos_ += 2;
            uint32_t lo;
            if (!Hex4(&lo)) return false;
            v = 0x10000 + ((v - 0xD800) << 10) + (lo - 0xDC00);
          }
          Utf8(v, out);
          break;
        }
        default: out->push_back(c);
      }
    }
    if (pos_ >= s_.size()) return false;
    ++pos_;
    return true;
  }
  bool Value(Json* out, int depth) {
    if (depth > 64) return false;
    Space();
    if (pos_ >= s_.size()) return false;
    const char c = s_[pos_];
    if (c == '{') {
      out->kind = Json::Kind::kObject;
      ++pos_;
      Space();
      if (pos_ < s_.size() && s_[pos_] == '}') { ++pos_; return true; }
      while (true) {
        Space();
        std::string key;
        if (pos_ >= s_.size() || !String(&key)) return false;
        Space();
        if (pos_ >= s_.size() || s_[pos_++] != ':') return false;
        Json v;
        if (!Value(&v, depth + 1)) return false;
        out->fields.emplace_back(std::move(key), std::move(v));
        Space();
        if (pos_ >= s_.size()) return false;
        if (s_[pos_] == ',') { ++pos_; continue; }
        if (s_[pos_] == '}') { ++pos_; return true; }
        return false;
      }
    }
    if (c == '[') {
      out->kind = Json::Kind::kArray;
      ++pos_;
      Space();
      if (pos_ < s_.size() && s_[pos_] == ']') { ++pos_; return true; }
      while (true) {
        Json v;
        if (!Value(&v, depth + 1)) return false;
        out->items.push_back(std::move(v));
        Space();
        if (pos_ >= s_.size()) return false;
        if (s_[pos_] == ',') { ++pos_; continue; }
        if (s_[pos_] == ']') { ++pos_; return true; }
        return false;
      }
    }
    if (c == '"') {
      out->kind = Json::Kind::kString;
      return String(&out->text);
    }
    if (Literal("null")) { out->kind = Json::Kind::kNull; return true; }
    if (Literal("true")) { out->kind = Json::Kind::kBool; out->text = "true"; return true; }
    if (Literal("false")) { out->kind = Json::Kind::kBool; out->text = "false"; return true; }
    const size_t start = pos_;
    while (pos_ < s_.size() && std::string("+-0123456789.eE").find(s_[pos_]) != std::string::npos) ++pos_;
    if (pos_ == start) return false;
    out->kind = Json::Kind::kNumber;
    out->text = s_.substr(start, pos_ - start);
    return true;
  }

  const std::string& s_;
  size_t pos_ = 0;
};

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t at = s.find(sep, start);
    if (at == std::string::npos) {
      parts.push_back(s.substr(start));
      return parts;
    }
    parts.push_back(s.substr(start, at - start));
    start = at + 1;
  }
}

Status RunMdbDump(const std::string& file, const std::string& extra, std::string* out) {
  return RunCapture("cd " + ShellQuote(KP_JS_DIR) + " && TZ=UTC node mdb_dump.mjs " + ShellQuote(file) + extra +
                        " 2>/dev/null",
                    out);
}

}  // namespace

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q.push_back(c);
  }
  return q + "'";
}

ShellRun Shell(const std::string& command) {
  ShellRun r;
#ifdef _WIN32
  // No POSIX shell and none of its tools (mdbtools, node) on Windows: every
  // command fails, and the tests that need one skip.
  (void)command;
  return r;
#else
  FILE* f = popen(command.c_str(), "r");
  if (f == nullptr) return r;
  char buf[1 << 14];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) r.out.append(buf, n);
  const int st = pclose(f);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
#endif
}

Status RunCapture(const std::string& command, std::string* out) {
  ShellRun r = Shell(command);
  *out = std::move(r.out);
  if (r.status != 0) return Status::IOError("command failed (" + std::to_string(r.status) + "): " + command);
  return Status::OK();
}

bool HaveMdbtools() {
  std::string out;
  return RunCapture("command -v mdb-export >/dev/null 2>&1 && command -v mdb-tables >/dev/null 2>&1", &out).ok();
}

bool HaveMdbReader() {
  std::string out;
  return RunCapture("command -v node >/dev/null 2>&1 && test -d " + ShellQuote(std::string(KP_JS_DIR) +
                                                                               "/node_modules/mdb-reader"),
                    &out)
      .ok();
}

Status MdbtoolsTableNames(const std::string& file, bool system, std::vector<std::string>* names) {
  std::string out;
  KP_RETURN_IF_ERROR(RunCapture(std::string("mdb-tables -1 ") + (system ? "-S " : "") + ShellQuote(file) +
                                    " 2>/dev/null",
                                &out));
  names->clear();
  for (auto& line : Split(out, '\n')) {
    if (!line.empty()) names->push_back(line);
  }
  return Status::OK();
}

Status MdbtoolsRows(const std::string& file, const std::string& table, OracleTable* out) {
  // Unit separator between fields, record separator between rows, so that
  // texts with commas, quotes and line breaks come through unchanged.
  std::string text;
  KP_RETURN_IF_ERROR(RunCapture("mdb-export -H -Q -d \"$(printf '\\037')\" -R \"$(printf '\\036')\" -b hex -0 \"$(printf '\\032')\" "
                                "-D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' " +
                                    ShellQuote(file) + " " + ShellQuote(table) + " 2>/dev/null",
                                &text));
  *out = OracleTable();
  for (const auto& record : Split(text, '\x1e')) {
    if (record.empty()) continue;
    std::vector<std::optional<std::string>> row;
    for (auto& field : Split(record, '\x1f')) {
      if (field == "\x1a") row.push_back(std::nullopt);
      else row.push_back(field);
    }
    out->rows.push_back(std::move(row));
  }
  return Status::OK();
}

Status MdbReaderRows(const std::string& file, const std::string& table, OracleTable* out) {
  std::string text;
  KP_RETURN_IF_ERROR(RunMdbDump(file, " --system --table " + ShellQuote(table), &text));
  Json root;
  if (!JsonParser(text).Parse(&root) || root.kind != Json::Kind::kObject) {
    return Status::Corruption("mdb_dump.mjs printed no JSON object for " + table);
  }
  const Json* t = root.Field(table);
  if (t == nullptr) return Status::NotFound("mdb-reader lists no table " + table);
  *out = OracleTable();
  if (const Json* rc = t->Field("rowCount"); rc != nullptr && rc->kind == Json::Kind::kNumber) {
    out->row_count = std::strtol(rc->text.c_str(), nullptr, 10);
  }
  if (const Json* cols = t->Field("columns")) {
    for (const Json& c : cols->items) {
      const Json* name = c.Field("name");
      const Json* type = c.Field("type");
      out->columns.push_back(name ? name->text : "");
      out->types.push_back(type ? type->text : "");
    }
  }
  if (const Json* rows = t->Field("rows")) {
    for (const Json& r : rows->items) {
      std::vector<std::optional<std::string>> row;
      for (const std::string& name : out->columns) {
        const Json* v = r.Field(name);
        if (v == nullptr || v->kind == Json::Kind::kNull) row.push_back(std::nullopt);
        else row.push_back(v->text);
      }
      out->rows.push_back(std::move(row));
    }
  }
  return Status::OK();
}

Status MdbReaderTableNames(const std::string& file, bool system, std::vector<std::string>* names) {
  std::string text;
  KP_RETURN_IF_ERROR(RunMdbDump(file, system ? " --system" : "", &text));
  Json root;
  if (!JsonParser(text).Parse(&root) || root.kind != Json::Kind::kObject) {
    return Status::Corruption("mdb_dump.mjs printed no JSON object");
  }
  names->clear();
  for (const auto& f : root.fields) names->push_back(f.first);
  return Status::OK();
}

namespace {

std::vector<std::string> Joined(const OracleTable& t) {
  std::vector<std::string> lines;
  for (const auto& row : t.rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      if (i) line += '|';
      if (!row[i]) {
        line += "<NULL>";
        continue;
      }
      const std::string type = i < t.types.size() ? t.types[i] : "";
      if (type == "boolean") {
        line += *row[i] == "true" ? "1" : "0";
      } else if (type == "binary" || type == "ole") {
        for (char c : *row[i]) line.push_back(char(std::toupper(static_cast<unsigned char>(c))));
      } else {
        line += *row[i];
      }
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace

std::vector<std::string> RowsByMdbtools(const std::string& file, const std::string& table, bool* ok) {
  OracleTable t;
  *ok = MdbtoolsRows(file, table, &t).ok();
  return Joined(t);
}

std::vector<std::string> RowsByMdbReader(const std::string& file, const std::string& table, bool* ok) {
  OracleTable t;
  *ok = MdbReaderRows(file, table, &t).ok();
  return Joined(t);
}

}  // namespace kp::testing
