#include "protocol/replies.h"

#include "support/text.h"

namespace velmora {

namespace {
// One field of a reply, quoted when its value holds a space, as GetField reads it back.
std::wstring PutField(const std::wstring& text, const wchar_t* key, const std::wstring& value) {
  return FieldWrite(text, key, value, L"=", L" ");
}

// A reason comes from servers and the system, so it is made carriable: a double quote
// inside a quoted value would end it early, so quotes become apostrophes. The reader takes
// the first " Key=" anywhere in a reply, inside quoted values too, so a reason holding
// " StoryReference=1" would give the reply a field it does not have: every "=" after a
// space becomes ":", which leaves no "Key=" after a space. The agent's own reasons hold
// no "=" (unless a path in one does) and stay as they are. A password is masked where it
// can stand (a URL's user information, a Password field, a token parameter), never by
// searching for its text: that would star out "in" of "Login incorrect" and so tell it.
std::wstring CarriableReason(const std::wstring& reason) {
  std::wstring why = MaskUrlSecrets(MaskField(reason, L"Password"));
  bool afterSpace = false;
  for (auto& c : why) {
    if (c == L'"') c = L'\'';
    if (c == L'=' && afterSpace) c = L':';
    afterSpace = afterSpace || c == L' ';
  }
  return why;
}

std::wstring StateName(RequestState state) {
  switch (state) {
    case RequestState::Queued: return L"queued";
    case RequestState::Waiting: return L"waiting";
    case RequestState::Running: return L"running";
    case RequestState::Done: return L"done";
    case RequestState::Failed: return L"failed";
    case RequestState::Cancelled: return L"cancelled";
  }
  return L"unknown";
}

// The fields that name a request in STATUS and PROGRESS, with the source as given.
std::wstring Named(const wchar_t* word, const DownloadRequest& r, const std::wstring& source) {
  std::wstring text = word;
  text = PutField(text, L"Type", r.Type);
  text = PutField(text, L"Reference", r.Reference);
  text = PutField(text, L"SourceFileName", source);
  return PutField(text, L"DestinationFileName", r.DestinationFileName);
}
}  // namespace

std::wstring ComposeCancelled(const std::wstring& reference, size_t count) {
  std::wstring reply = PutField(L"CANCELLED ", L"Reference", reference);
  return PutField(reply, L"Count", ToDecimal(static_cast<int64_t>(count)));
}

// A persisted request's STATUS may be told to a later run of its program, a process
// that never sent it, so its source's secrets are masked as in the log and the journal.
std::wstring ComposeStatus(const DownloadRequest& r, RequestState state, int64_t position, const std::wstring& reason) {
  std::wstring reply = Named(L"STATUS ", r, MaskUrlSecrets(r.SourceFileName));
  reply = PutField(reply, L"State", StateName(state));
  reply = PutField(reply, L"Position", ToDecimal(position));
  reply = PutField(reply, L"BytesDone", ToDecimal(r.BytesDone));
  reply = PutField(reply, L"BytesTotal", ToDecimal(r.BytesTotal));
  if (state == RequestState::Failed) reply = PutField(reply, L"Reason", CarriableReason(reason));
  if (state == RequestState::Done && r.Unchanged) reply = PutField(reply, L"Unchanged", L"1");
  return reply;
}

std::wstring ComposeUnknownStatus(const std::wstring& reference) {
  return PutField(PutField(L"STATUS ", L"Reference", reference), L"State", L"unknown");
}

std::wstring ComposeProgress(const DownloadRequest& r) {
  std::wstring reply = Named(L"PROGRESS ", r, r.SourceFileName);
  reply = PutField(reply, L"BytesDone", ToDecimal(r.BytesDone));
  return PutField(reply, L"BytesTotal", ToDecimal(r.BytesTotal));
}

std::wstring ComposeReply(const DownloadRequest& r, bool linked) {
  std::wstring reply = L"GOT ";
  reply = PutField(reply, L"Type", r.Type);
  reply = PutField(reply, L"Reference", r.Reference);
  if (r.StoryReference != 0) reply = PutField(reply, L"StoryReference", ToDecimal(r.StoryReference));
  reply = PutField(reply, L"SourceFileSize", ToDecimal(r.SourceFileSize));
  reply = PutField(reply, L"SourceFileName", r.SourceFileName);
  reply = PutField(reply, L"DestinationFileName", r.DestinationFileName);
  reply = PutField(reply, L"SourceFileLastWriteTime", r.SourceFileLastWriteTime);
  if (linked) {
    reply = PutField(reply, L"LinkedSourceFileSize", ToDecimal(r.LinkedSourceFileSize));
    reply = PutField(reply, L"LinkedSourceFileName", r.LinkedSourceFileName);
    reply = PutField(reply, L"LinkedDestinationFileName", r.LinkedDestinationFileName);
    reply = PutField(reply, L"LinkedSourceFileLastWriteTime", r.LinkedSourceFileLastWriteTime);
  }
  // Last, so a reader of the fields above finds them where they always were.
  if (r.Unchanged) reply = PutField(reply, L"Unchanged", L"1");
  if (linked && r.LinkedUnchanged) reply = PutField(reply, L"LinkedUnchanged", L"1");
  return reply;
}

std::wstring ComposeFailure(const DownloadRequest& r, const std::wstring& reason) {
  const std::wstring why = CarriableReason(reason);
  std::wstring reply = L"FAILED ";
  reply = PutField(reply, L"Type", r.Type);
  reply = PutField(reply, L"Reference", r.Reference);
  if (r.StoryReference != 0) reply = PutField(reply, L"StoryReference", ToDecimal(r.StoryReference));
  reply = PutField(reply, L"SourceFileName", r.SourceFileName);
  reply = PutField(reply, L"DestinationFileName", r.DestinationFileName);
  reply = PutField(reply, L"Reason", why);
  return reply;
}

}  // namespace velmora
