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

  // Requester control (cancel, status, progress, priority)
  RequestPriority Priority = RequestPriority::Normal;
  bool Progress = false;   // "Progress=1": PROGRESS messages while it runs
  uint64_t Sequence = 0;   // the list's number for it, unique for the agent's life
  int64_t BytesDone = 0;
  int64_t BytesTotal = -1;  // -1: not known (no length announced, or FTP)
};

}  // namespace velmora
