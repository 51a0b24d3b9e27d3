#include "jet/query.h"

#include "jet/values.h"

namespace kp::jet {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

class Cursor {
 public:
  explicit Cursor(const std::u16string& s) : s_(s) {}
  bool SkipBlanks(bool required) {
    const size_t from = i_;
    while (i_ < s_.size() && IsBlank(s_[i_])) ++i_;
    return !required || i_ > from;
  }
  bool Word(const char* word) {
    size_t k = 0;
    for (; word[k] != 0; ++k) {
      if (i_ + k >= s_.size()) return false;
      char16_t c = s_[i_ + k];
      if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
      if (c != char16_t(word[k])) return false;
    }
    i_ += k;
    return true;
  }
  bool Bracketed(std::u16string* name) {
    if (i_ >= s_.size() || s_[i_] != u'[') return false;
    const size_t close = s_.find(u']', i_ + 1);
    if (close == std::u16string::npos || close == i_ + 1) return false;
    *name = s_.substr(i_ + 1, close - i_ - 1);
    if (name->find(u'[') != std::u16string::npos) return false;
    i_ = close + 1;
    return true;
  }
  bool AtEnd() const { return i_ == s_.size(); }

 private:
  const std::u16string& s_;
  size_t i_ = 0;
};

}  // namespace

Status ParseTableQuery(const std::u16string& query, std::u16string* table) {
  Cursor c(query);
  std::u16string name;
  const bool ok = c.SkipBlanks(false) && c.Word("SELECT") && c.SkipBlanks(true) && c.Word("*") &&
                  c.SkipBlanks(true) && c.Word("FROM") && c.SkipBlanks(true) && c.Bracketed(&name) &&
                  c.SkipBlanks(false) && c.AtEnd();
  if (!ok) {
    return Status::InvalidArgument("query \"" + Utf16ToUtf8(query) +
                                   "\" is not understood: only SELECT * FROM [table name] is");
  }
  *table = std::move(name);
  return Status::OK();
}

}  // namespace kp::jet
