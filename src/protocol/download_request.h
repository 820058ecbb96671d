// The record of one request, copied by value between the intake, the list and the
// dispatcher: every holder owns its strings.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// Which class a request runs in; a class runs only when the more urgent ones are empty.
enum class RequestPriority : int8_t { High = 0, Normal = 1, Low = 2 };

struct DownloadRequest {
  std::wstring Reference;
  int32_t ParentHWnd = 0;
  int32_t StoryReference = 0;
  int64_t SourceFileSize = 0;  // 64-bit: files of 2 GiB and more report their real size
  std::wstring SourceFileName;
  std::wstring SourceFileLastWriteTime;
  std::wstring DestinationFileName;
  int64_t LinkedSourceFileSize = 0;
  std::wstring LinkedSourceFileName;
  std::wstring LinkedSourceFileLastWriteTime;
  std::wstring LinkedDestinationFileName;
  std::wstring Type;
  bool PassiveMode = false;
  std::wstring Username;
  std::wstring Password;
  // The requester asked to hear about a failure or refusal too ("ReplyOnFailure=1").
  bool ReplyOnFailure = false;

  // Retries and resume
  int32_t StallSeconds = 0;  // 0: not given (the administrator's default, else 60)
  int32_t Retries = 0;       // more attempts after a transient failure, 0..10
  std::wstring Sha256;       // 64 hex digits the data must hash to; empty: no check
  int32_t Attempts = 0;      // attempts made so far
  uint64_t DueAt = 0;        // tick count at which a waiting retry may run; 0: now
  // Requester control (cancel, status, progress, priority)
  RequestPriority Priority = RequestPriority::Normal;
  bool Progress = false;   // "Progress=1": PROGRESS messages while it runs
  uint64_t Sequence = 0;   // the list's number for it, unique for the agent's life
  int64_t BytesDone = 0;
  int64_t BytesTotal = -1;  // -1: not known (no length announced, or FTP)
  // The durable queue (Persist=1)
  bool Persist = false;
  uint64_t JournalId = 0;  // its number in the journal; 0: not written there
  // Its requester's process, told apart from a later one with the same id by its creation
  // time (a FILETIME; 0 when it could not be read).
  uint32_t RequesterProcessId = 0;
  uint64_t RequesterProcessCreated = 0;
  // The full path of the requester's program: a later run of the same program may ask
  // STATUS about what it persisted (its window and process are new by then).
  std::wstring RequesterProgram;
  bool Restored = false;  // queued again from the journal: its window may now be another's
  // Fetching only what changed (HTTP and FTP GET)
  bool IfChanged = false;       // "IfChanged=1": ask the server whether the placed file is still current
  bool KeepServerTime = false;  // "KeepServerTime=1": the destination takes the server's last-write time
  // How the attempt that placed it ended: the file (the linked file) was already current and
  // was left exactly as it was.
  bool Unchanged = false;
  bool LinkedUnchanged = false;
  // Pace: "MaxBytesPerSecond=N", 1,024 to 2^31-1; 0: no cap of the request's own
  int64_t MaxBytesPerSecond = 0;
  // "Pace=Fast", or the machine's Pace when the request names none: started without waiting
  // for a tick, and an HTTP body read without the pauses and in larger pieces.
  bool Fast = false;
};

}  // namespace velmora
