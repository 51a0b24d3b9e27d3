#include "jet/header.h"

#include <array>
#include <cmath>
#include <cstring>

#include "jet/format.h"

namespace kp::jet {

namespace {

// The first 128 bytes of the RC4 keystream for key C7 DA 39 6B.
std::array<uint8_t, kHeaderMaskBytes> MakeHeaderMask() {
  static const uint8_t kKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + kKey[i % 4]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  std::array<uint8_t, kHeaderMaskBytes> out{};
  for (size_t n = 0, i = 0, j = 0; n < out.size(); ++n) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    out[n] = s[(s[i] + s[j]) & 0xFF];
  }
  return out;
}

const std::array<uint8_t, kHeaderMaskBytes>& HeaderMask() {
  static const std::array<uint8_t, kHeaderMaskBytes> mask = MakeHeaderMask();
  return mask;
}

constexpr char kEngineName[16] = "Standard Jet DB";

}  // namespace

void ToggleHeaderMask(uint8_t* page) {
  const auto& mask = HeaderMask();
  for (size_t i = 0; i < kHeaderMaskBytes; ++i) page[kHeaderMaskOffset + i] ^= mask[i];
}

uint32_t PasswordDateMask(double creation_date) {
  if (!std::isfinite(creation_date) || creation_date < -2147483648.0 || creation_date >= 2147483648.0) return 0;
  return uint32_t(int32_t(creation_date));
}

Status DecodeHeader(const uint8_t* stored, HeaderInfo* info) {
  uint8_t page[kHeaderTrailerOffset];
  std::memcpy(page, stored, sizeof page);
  ToggleHeaderMask(page);
  if (page[0] != kPageTypeHeader || std::memcmp(page + kHeaderEngineNameOffset, kEngineName, 16) != 0) {
    return Status::Corruption("page 0 is not a Jet database header (no \"Standard Jet DB\" at offset 4)");
  }
  info->version = GetU32(page + kHeaderVersionOffset);
  info->code_page = GetU16(page + kHeaderCodePageOffset);
  info->db_key = GetU32(page + kHeaderDbKeyOffset);
  info->build = GetU32(page + kHeaderBuildOffset);
  info->sort_order = GetU16(page + kHeaderSortOrderOffset);
  info->sort_version = page[kHeaderSortVersionOffset];
  info->creation_date = GetF64(page + kHeaderCreationDateOffset);
  uint8_t mask[4];
  PutU32(mask, PasswordDateMask(info->creation_date));
  info->password.clear();
  for (size_t i = 0; i < kHeaderPasswordBytes; i += 2) {
    const uint8_t lo = page[kHeaderPasswordOffset + i] ^ mask[i % 4];
    const uint8_t hi = page[kHeaderPasswordOffset + i + 1] ^ mask[(i + 1) % 4];
    const char16_t c = char16_t(lo | (hi << 8));
    if (c == 0) break;
    info->password.push_back(c);
  }
  return Status::OK();
}

Status CheckHeaderSupported(const HeaderInfo& info) {
  if (info.version != kJet4Version) {
    return Status::NotSupported("not a Jet 4 (Access 2000-2003) database: header version " +
                                std::to_string(info.version) + " at offset 0x14");
  }
  if (info.db_key != 0) {
    return Status::NotSupported("the database pages are encrypted (page key " + Hex(info.db_key) + " at offset 0x3E)");
  }
  if (!info.password.empty()) return Status::NotSupported("the database has a password");
  return Status::OK();
}

void EncodeHeader(const HeaderInfo& info, uint8_t* page) {
  ToggleHeaderMask(page);
  PutU32(page + kHeaderVersionOffset, info.version);
  PutU16(page + kHeaderCodePageOffset, info.code_page);
  PutU32(page + kHeaderDbKeyOffset, info.db_key);
  uint8_t mask[4];
  PutU32(mask, PasswordDateMask(info.creation_date));
  for (size_t i = 0; i < kHeaderPasswordBytes; ++i) {
    const size_t c = i / 2;
    uint8_t b = 0;
    if (c < info.password.size()) b = uint8_t(i % 2 == 0 ? info.password[c] : info.password[c] >> 8);
    page[kHeaderPasswordOffset + i] = b ^ mask[i % 4];
  }
  PutU32(page + kHeaderBuildOffset, info.build);
  PutU16(page + kHeaderSortOrderOffset, info.sort_order);
  page[kHeaderSortVersionOffset] = info.sort_version;
  PutF64(page + kHeaderCreationDateOffset, info.creation_date);
  ToggleHeaderMask(page);
}

}  // namespace kp::jet
