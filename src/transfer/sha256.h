// SHA-256 through the system's CNG, for the checksum a request may ask for.
#pragma once

#include <windows.h>

#include <array>
#include <string>

#include "support/handles.h"

namespace velmora {

class Sha256Hasher {
 public:
  // Ready() is false when the system gave no hash object (then the check fails).
  Sha256Hasher();
  bool Ready() const { return static_cast<bool>(hash_) && ok_; }
  void Add(const void* data, DWORD size);
  // The digest of everything added; the object is spent afterwards.
  bool Finish(std::array<unsigned char, 32>& digest);

 private:
  UniqueHashAlgorithm algorithm_;
  UniqueHash hash_;
  bool ok_ = true;
};

// Adds the first `kept` bytes of `file` (kept from an earlier attempt) to `hasher`,
// leaving the file's position after them, where the continued data is written.
bool HashKeptBytes(HANDLE file, int64_t kept, Sha256Hasher& hasher);

// Lower-case hex, for the log and the reason.
std::wstring DigestText(const std::array<unsigned char, 32>& digest);

// Finishes `hasher` and holds its digest against `expected` (Sha256= text): empty when they
// match, else the failure's reason.
std::wstring ChecksumProblem(Sha256Hasher& hasher, const std::wstring& expected);

}  // namespace velmora
