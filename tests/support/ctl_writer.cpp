#include "tests/support/ctl_writer.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <stdexcept>
#include <unordered_map>

#include "base/path.h"
#include "base/text_util.h"
#include "ctl/function.h"

namespace kp::testing {

namespace {

const std::unordered_map<char16_t, uint16_t>& ReverseCp932() {
  static std::unordered_map<char16_t, uint16_t> table;
  static std::once_flag once;
  std::call_once(once, [] {
    for (int lead = 0xFC; lead >= 0x81; --lead) {  // lower codes win on duplicates
      if (lead >= 0xA0 && lead <= 0xDF) continue;
      for (int trail = 0xFC; trail >= 0x40; --trail) {
        std::u16string s;
        AppendCp932Pair(uint8_t(lead), uint8_t(trail), &s);
        if (s.size() == 1 && s[0] != u'\uFFFD') table[s[0]] = uint16_t(lead << 8 | trail);
      }
    }
  });
  return table;
}

void PutI16(std::string* out, int16_t v) {
  out->push_back(char(v & 0xFF));
  out->push_back(char((uint16_t(v) >> 8) & 0xFF));
}
void PutI32(std::string* out, int32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(char((uint32_t(v) >> (8 * i)) & 0xFF));
}

class Encoder {
 public:
  explicit Encoder(const ControlWriteOptions& o) : o_(o) {}
  void Str(const std::u16string& s) {
    auto raw = o_.raw_strings.find(s);
    out += raw != o_.raw_strings.end() ? raw->second : EncodeControlString(s, o_.form);
  }
  template <typename List>
  int Count(int16_t field, const List& list) {
    int n = o_.use_count_fields || field != int16_t(list.size()) ? field : int(list.size());
    PutI16(&out, int16_t(n));
    return std::min<int>(std::max(n, 0), int(list.size()));
  }
  std::string out;

 private:
  const ControlWriteOptions& o_;
};

}  // namespace

std::string EncodeCp932(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out.push_back(char(c));
    } else if (c >= 0xFF61 && c <= 0xFF9F) {
      out.push_back(char(0xA1 + (c - 0xFF61)));
    } else {
      auto it = ReverseCp932().find(c);
      if (it == ReverseCp932().end()) {
        out.push_back('?');
      } else {
        out.push_back(char(it->second >> 8));
        out.push_back(char(it->second & 0xFF));
      }
    }
  }
  return out;
}

std::string EncodeControlString(const std::u16string& text, StringForm form) {
  std::string bytes = EncodeCp932(text);
  std::string out;
  if (form == StringForm::kLong || (form == StringForm::kAuto && bytes.size() >= 255)) {
    out.push_back(char(0xFF));
    PutI16(&out, int16_t(bytes.size()));
  } else {
    out.push_back(char(bytes.size()));
  }
  return out + bytes;
}

