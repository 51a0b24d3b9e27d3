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

namespace kp {

// The control file's bytes being read, front to back. Reads never go past
// the end: a short read fails and leaves the position where the field began.
struct ControlStream {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  std::string error;  // the cause of the last failure, with its byte offset

  size_t remaining() const { return size - pos; }
  bool Fail(const std::string& what, size_t offset);
  bool ReadU8(uint8_t* v, const char* field);
  bool ReadI16(int16_t* v, const char* field);
  bool ReadI32(int32_t* v, const char* field);
  bool Skip(size_t n, const char* field);
};

// Reads one text at the stream's position into `out`. Returns false on a read
// failure (cause in stream->error); the position is then unspecified.
bool ReadControlString(ControlStream* stream, std::u16string* out);

// Decodes one code-page-932 pair (lead >= 0x80) as the Windows conversion
// does; a pair that is not one character gives each byte on its own, and a
// byte that is no character on its own gives U+FFFD.
void AppendCp932Pair(uint8_t lead, uint8_t trail, std::u16string* out);

}  // namespace kp
