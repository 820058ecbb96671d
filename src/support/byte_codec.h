// Little-endian numbers and UTF-16 texts in a byte string, and a reader that fails for good
// at the first read past the end: the layout of the agent's own files. Plain C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

inline void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void PutU64(std::string& out, uint64_t v) {
  PutU32(out, static_cast<uint32_t>(v));
  PutU32(out, static_cast<uint32_t>(v >> 32));
}
inline void PutBytes(std::string& out, const std::string& bytes) {
  PutU32(out, static_cast<uint32_t>(bytes.size()));
  out += bytes;
}
// UTF-16 code units, as the agent holds its texts on Windows.
inline void PutText(std::string& out, const std::wstring& text) {
  PutU32(out, static_cast<uint32_t>(text.size()));
  for (wchar_t c : text) {
    const auto unit = static_cast<uint16_t>(c);
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
}

inline uint32_t GetU32At(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
  return v;
}

// Reads a body front to back; any read past its end leaves it failed for good.
class Cursor {
 public:
  explicit Cursor(const std::string& bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  bool AtEnd() const { return ok_ && at_ == bytes_.size(); }
  bool Has(size_t n) {
    if (ok_ && bytes_.size() - at_ >= n) return true;
    ok_ = false;
    return false;
  }
  uint8_t U8() { return Has(1) ? static_cast<uint8_t>(bytes_[at_++]) : 0; }
  uint32_t U32() {
    if (!Has(4)) return 0;
    const uint32_t v = GetU32At(bytes_, at_);
    at_ += 4;
    return v;
  }
  uint64_t U64() {
    const uint64_t low = U32();
    return low | (static_cast<uint64_t>(U32()) << 32);
  }
  std::string Bytes() {
    const uint32_t n = U32();
    if (!Has(n)) return std::string();
    std::string out = bytes_.substr(at_, n);
    at_ += n;
    return out;
  }
  std::wstring Text() {
    const uint32_t n = U32();
    if (n > bytes_.size() / 2 || !Has(static_cast<size_t>(n) * 2)) {
      ok_ = false;
      return std::wstring();
    }
    std::wstring out(n, L'\0');
    for (uint32_t i = 0; i < n; ++i, at_ += 2)
      out[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes_[at_]) |
                                    (static_cast<unsigned char>(bytes_[at_ + 1]) << 8));
    return out;
  }

 private:
  const std::string& bytes_;
  size_t at_ = 0;
  bool ok_ = true;
};

}  // namespace velmora
