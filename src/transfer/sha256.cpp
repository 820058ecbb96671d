#include "transfer/sha256.h"

#include <vector>

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

bool HashFile(const std::wstring& path, std::array<unsigned char, 32>& digest) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  Sha256Hasher hasher;
  std::vector<char> chunk(1 << 16);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr)) return false;
    if (got == 0) break;
    hasher.Add(chunk.data(), got);
  }
  return hasher.Finish(digest);
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

}  // namespace velmora
