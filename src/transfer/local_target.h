// Writing a download beside its destination and putting it in place only when the
// transfer succeeded, so a failure never costs the user the file that was there.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace velmora {

// The calls that put a file in place; a test replaces them to fail the way a volume can.
struct PlacementCalls {
  decltype(&ReplaceFileW) replace = &ReplaceFileW;
  decltype(&MoveFileExW) move = &MoveFileExW;
};

// False when the destination exists but cannot be opened for writing (open without
// sharing in another program, read-only, no access).
bool DestinationWritable(const std::wstring& destination);

// A new, empty, uniquely named file in the destination's folder; empty when none can
// be made (folder missing or not writable).
std::wstring TemporaryBeside(const std::wstring& destination);

// Replaces the destination with the finished temporary file.
bool PutInPlace(const std::wstring& temporary, const std::wstring& destination,
                const PlacementCalls& calls = PlacementCalls());

// Deletes the temporary file when it goes out of scope, unless it was put in place or
// a failed placing left no destination behind (then it is kept, and logged).
class TemporaryFile {
 public:
  explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::wstring& Path() const { return path_; }
  bool PutInPlace(const std::wstring& destination, const PlacementCalls& calls = PlacementCalls());

 private:
  std::wstring path_;
};

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
  // for another source, without a usable record, or older than the age limit is deleted
  // here and 0 is returned.
  int64_t Kept(const std::wstring& source, std::wstring& validator);
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
  bool discard_ = false;
  bool resumable_ = false;
  bool onlyCopy_ = false;
};

}  // namespace velmora
