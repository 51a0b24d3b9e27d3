// The header page (page 0) of a Jet 4 file.
//
// Layout (offsets in the page; see format.h for the constants):
//   0x00  00 01 00 00                 page type 0 and three fixed bytes
//   0x04  "Standard Jet DB\0"
//   0x14  u32 version: 1 = Jet 4 (Access 2000-2003)
//   0x18  128 bytes XORed with the first 128 bytes of the RC4 keystream of
//         key C7 DA 39 6B. Inside, after removing that mask:
//     0x18  24 fixed bytes 00 01 00 00 01 01 00 00 02 00 .. 05 00 00 00
//     0x3C  u16 code page (1252)
//     0x3E  u32 page-encryption key: 0 = pages are not encrypted
//     0x42  40-byte password (UCS-2, zero-padded), XORed with the whole-day
//           part of the creation date as a little-endian int32, repeated 10
//           times: an empty password is that mask repeated
//     0x6A  u32 build of the engine that wrote the header
//     0x6E  u16 sort order LCID (0x0409), 0x70 u8 0, 0x71 u8 sort version
//           (0 = General Legacy)
//     0x72  double creation date (OLE Automation date)
//   0x98  54 06 00 00 "4.0\0", not masked
#pragma once

#include <cstdint>
#include <string>

#include "base/status.h"
#include "jet/bytes.h"

namespace kp::jet {

struct HeaderInfo {
  uint32_t version = 0;
  uint16_t code_page = 0;
  uint32_t db_key = 0;
  std::u16string password;  // empty when there is none
  uint32_t build = 0;
  uint16_t sort_order = 0;
  uint8_t sort_version = 0;
  double creation_date = 0;
};

// XORs the 128 masked bytes of a header page image in place (the mask is its
// own inverse: the same call masks and unmasks).
void ToggleHeaderMask(uint8_t* page);

// The 4-byte password mask of a creation date: the whole-day part as an int32.
uint32_t PasswordDateMask(double creation_date);

// Decodes the fields of a stored (masked) header page. Fails only when the
// page is not a Jet header at all; see CheckHeaderSupported.
Status DecodeHeader(const uint8_t* page, HeaderInfo* info);

// Refuses what the layer cannot handle: versions other than Jet 4, encrypted
// pages (a non-zero page key), a database password.
Status CheckHeaderSupported(const HeaderInfo& info);

// Writes `info`'s fields into a stored (masked) header page image, keeping
// every other byte: version, code page, page key, the password area computed
// from the password and the date, build, sort order, creation date.
void EncodeHeader(const HeaderInfo& info, uint8_t* page);

}  // namespace kp::jet
