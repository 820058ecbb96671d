#include "app/request_rules.h"

#include "app/transfer_rules.h"
#include "support/paths.h"
#include "support/text.h"

namespace velmora {

std::wstring CommandWord(const std::wstring& text) {
  size_t found = 0;
  return UpperCase(TokenExtract(text, 1, L" ", found));
}

std::optional<DownloadRequest> ParseRequest(const std::wstring& text, int32_t parent) {
  if (CommandWord(text) != L"GET") return std::nullopt;
  auto field = [&](const wchar_t* key) { return GetField(text, key, L"=", L" "); };
  DownloadRequest r;
  r.ParentHWnd = parent;
  r.Type = field(L"Type");
  r.Reference = field(L"Reference");
  r.StoryReference = LeadingNumberToInt32(field(L"StoryReference"));
  r.SourceFileName = field(L"SourceFileName");
  r.DestinationFileName = field(L"DestinationFileName");
  r.LinkedSourceFileName = field(L"LinkedSourceFileName");
  r.LinkedDestinationFileName = field(L"LinkedDestinationFileName");
  r.Username = field(L"Username");
  r.Password = field(L"Password");
  r.PassiveMode = LeadingNumberIsNonZero(field(L"PassiveMode"));
  // Exactly "1": a requester written before failure replies never sees one.
  r.ReplyOnFailure = field(L"ReplyOnFailure") == L"1";
  r.StallSeconds = LeadingNumberToInt32(field(L"StallSeconds"));
  r.Retries = ClampRetries(LeadingNumberToInt32(field(L"Retries")));
  r.Sha256 = field(L"Sha256");
  // Anything but the three words is the default: an older requester's typo runs as before.
  const std::wstring priority = UpperCase(field(L"Priority"));
  if (priority == L"HIGH") r.Priority = RequestPriority::High;
  if (priority == L"LOW") r.Priority = RequestPriority::Low;
  r.Progress = field(L"Progress") == L"1";
  r.Persist = field(L"Persist") == L"1";
  return r;
}

std::optional<ControlMessage> ParseControl(const std::wstring& text) {
  ControlMessage m;
  m.command = CommandWord(text);
  if (m.command != L"CANCEL" && m.command != L"STATUS") return std::nullopt;
  auto field = [&](const wchar_t* key) { return GetField(text, key, L"=", L" "); };
  m.reference = field(L"Reference");
  if (m.command == L"CANCEL") {
    m.source = field(L"SourceFileName");
    m.destination = field(L"DestinationFileName");
  }
  return m;
}

bool ControlMatches(const ControlMessage& m, int32_t parent, const DownloadRequest& r) {
  return parent != 0 && r.ParentHWnd == parent && r.Reference == m.reference &&
         (m.source.empty() || r.SourceFileName == m.source) &&
         (m.destination.empty() || r.DestinationFileName == m.destination);
}

bool SameRequesterProcess(const DownloadRequest& r, uint32_t processId, uint64_t created) {
  return !r.Restored ||
         (processId != 0 && created != 0 && processId == r.RequesterProcessId && created == r.RequesterProcessCreated);
}

bool StatusMatchesProgram(const ControlMessage& m, const std::wstring& program, const DownloadRequest& r) {
  return r.Persist && !program.empty() && EqualsNoCase(r.RequesterProgram, program) && r.Reference == m.reference &&
         (m.source.empty() || r.SourceFileName == m.source) &&
         (m.destination.empty() || r.DestinationFileName == m.destination);
}

namespace {
// One field of a reply, quoted when its value holds a space, as GetField reads it back.
std::wstring PutField(const std::wstring& text, const wchar_t* key, const std::wstring& value) {
  return FieldWrite(text, key, value, L"=", L" ");
}

// A reason comes from servers and the system, so it is made carriable: a double quote
// inside a quoted value would end it early, so quotes become apostrophes. A password is
// masked where it can stand (a URL's user information, a Password field), never by
// searching for its text: that would star out "in" of "Login incorrect" and so tell it.
std::wstring CarriableReason(const std::wstring& reason) {
  std::wstring why = MaskUrlPasswords(MaskField(reason, L"Password"));
  for (auto& c : why)
    if (c == L'"') c = L'\'';
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

// The fields that name a request in STATUS and PROGRESS.
std::wstring Named(const wchar_t* word, const DownloadRequest& r) {
  std::wstring text = word;
  text = PutField(text, L"Type", r.Type);
  text = PutField(text, L"Reference", r.Reference);
  text = PutField(text, L"SourceFileName", r.SourceFileName);
  return PutField(text, L"DestinationFileName", r.DestinationFileName);
}
}  // namespace

std::wstring ComposeCancelled(const std::wstring& reference, size_t count) {
  std::wstring reply = PutField(L"CANCELLED ", L"Reference", reference);
  return PutField(reply, L"Count", ToDecimal(static_cast<int64_t>(count)));
}

std::wstring ComposeStatus(const DownloadRequest& r, RequestState state, int64_t position, const std::wstring& reason) {
  std::wstring reply = Named(L"STATUS ", r);
  reply = PutField(reply, L"State", StateName(state));
  reply = PutField(reply, L"Position", ToDecimal(position));
  reply = PutField(reply, L"BytesDone", ToDecimal(r.BytesDone));
  reply = PutField(reply, L"BytesTotal", ToDecimal(r.BytesTotal));
  if (state == RequestState::Failed) reply = PutField(reply, L"Reason", CarriableReason(reason));
  return reply;
}

std::wstring ComposeUnknownStatus(const std::wstring& reference) {
  return PutField(PutField(L"STATUS ", L"Reference", reference), L"State", L"unknown");
}

std::wstring ComposeProgress(const DownloadRequest& r) {
  std::wstring reply = Named(L"PROGRESS ", r);
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

std::wstring LinkedSuffix(const DownloadRequest& r) {
  if (r.LinkedSourceFileName.empty()) return std::wstring();
  if (StemPart(r.SourceFileName) != StemPart(r.LinkedSourceFileName))
    return L" + " + FileNamePart(r.LinkedSourceFileName);
  return L" + ." + ExtensionPart(r.LinkedSourceFileName);
}

// Long URLs keep their scheme, host and file name, so the box stays readable.
std::wstring PendingLine(const DownloadRequest& r) {
  std::wstring line = r.SourceFileName;
  if (line.size() >= 7 && UpperCase(line.substr(0, 7)) == L"HTTP://") {
    size_t slash = 0;
    const std::wstring host = TokenExtract(line, 8, L"/", slash);
    if (slash != 0) line = line.substr(0, 7) + host + L"/.../" + FileNamePart(r.SourceFileName);
  }
  line += LinkedSuffix(r);
  if (r.Type == L"FTPDELETE") line = L"Del:" + line;
  return MaskUrlPasswords(line);  // the window is as public as the log
}

std::wstring CurrentFileLabel(const DownloadRequest& r) {
  return MaskUrlPasswords(L" " + r.SourceFileName + LinkedSuffix(r));
}

}  // namespace velmora
