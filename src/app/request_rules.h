// The texts of the request exchange and of the list display: reading a "GET" request,
// writing a "GOT" reply, the pending-list line and the current-download label.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/download_queue.h"
#include "app/download_request.h"

namespace velmora {

// Every key a request can carry: those the agent reads today and those its coming
// features will read. The requesting side refuses a request in which any of them would
// be read otherwise than its sender meant, so a key is added here before anything reads
// it.
inline constexpr const wchar_t* kRequestKeys[] = {
    L"Type", L"Reference", L"StoryReference", L"SourceFileName", L"DestinationFileName",
    L"LinkedSourceFileName", L"LinkedDestinationFileName", L"Username", L"Password", L"PassiveMode",
    L"ReplyOnFailure", L"StallSeconds", L"Retries", L"Sha256", L"Progress", L"Priority", L"Persist"};

// The command word: the text before the first space, upper-cased.
std::wstring CommandWord(const std::wstring& text);

// A "GET" text read into a fresh request of window `parent`; nothing for any other command.
std::optional<DownloadRequest> ParseRequest(const std::wstring& text, int32_t parent);

// The "GOT" reply for a request that succeeded; the linked fields only when `linked`.
std::wstring ComposeReply(const DownloadRequest& request, bool linked);

// The "FAILED" reply for a request that asked for one: the request's own fields and why
// it failed. A password in the reason is masked.
std::wstring ComposeFailure(const DownloadRequest& request, const std::wstring& reason);

// "CANCEL" and "STATUS": the requester asking about, or taking back, its own requests.
struct ControlMessage {
  std::wstring command;  // "CANCEL" or "STATUS"
  std::wstring reference;
  std::wstring source;       // CANCEL only: narrows when not empty
  std::wstring destination;  // CANCEL only: narrows when not empty
};
std::optional<ControlMessage> ParseControl(const std::wstring& text);
// Whether `request` is one that `message`, sent with window `parent`, speaks of.
bool ControlMatches(const ControlMessage& message, int32_t parent, const DownloadRequest& request);
// Whether the process told by `processId` and `created` (its creation time) may hear of
// the request: any may when it was not queued again after a restart; after one, only the
// process that sent it, since its window handle may have passed to another program.
bool SameRequesterProcess(const DownloadRequest& request, uint32_t processId, uint64_t created);
// A persisted request outlives its requester's window and process: a later run of the same
// program (`program`, the asking window's executable) may still ask STATUS about it.
bool StatusMatchesProgram(const ControlMessage& message, const std::wstring& program, const DownloadRequest& request);

// "CANCELLED Reference=<r> Count=<n>".
std::wstring ComposeCancelled(const std::wstring& reference, size_t count);
// One "STATUS" reply; `position` -1 for a finished request, `reason` only for a failed one.
std::wstring ComposeStatus(const DownloadRequest& request, RequestState state, int64_t position,
                           const std::wstring& reason);
// The one "STATUS" reply when no request of the asker has that reference.
std::wstring ComposeUnknownStatus(const std::wstring& reference);
// "PROGRESS" with the request's bytes done and total.
std::wstring ComposeProgress(const DownloadRequest& request);

// One line of the pending list, without its line end.
std::wstring PendingLine(const DownloadRequest& request);

// The label of the request being run.
std::wstring CurrentFileLabel(const DownloadRequest& request);

// " + name" or " + .ext" describing the linked file, empty without one.
std::wstring LinkedSuffix(const DownloadRequest& request);

}  // namespace velmora
