// Who may hear of a request, and what the window shows of one: the pending-list line and
// the current-download label.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/control.h"
#include "protocol/download_request.h"

namespace velmora {

// Whether the process told by `processId` and `created` (its creation time) may hear of
// the request: any may when it was not queued again after a restart; after one, only the
// process that sent it, since its window handle may have passed to another program.
bool SameRequesterProcess(const DownloadRequest& request, uint32_t processId, uint64_t created);
// A persisted request outlives its requester's window and process: a later run of the same
// program (`program`, the asking window's executable) may still ask STATUS about it.
bool StatusMatchesProgram(const ControlMessage& message, const std::wstring& program, const DownloadRequest& request);

// One line of the pending list, without its line end.
std::wstring PendingLine(const DownloadRequest& request);

// The label of the request being run.
std::wstring CurrentFileLabel(const DownloadRequest& request);

// " + name" or " + .ext" describing the linked file, empty without one.
std::wstring LinkedSuffix(const DownloadRequest& request);

}  // namespace velmora
