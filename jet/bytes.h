// Little-endian byte helpers for the Jet file format.
//
// Reads go through ByteReader, which never reads past its limit: a short read
// sets a sticky failure that the caller turns into a Corruption status with
// the offset where it happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kp::jet {

using Bytes = std::vector<uint8_t>;

inline uint16_t GetU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t GetU24(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16); }
inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline int16_t GetI16(const uint8_t* p) { return int16_t(GetU16(p)); }
inline int32_t GetI32(const uint8_t* p) { return int32_t(GetU32(p)); }
inline double GetF64(const uint8_t* p) {
  uint64_t v = uint64_t(GetU32(p)) | (uint64_t(GetU32(p + 4)) << 32);
  double d;
  std::memcpy(&d, &v, 8);
  return d;
}

inline void PutU16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}
inline void PutF64(uint8_t* p, double d) {
  uint64_t v;
  std::memcpy(&v, &d, 8);
  PutU32(p, uint32_t(v));
  PutU32(p + 4, uint32_t(v >> 32));
}

inline void AppendU8(Bytes* b, uint8_t v) { b->push_back(v); }
inline void AppendU16(Bytes* b, uint16_t v) { b->push_back(uint8_t(v)); b->push_back(uint8_t(v >> 8)); }
inline void AppendU32(Bytes* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b->push_back(uint8_t(v >> (8 * i)));
}
inline void AppendBytes(Bytes* b, const uint8_t* p, size_t n) { b->insert(b->end(), p, p + n); }

// A bounded little-endian cursor over [data, data + size).
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool ok() const { return ok_; }
  size_t pos() const { return pos_; }
  size_t remaining() const { return ok_ ? size_ - pos_ : 0; }
  void Seek(size_t pos) { if (pos > size_) ok_ = false; else pos_ = pos; }

  bool Has(size_t n) {
    if (!ok_ || n > size_ - pos_) { ok_ = false; return false; }
    return true;
  }
  uint8_t U8() { return Has(1) ? data_[pos_++] : 0; }
  uint16_t U16() { if (!Has(2)) return 0; uint16_t v = GetU16(data_ + pos_); pos_ += 2; return v; }
  uint32_t U32() { if (!Has(4)) return 0; uint32_t v = GetU32(data_ + pos_); pos_ += 4; return v; }
  int16_t I16() { return int16_t(U16()); }
  int32_t I32() { return int32_t(U32()); }
  const uint8_t* Take(size_t n) { if (!Has(n)) return nullptr; const uint8_t* p = data_ + pos_; pos_ += n; return p; }
  void Skip(size_t n) { Take(n); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// "0x1A2B" style hex for messages.
inline std::string Hex(uint32_t v) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  do { s.insert(s.begin(), d[v & 15]); v >>= 4; } while (v);
  return "0x" + s;
}

}  // namespace kp::jet
