// A download's part beside its destination, kept for a later attempt and put in place
// only when the transfer succeeded, so a failure never costs the user the file that was
// there.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "support/handles.h"
#include "support/placement.h"

namespace velmora {

// The bytes of one destination kept beside it for a later attempt ("<destination>.vskpart")
// and their record (what source and content they are). The record is replaced whole, by a
// rename, before the first byte for its content is written; the count of bytes kept is
// the part's own size. When the object ends, a part without bytes goes with its record;
// one with recorded bytes stays unless it was discarded or put in place.
class PartFile {
 public:
  // Empty `destination`: no part (Path() is empty).
  explicit PartFile(std::wstring destination);
  ~PartFile();
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;
  const std::wstring& Path() const { return path_; }

  // What an earlier attempt kept for `source`: its size and the recorded validator. A part
  // for another source, without a usable record, older than the age limit, or not the
  // user's own plain file (see part_trust.h) is deleted here (a link as the link) and 0 is
  // returned.
  int64_t Kept(const std::wstring& source, std::wstring& validator);
  // Opens the part for reading and writing, created when missing, never through a link:
  // invalid (with the system's error) when it cannot be made, or when what is under its
  // name may not take this download's bytes (the kept bytes' file replaced meanwhile).
  UniqueFile Open(DWORD share);
  // Empties the open part, then records `validator` for `source`: the part is then ready
  // for byte 0 of that content.
  bool StartOver(HANDLE file, const std::wstring& source, const std::wstring& validator);
  // Empties the open part without a new record (the content is not known yet).
  bool Empty(HANDLE file);
  // Whether the part's content is recorded: only such bytes are kept.
  bool Resumable() const { return resumable_; }
  // Nothing is kept when the object ends (a cancel, a checksum mismatch).
  void Discard() { discard_ = true; }
  // The finished (closed) part replaces the destination; its record goes.
  bool PutInPlace(const PlacementCalls& calls = PlacementCalls());
  // A failed placing left no destination: the part is the only copy and is kept.
  bool OnlyCopy() const { return onlyCopy_; }

 private:
  void Remove();
  std::wstring destination_;
  std::wstring path_;
  uint64_t checked_ = 0;  // which file Kept found the bytes in (volume and file number)
  bool discard_ = false;
  bool resumable_ = false;
  bool onlyCopy_ = false;
};

}  // namespace velmora
