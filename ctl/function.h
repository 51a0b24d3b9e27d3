// Function: the control file's string encoding.
//
// A text is stored as
//
//   OFFSET  SIZE  DESCRIPTION
//     0      1    short length L (0..254), or 0xFF announcing the long length
//     1      2    long length L, little-endian signed 16-bit (only after 0xFF)
//     ..     L    code page 932 bytes
//
// L counts bytes. Any byte 0x80..0xFF is a lead byte and always takes the
// next byte as its trail, even when it stands in the last counted position
// (the text then consumes L + 1 bytes, and every later field moves one byte).
// That rule is part of the stored format. A negative long length (0x8001..
// 0xFFFF) gives an empty text; 0x8000 cannot be counted down and is an
// overflow failure. The end of the file inside a string is a read failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kp {

class File;

constexpr size_t kControlWindowBytes = size_t(1) << 18;

// The control file's bytes being read, front to back. Reads never go past
// the end: a short read fails and leaves the position where the field began.
//
// The bytes are either all in memory (`data`, `size` = `total`), or read
// from `source` through a window of a quarter of a megabyte (small enough to
// stay in the processor's cache while it is decoded) that moves forward as
// the reading does, so that a large file never sits in memory whole.
struct ControlStream {
  const uint8_t* data = nullptr;  // the bytes held: data[0] is at file offset `base`
  size_t size = 0;                // bytes held
  size_t pos = 0;                 // the reading position in them
  size_t base = 0;
  size_t total = 0;               // the file's size
  File* source = nullptr;         // refills the window when set
  size_t window_bytes = kControlWindowBytes;  // read at a time
  std::vector<uint8_t> window;
  std::string error;  // the cause of the last failure, with its byte offset

  size_t offset() const { return base + pos; }
  size_t remaining() const { return total - offset(); }
  // Makes `n` bytes, or all that remain when fewer, available at data + pos.
  // False (cause in `error`) when reading the source fails.
  bool Fill(size_t n);
  // Fails at `offset` (in the file).
  bool Fail(const std::string& what, size_t offset);
  // The reads below fail with "end of file in <field>" at the field's offset.
  bool ReadU8(uint8_t* v, const char* field) {
    if (!Have(1, field)) return false;
    *v = data[pos++];
    return true;
  }
  bool ReadI16(int16_t* v, const char* field) {
    if (!Have(2, field)) return false;
    *v = int16_t(uint16_t(data[pos] | (data[pos + 1] << 8)));
    pos += 2;
    return true;
  }
  bool ReadI32(int32_t* v, const char* field) {
    if (!Have(4, field)) return false;
    *v = int32_t(uint32_t(data[pos]) | (uint32_t(data[pos + 1]) << 8) | (uint32_t(data[pos + 2]) << 16) |
                 (uint32_t(data[pos + 3]) << 24));
    pos += 4;
    return true;
  }
  // The next `n` bytes when they are all held, else nullptr (the reads above
  // then take them field by field, reading in or failing at the field).
  const uint8_t* Held(size_t n) const { return size - pos >= n ? data + pos : nullptr; }
  bool Skip(size_t n, const char* field) {
    if (!Have(n, field)) return false;
    pos += n;
    return true;
  }

 private:
  // Whether `n` bytes of `field` are at data + pos (reading them in if need be).
  bool Have(size_t n, const char* field) { return size - pos >= n || Refill(n, field); }
  bool Refill(size_t n, const char* field);
};

// Reads one text at the stream's position into `out`. Returns false on a read
// failure (cause in stream->error); the position is then unspecified.
bool ReadControlString(ControlStream* stream, std::u16string* out);

// Decodes one code-page-932 pair (lead >= 0x80) as the Windows conversion
// does; a pair that is not one character gives each byte on its own, and a
// byte that is no character on its own gives U+FFFD.
void AppendCp932Pair(uint8_t lead, uint8_t trail, std::u16string* out);

}  // namespace kp
