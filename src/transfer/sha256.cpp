#include "transfer/sha256.h"

#include <algorithm>
#include <vector>

#include "transfer/transfer_rules.h"

namespace velmora {

Sha256Hasher::Sha256Hasher() {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return;
  algorithm_.reset(algorithm);
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) hash_.reset(hash);
}

void Sha256Hasher::Add(const void* data, DWORD size) {
  if (!hash_ || size == 0) return;
  if (!BCRYPT_SUCCESS(BCryptHashData(hash_.get(), static_cast<PUCHAR>(const_cast<void*>(data)), size, 0))) ok_ = false;
}

bool Sha256Hasher::Finish(std::array<unsigned char, 32>& digest) {
  if (!Ready()) return false;
  const bool done = BCRYPT_SUCCESS(BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
  hash_.reset();
  return done;
}

bool HashKeptBytes(HANDLE file, int64_t kept, Sha256Hasher& hasher) {
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
  std::vector<char> chunk(1 << 16);
  for (int64_t left = kept; left > 0;) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<int64_t>(left, static_cast<int64_t>(chunk.size())));
    if (!ReadFile(file, chunk.data(), want, &got, nullptr) || got == 0) return false;
    hasher.Add(chunk.data(), got);
    left -= got;
  }
  return true;
}

std::wstring DigestText(const std::array<unsigned char, 32>& digest) {
  static constexpr wchar_t kHex[] = L"0123456789abcdef";
  std::wstring text;
  for (unsigned char b : digest) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

std::wstring ChecksumProblem(Sha256Hasher& hasher, const std::wstring& expected) {
  std::array<unsigned char, 32> digest{};
  if (!hasher.Finish(digest)) return L"checksum could not be computed";
  if (DigestMatches(expected, digest.data(), digest.size())) return std::wstring();
  return L"checksum mismatch: the data hashes to " + DigestText(digest);
}

}  // namespace velmora
