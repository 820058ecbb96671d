// Writing a file beside its destination and putting it in place only when it is
// finished, so a failure never costs the user the file that was there.
#pragma once

#include <windows.h>

#include <string>

namespace velmora {

// The calls that put a file in place; a test replaces them to fail the way a volume can.
struct PlacementCalls {
  decltype(&ReplaceFileW) replace = &ReplaceFileW;
  decltype(&MoveFileExW) move = &MoveFileExW;
  decltype(&FlushFileBuffers) flush = &FlushFileBuffers;
};

// False when the destination exists but cannot be opened for writing (open without
// sharing in another program, read-only, no access).
bool DestinationWritable(const std::wstring& destination);

// A new, empty, uniquely named file in the destination's folder; empty when none can
// be made (folder missing or not writable).
std::wstring TemporaryBeside(const std::wstring& destination);

// How putting a finished file in place ended.
enum class Placement {
  Placed,
  Failed,   // the destination is as it was, or already the new file; the finished file may go
  OnlyCopy  // no destination is left: the finished file stays, named in the log
};

// Replaces the destination with the finished (closed) file, both on the disk before it
// reports them placed; an existing destination stays until the new bytes are safe.
Placement PutInPlace(const std::wstring& finished, const std::wstring& destination,
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

}  // namespace velmora