std::string EncodeControlFile(const ControlDocument& doc, const ControlWriteOptions& options) {
  Encoder e(options);
  std::string& out = e.out;
  out.assign("\x90\x01\x40\x4B\x50\x4C\x01", 7);
  out.push_back(char(doc.Header.HeaderByte));
  PutI32(&out, 0);
  PutI32(&out, doc.Header.HeaderLong);
  int32_t reg = options.use_count_fields || doc.EmbeddedFileCount != int32_t(doc.EmbeddedFiles.size())
                    ? doc.EmbeddedFileCount
                    : int32_t(doc.EmbeddedFiles.size());
  PutI32(&out, reg);
  for (const EmbeddedFileRecord& r : doc.EmbeddedFiles) {
    PutI32(&out, r.EntryValue);
    PutI32(&out, 0);
    e.Str(r.KPE_FileName);
    e.Str(r.InData);
    out.append(5, '\0');
  }
  for (const PageRecord& p : doc.Pages) {
    e.Str(p.FileName);
    out.append(2, '\0');
    out.push_back(char(p.Level));
    out.append(4, '\0');
    out.push_back(char(p.IsTag));
    e.Str(p.Name);
    out.push_back('\0');
    e.Str(p.AuxText);
    out.push_back(char(p.Angle));
    out.push_back('\0');
    for (int i = 0, n = e.Count(p.CommentCount, p.Comments); i < n; ++i) {
      const CommentRecord& c = p.Comments[i];
      PutI16(&out, c.Color); PutI16(&out, c.Left); PutI16(&out, c.Top);
      e.Str(c.Text);
    }
    for (int i = 0, n = e.Count(p.KeyWordCount, p.KeyWords); i < n; ++i) {
      const KeyWordRecord& k = p.KeyWords[i];
      PutI16(&out, k.Left); PutI16(&out, k.Top); PutI16(&out, k.Width); PutI16(&out, k.Height);
      e.Str(k.KeyWord);
      e.Str(k.Field);
    }
    for (int i = 0, n = e.Count(p.SquareCount, p.Squares); i < n; ++i) {
      const SquareRecord& q = p.Squares[i];
      PutI16(&out, q.Color); PutI16(&out, q.Left); PutI16(&out, q.Top); PutI16(&out, q.Width); PutI16(&out, q.Height);
    }
    for (int i = 0, n = e.Count(p.HyperLinkCount, p.HyperLinks); i < n; ++i) {
      const HyperLinkRecord& h = p.HyperLinks[i];
      PutI16(&out, h.Left); PutI16(&out, h.Top); PutI16(&out, h.Width); PutI16(&out, h.Height);
      e.Str(h.LinkInfo1);
      e.Str(h.LinkInfo2);
    }
    for (int i = 0, n = e.Count(p.EmbedCount, p.Embeds); i < n; ++i) PutI32(&out, p.Embeds[i].RegisterIndex);
  }
  out += options.terminator_bytes.empty() ? EncodeControlString(u"ENDOFCONTROL", options.form)
                                          : options.terminator_bytes;
  out += options.trailing_bytes;
  return out;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(PathFromUtf8(path), std::ios::binary);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string WriteDocumentFolder(const std::string& folder, const ControlDocument& doc,
                                const ControlWriteOptions& options, int64_t image_size) {
  std::filesystem::create_directories(PathFromUtf8(folder));
  for (const PageRecord& p : doc.Pages) {
    std::string name = Utf16ToUtf8(p.FileName);
    for (char& c : name) if (c == '\\') c = '/';
    const std::filesystem::path path = PathFromUtf8(folder + "/" + name);
    std::filesystem::create_directories(path.parent_path());
    WriteFile(PathToUtf8(path), "");
    std::filesystem::resize_file(path, uintmax_t(p.ImageLen ? p.ImageLen : image_size));
  }
  std::string ctl = folder + "/DEFAULT.CTL";
  WriteFile(ctl, EncodeControlFile(doc, options));
  return ctl;
}

std::string MakeTempFolder(const std::string& prefix) {
  // A name no one else has made: created atomically, retried on a clash.
  static std::atomic<uint64_t> counter{0};
  const uint64_t seed = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                        (uint64_t(std::random_device()()) << 32);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", (unsigned long long)(seed + counter++ * 0x9E3779B97F4A7C15ull));
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / (prefix + "-" + suffix);
    std::error_code ec;
    if (std::filesystem::create_directory(folder, ec)) return PathToUtf8(folder);
  }
  throw std::runtime_error("cannot make a temporary folder");
}

void CountLists(PageRecord* p) {
  p->CommentCount = int16_t(p->Comments.size());
  p->KeyWordCount = int16_t(p->KeyWords.size());
  p->SquareCount = int16_t(p->Squares.size());
  p->HyperLinkCount = int16_t(p->HyperLinks.size());
  p->EmbedCount = int16_t(p->Embeds.size());
}

PageRecord SimplePage(int n) {
  PageRecord p;
  std::string name = "\\P" + std::to_string(n) + ".TIF";
  p.FileName = std::u16string(name.begin(), name.end());
  return p;
}

}  // namespace kp::testing
