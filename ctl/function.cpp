#include "ctl/function.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define KP_CTL_SSE2 1
#else
#define KP_CTL_SSE2 0
#endif

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

// The number of bytes of p[0..n) before the first that is not ASCII.
size_t AsciiPrefix(const uint8_t* p, size_t n) {
  size_t i = 0;
#if KP_CTL_SSE2
  for (; i + 16 <= n; i += 16) {
    const int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
    if (high != 0) return i + size_t(std::countr_zero(unsigned(high)));
  }
#endif
  while (i < n && p[i] < 0x80) ++i;
  return i;
}

// Widens the ASCII bytes p[0..n) into w[0..n).
void Widen(const uint8_t* p, size_t n, char16_t* w) {
  size_t i = 0;
#if KP_CTL_SSE2
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w + i), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w + i + 8), _mm_unpackhi_epi8(v, zero));
  }
#endif
  for (; i < n; ++i) w[i] = char16_t(p[i]);
}

// kPairTable.code[lead << 8 | trail]: the character of the pair lead, trail
// for every lead byte 0x80..0xFF and every trail byte, or 0 where the pair is
// not one character, and 0 for every "lead" below 0x80: kCp932DoubleByte laid
// out so that two bytes are looked up at once, with no range checks.
struct PairTable {
  uint16_t code[256 * 256];
};

constexpr PairTable MakePairTable() {
  PairTable t{};
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      t.code[lead << 8 | trail] = kCp932DoubleByte[lead - 0x81][trail - 0x40];
    }
  }
  return t;
}

constexpr PairTable kPairTable = MakePairTable();

// Stores the pair lead (>= 0x80), trail at w: one character, or each byte on
// its own when the pair is none. Returns the end of what it stored.
inline char16_t* StorePair(uint8_t lead, uint8_t trail, char16_t* w) {
  const uint16_t code = kPairTable.code[unsigned(lead) << 8 | trail];
  if (code != 0) {
    *w = char16_t(code);
    return w + 1;
  }
  w[0] = SingleByte(lead);
  w[1] = SingleByte(trail);
  return w + 2;
}

// Decodes the text bytes p[i..n) into w, where a lead byte in the last
// counted place takes p[n] as its trail (`held` >= n bytes are at p). Never
// writes more characters than it reads bytes. Returns the end of the
// characters and sets *used to the bytes read; nullptr when a trail byte is
// missing, with *used then the trail's place.
char16_t* DecodeMixed(const uint8_t* p, size_t i, size_t n, size_t held, char16_t* w, size_t* used) {
  // Before `paired`, every lead byte has its trail among the bytes held.
  const size_t paired = held > n ? n : n - 1;
  while (i < paired) {
    const uint8_t c = p[i];
    if (c >= 0x80) {
      // A run of pairs, two at a time while both are characters (a byte
      // below 0x80 in a lead's place finds no character either).
      while (i + 4 <= paired) {
        const uint16_t code0 = kPairTable.code[unsigned(p[i]) << 8 | p[i + 1]];
        const uint16_t code1 = kPairTable.code[unsigned(p[i + 2]) << 8 | p[i + 3]];
        if (code0 == 0 || code1 == 0) break;
        w[0] = char16_t(code0);
        w[1] = char16_t(code1);
        w += 2;
        i += 4;
      }
      if (i < paired && p[i] >= 0x80) {
        w = StorePair(p[i], p[i + 1], w);
        i += 2;
      }
      continue;
    }
#if KP_CTL_SSE2
    // A run of ASCII, sixteen bytes at a time: all sixteen are stored, and
    // the characters past the run are overwritten by what follows.
    const __m128i zero = _mm_setzero_si128();
    bool stopped = false;
    while (i + 16 <= n) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(w), _mm_unpacklo_epi8(v, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(w + 8), _mm_unpackhi_epi8(v, zero));
      const int high = _mm_movemask_epi8(v);
      if (high != 0) {
        const size_t run = size_t(std::countr_zero(unsigned(high)));
        w += run;
        i += run;
        stopped = true;
        break;
      }
      w += 16;
      i += 16;
    }
    if (stopped) continue;
#endif
    while (i < n && p[i] < 0x80) *w++ = char16_t(p[i++]);
  }
  if (i < n) {  // the last counted byte, with nothing held past it
    if (p[i] >= 0x80) {
      *used = i + 1;
      return nullptr;
    }
    *w++ = char16_t(p[i++]);
  }
  *used = i;
  return w;
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

bool ControlStream::Refill(size_t n, const char* field) {
  if (!Fill(n)) return false;
  return size - pos >= n || Fail(std::string("end of file in ") + field, offset());
}

void AppendCp932Pair(uint8_t lead, uint8_t trail, std::u16string* out) {
  char16_t pair[2] = {SingleByte(lead), SingleByte(trail)};
  const char16_t* end = lead >= 0x80 ? StorePair(lead, trail, pair) : pair + 2;
  out->append(pair, size_t(end - pair));
}

namespace {

// Decodes the n >= 1 text bytes at the stream's position (held, with the
// byte past them when the file has it) into `out`, and moves past them.
bool DecodeText(ControlStream* s, size_t n, std::u16string* out) {
  const uint8_t* const text = s->data + s->pos;
  const size_t held = s->size - s->pos;
  size_t used = 0;
  if (n <= kStackChars) {
    // Short texts (nearly all) are decoded on the stack, then made into a
    // string of their exact size, so the document holds no slack.
    char16_t stack[kStackChars + 1];
    char16_t* const end = DecodeMixed(text, 0, n, held, stack, &used);
    if (end == nullptr) return s->Fail("end of file in trail byte of string text", s->offset() + used);
    *out = std::u16string(stack, size_t(end - stack));
    s->pos += used;
    return true;
  }
  const size_t ascii = AsciiPrefix(text, n);
  if (ascii == n) {
    // All ASCII: one character per byte, straight into the string.
    out->resize(n);
    Widen(text, n, out->data());
    s->pos += n;
    return true;
  }
  // At most one character per byte, plus one for a trail past the count.
  out->resize(n + 1);
  Widen(text, ascii, out->data());
  char16_t* const end = DecodeMixed(text, ascii, n, held, out->data() + ascii, &used);
  if (end == nullptr) return s->Fail("end of file in trail byte of string text", s->offset() + used);
  out->resize(size_t(end - out->data()));
  s->pos += used;
  return true;
}

}  // namespace

bool ReadControlString(ControlStream* s, std::u16string* out) {
  out->clear();
  // A short length whose text and the byte past it are all held (nearly
  // every string): nothing to read in and nothing that can fail.
  const size_t held = s->size - s->pos;
  if (held >= 2) {
    const uint8_t b = s->data[s->pos];
    if (b < 0xFF && size_t(b) + 1 < held) {
      ++s->pos;
      return b == 0 || DecodeText(s, b, out);
    }
  }
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
  return DecodeText(s, size_t(length), out);
}

}  // namespace kp
