#include "ctl/function.h"

#include <algorithm>
#include <cstring>

#include "base/file_io.h"
#include "base/text_util.h"

namespace kp {

namespace {
#include "ctl/cp932_table.inc"

// Texts up to this many bytes are decoded in a stack buffer first.
constexpr size_t kStackChars = 1024;


// A byte standing alone: ASCII, half-width katakana, or no character.
char16_t SingleByte(uint8_t b) {
  if (b < 0x80) return char16_t(b);
  if (b >= 0xA1 && b <= 0xDF) return char16_t(0xFF61 + (b - 0xA1));
  return u'\uFFFD';
}
}  // namespace

bool ControlStream::Fail(const std::string& what, size_t offset) {
  error = what + " at byte offset " + std::to_string(offset);
  return false;
}

bool ControlStream::Fill(size_t n) {
  if (size - pos >= n || source == nullptr) return true;
  // The unread bytes move to the front; then read up to a window's worth.
  const size_t keep = size - pos;
  const size_t want = std::min(std::max(n, window_bytes), total - offset());
  if (window.size() < want) {
    std::vector<uint8_t> bigger(want);
    if (keep > 0) std::memcpy(bigger.data(), data + pos, keep);
    window.swap(bigger);
  } else if (keep > 0) {
    std::memmove(window.data(), data + pos, keep);
  }
  base += pos;
  pos = 0;
  size = keep;
  data = window.data();
  while (size < want) {
    size_t got = 0;
    Status read = source->Read(window.data() + size, want - size, &got);
    if (!read.ok()) {
      error = read.message();
      return false;
    }
    if (got == 0) {  // the file ended before its size
      total = base + size;
      break;
    }
    size += got;
  }
  return true;
}

bool ControlStream::Have(size_t n, const char* field) {
  if (size - pos >= n) return true;
  if (!Fill(n)) return false;
  return size - pos >= n || Fail(std::string("end of file in ") + field, offset());
}

bool ControlStream::ReadU8(uint8_t* v, const char* field) {
  if (!Have(1, field)) return false;
  *v = data[pos++];
  return true;
}

bool ControlStream::ReadI16(int16_t* v, const char* field) {
  if (!Have(2, field)) return false;
  *v = int16_t(uint16_t(data[pos] | (data[pos + 1] << 8)));
  pos += 2;
  return true;
}

bool ControlStream::ReadI32(int32_t* v, const char* field) {
  if (!Have(4, field)) return false;
  *v = int32_t(uint32_t(data[pos]) | (uint32_t(data[pos + 1]) << 8) | (uint32_t(data[pos + 2]) << 16) |
               (uint32_t(data[pos + 3]) << 24));
  pos += 4;
  return true;
}

bool ControlStream::Skip(size_t n, const char* field) {
  if (!Have(n, field)) return false;
  pos += n;
  return true;
}

void AppendCp932Pair(uint8_t lead, uint8_t trail, std::u16string* out) {
  if (lead >= 0x81 && lead <= 0xFC && trail >= 0x40 && trail <= 0xFC) {
    uint16_t code = kCp932DoubleByte[lead - 0x81][trail - 0x40];
    if (code != 0) {
      out->push_back(char16_t(code));
      return;
    }
  }
  out->push_back(SingleByte(lead));
  out->push_back(SingleByte(trail));
}

bool ReadControlString(ControlStream* s, std::u16string* out) {
  out->clear();
  const size_t start = s->offset();
  uint8_t b;
  if (!s->ReadU8(&b, "string length")) return false;
  int32_t length = b;
  if (b == 0xFF) {
    int16_t long_length;
    if (!s->ReadI16(&long_length, "string long length")) return false;
    if (long_length == INT16_MIN) return s->Fail("string long length 0x8000 overflows", start);
    length = long_length;
  }
  if (length <= 0) return true;  // empty, or a negative long length: no text bytes

  // Every lead byte takes one more byte, so the text needs at least `length`
  // bytes; fail before decoding when even that many are not there.
  if (s->remaining() < size_t(length)) return s->Fail("end of file in string text", s->offset());
  // Its bytes, and a trail byte past the count, are read in at once.
  if (!s->Fill(size_t(length) + 1)) return false;
  if (s->size - s->pos < size_t(length)) return s->Fail("end of file in string text", s->offset());
  // At most one character per byte, plus one for a trail past the count.
  // Short texts (nearly all) are decoded on the stack and then copied once at
  // their exact size, so the document holds no slack; long ones in place.
  char16_t stack[kStackChars + 1];
  const bool on_stack = size_t(length) <= kStackChars;
  if (!on_stack) out->resize(size_t(length) + 1);
  char16_t* const begin = on_stack ? stack : out->data();
  char16_t* w = begin;
  const uint8_t* p = s->data;
  size_t pos = s->pos;
  for (int32_t i = 0; i < length; ++i) {
    uint8_t c = p[pos++];
    if (c < 0x80) {
      *w++ = char16_t(c);
      continue;
    }
    if (pos >= s->size) return s->Fail("end of file in trail byte of string text", s->base + pos);
    uint8_t t = p[pos++];
    if (c >= 0x81 && c <= 0xFC && t >= 0x40 && t <= 0xFC && kCp932DoubleByte[c - 0x81][t - 0x40] != 0) {
      *w++ = char16_t(kCp932DoubleByte[c - 0x81][t - 0x40]);
    } else {
      *w++ = SingleByte(c);  // no character: each byte on its own (two bytes, two slots)
      *w++ = SingleByte(t);
    }
    ++i;
  }
  if (on_stack) {
    out->assign(stack, size_t(w - stack));
  } else {
    out->resize(size_t(w - begin));
  }
  s->pos = pos;
  return true;
}

}  // namespace kp
