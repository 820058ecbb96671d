// "FAILED" replies for requesters that asked for them with ReplyOnFailure=1. Everyone
// else keeps hearing nothing about a failure.
#include <windows.h>

#include "app/main_window.h"
#include "protocol/replies.h"
#include "support/debug_log.h"
#include "support/text.h"
#include "support/velmora_general.h"

namespace velmora {

namespace {
// A transfer that returned false without noting why still owes the requester a cause.
std::wstring ReasonOrDefault(const DownloadRequest& request, const std::wstring& reason) {
  if (!reason.empty()) return reason;
  const std::wstring type = UpperCase(request.Type);
  if (type == L"FTPDIR") return L"type FTPDIR is not run";
  if (type != L"HTTP" && type != L"FTP" && type != L"FTPDELETE") return L"unknown type " + request.Type;
  return L"the transfer failed";
}
}  // namespace

void frmVelmoraSkytrove::ReplyFailed(const DownloadRequest& request, const std::wstring& reason) {
  if (!request.ReplyOnFailure || request.ParentHWnd == 0 || !ReplyAllowed(request, true)) return;
  outbox_.SendNow(request.ParentHWnd, ComposeFailure(request, ReasonOrDefault(request, reason)));
}

// Answering inside the requester's own SendMessage would run its window procedure in
// the middle of its send (and stall a sender that blocks such calls), so the reply
// waits for our next turn of the message loop.
void frmVelmoraSkytrove::RefuseWithReply(const DownloadRequest& request, const std::wstring& reason) {
  if (!request.ReplyOnFailure || hwnd_ == nullptr) return;
  outbox_.Defer(request.ParentHWnd, ComposeFailure(request, reason));
}

}  // namespace velmora
