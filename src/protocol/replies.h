// The agent's replies: "GOT" and "FAILED" to a request, and the texts of requester
// control ("CANCELLED", "STATUS", "PROGRESS").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/download_request.h"
#include "protocol/request_state.h"

namespace velmora {

// The "GOT" reply for a request that succeeded; the linked fields only when `linked`.
std::wstring ComposeReply(const DownloadRequest& request, bool linked);

// The "FAILED" reply for a request that asked for one: the request's own fields and why
// it failed. A password in the reason is masked.
std::wstring ComposeFailure(const DownloadRequest& request, const std::wstring& reason);

// "CANCELLED Reference=<r> Count=<n>".
std::wstring ComposeCancelled(const std::wstring& reference, size_t count);
// One "STATUS" reply; `position` -1 for a finished request, `reason` only for a failed one.
// No password shows in it: not the source's, not one in the reason.
std::wstring ComposeStatus(const DownloadRequest& request, RequestState state, int64_t position,
                           const std::wstring& reason);
// The one "STATUS" reply when no request of the asker has that reference.
std::wstring ComposeUnknownStatus(const std::wstring& reference);
// "PROGRESS" with the request's bytes done and total.
std::wstring ComposeProgress(const DownloadRequest& request);

}  // namespace velmora
