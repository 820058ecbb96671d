// The client library's Windows edge: the receiving window, the sends and the waits.
// The texts are composed and read by client_rules.
#include "skytrove/client.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/client_rules.h"
#include "support/ansi.h"
#include "support/handles.h"
#include "support/text.h"
#include "support/version.h"

namespace {
constexpr int kLibraryVersion[] = {VELMORA_VERSION_BINARY};
static_assert(kLibraryVersion[0] == SKYTROVE_CLIENT_VERSION_MAJOR && kLibraryVersion[1] == SKYTROVE_CLIENT_VERSION_MINOR &&
                  kLibraryVersion[2] == SKYTROVE_CLIENT_VERSION_PATCH &&
                  kLibraryVersion[3] == SKYTROVE_CLIENT_VERSION_BUILD,
              "include/skytrove/client.h carries another version than src/support/version.h");
}  // namespace

namespace {

constexpr wchar_t kWindowClass[] = L"SkytroveClientWindow";
constexpr UINT kSendTimeoutMs = 30000;
// Given-up requests remembered, so that their late replies are dropped; beyond this the
// oldest is forgotten (a request that failed without asking for a failure reply never
// gets one).
constexpr size_t kAbandonedLimit = 256;
constexpr char kWrongThread[] = "called from another thread than the client's";

using velmora::FromAnsi;
using velmora::ToAnsi;

std::wstring Wide(const char* text) { return text == nullptr ? std::wstring() : FromAnsi(text, std::strlen(text)); }

// The public view points into strings this object owns.
struct OwnedReply : SkytroveReply {
  explicit OwnedReply(const COPYDATASTRUCT& data, HWND from) : SkytroveReply{} {
    if (data.lpData != nullptr && data.cbData > 0) bytes.assign(static_cast<const char*>(data.lpData), data.cbData);
    // Read as the agent reads its own messages: code 3 ends at the first NUL.
    std::wstring wide = FromAnsi(bytes);
    if (data.dwData == 3) wide.resize(std::min(wide.size(), wide.find(L'\0')));
    parsed = skytrove::ParseReply(wide);
    status = SKYTROVE_OTHER;
    if (parsed) {
      switch (parsed->kind) {
        case skytrove::ReplyKind::Got: status = SKYTROVE_GOT; break;
        case skytrove::ReplyKind::Failed: status = SKYTROVE_FAILED; break;
        case skytrove::ReplyKind::Cancelled: status = SKYTROVE_CANCELLED; break;
        case skytrove::ReplyKind::Status: status = SKYTROVE_STATE; break;
        case skytrove::ReplyKind::Progress: status = SKYTROVE_PROGRESS; break;
      }
    }
    if (parsed) {
      const skytrove::ParsedReply& p = *parsed;
      const std::wstring* from_[kTexts] = {&p.type, &p.reference, &p.sourceFileName, &p.destinationFileName,
                                           &p.sourceFileLastWriteTime, &p.linkedSourceFileName,
                                           &p.linkedDestinationFileName, &p.linkedSourceFileLastWriteTime, &p.reason};
      for (size_t i = 0; i < kTexts; ++i) texts[i] = ToAnsi(*from_[i]);
      storyReference = p.storyReference;
      sourceFileSize = p.sourceFileSize;
      linked = p.linked ? 1 : 0;
      linkedSourceFileSize = p.linkedSourceFileSize;
      stateText = ToAnsi(p.state);
      position = p.position;
      bytesDone = p.bytesDone;
      bytesTotal = p.bytesTotal;
      count = p.count;
      unchanged = p.unchanged ? 1 : 0;
      linkedUnchanged = p.linkedUnchanged ? 1 : 0;
    }
    state = stateText.c_str();
    const char** to[kTexts] = {&type, &reference, &sourceFileName, &destinationFileName, &sourceFileLastWriteTime,
                               &linkedSourceFileName, &linkedDestinationFileName, &linkedSourceFileLastWriteTime,
                               &reason};
    for (size_t i = 0; i < kTexts; ++i) *to[i] = texts[i].c_str();
    text = bytes.c_str();
    length = bytes.size();
    code = data.dwData;
    sender = from;
  }
  static constexpr size_t kTexts = 9;
  uint64_t serial = 0;  // the how-manieth reply of its client
  std::string bytes;
  std::string texts[kTexts];
  std::string stateText;
  std::optional<skytrove::ParsedReply> parsed;
};

// Runs the thread's messages until `done` or the time is up; true when done.
template <typename Done>
bool PumpUntil(DWORD timeoutMs, Done done) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));  // the program's own loop must see it
        return done();
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
  }
}

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

// The integrity level of a process (the last part of its token's mandatory label);
// nothing when it cannot be read.
std::optional<DWORD> IntegrityLevel(HANDLE process) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &raw)) return std::nullopt;
  velmora::UniqueHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size);
  if (size < sizeof(TOKEN_MANDATORY_LABEL)) return std::nullopt;
  std::vector<BYTE> buffer(size);
  if (!GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.data(), size, &size)) return std::nullopt;
  const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.data())->Label.Sid;
  if (!IsValidSid(sid) || *GetSidSubAuthorityCount(sid) == 0) return std::nullopt;
  return *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1);
}

// Why the window's process may not be handed a request; empty when it may.
std::string TrustProblem(HWND window) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (processId == GetCurrentProcessId()) return std::string();
  velmora::UniqueHandle process(processId != 0 ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId)
                                               : nullptr);
  const std::optional<DWORD> theirs = process ? IntegrityLevel(process.get()) : std::nullopt;
  const std::optional<DWORD> ours = IntegrityLevel(GetCurrentProcess());
  if (!theirs || !ours) return "the integrity level of the window's process cannot be read";
  if (*theirs < *ours) return "the window's process runs at a lower integrity level than this program";
  return std::string();
}

// What a reply must carry to answer a request: the request's own three fields, as the
// agent reads them.
struct Identity {
  std::wstring reference, source, destination;
  explicit Identity(const std::wstring& request)
      : reference(velmora::GetField(request, L"Reference", L"=", L" ")),
        source(velmora::GetField(request, L"SourceFileName", L"=", L" ")),
        destination(velmora::GetField(request, L"DestinationFileName", L"=", L" ")) {}
  bool AnsweredBy(const OwnedReply& reply) const {
    return reply.parsed && skytrove::Answers(*reply.parsed, reference, source, destination);
  }
  bool operator==(const Identity& o) const {
    return reference == o.reference && source == o.source && destination == o.destination;
  }
};

}  // namespace

struct SkytroveClient {
  SkytroveClient() = default;
  SkytroveClient(const SkytroveClient&) = delete;
  SkytroveClient& operator=(const SkytroveClient&) = delete;

  bool Create();
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  void Receive(const COPYDATASTRUCT& data, HWND from);

  bool OnItsThread() const { return GetCurrentThreadId() == thread; }
  // The window may be handed requests; the answer is kept for the last window asked.
  bool Trusts(HWND agent);
  // A request sent again by the program is no longer given up.
  void Resumed(const Identity& request);

  const DWORD thread = GetCurrentThreadId();
  velmora::UniqueWindow window;
  std::deque<std::unique_ptr<OwnedReply>> queue;
  uint64_t received = 0;  // replies received so far
  const Identity* awaited = nullptr;  // what a SkytroveRequest is waiting for
  std::deque<Identity> abandoned;     // requests whose SkytroveRequest gave up
  SkytroveCallback callback = nullptr;
  void* context = nullptr;
  SkytroveCallback progressCallback = nullptr;
  void* progressContext = nullptr;
  std::string problem;
  HWND trusted = nullptr;
  DWORD trustedProcess = 0;
  std::vector<HWND> sentTo;  // every window this client handed a message to
  // Calls of the library on the stack (its waits run the program's window procedures and
  // the callbacks, which may close the client): the last one out carries out a close.
  int depth = 0;
  bool closing = false;

  // Whether a reply's wParam names an agent this client talks to: a window it sent to, or
  // the agent's own window after a restart (its requests outlive it), when trusted.
  bool FromAgent(HWND from);
};

namespace {

// Holds the client open while a library call runs; declared first in such a call, so
// that it ends last.
class InCall {
 public:
  explicit InCall(SkytroveClient& client) : client_(client) { ++client_.depth; }
  ~InCall() {
    if (--client_.depth == 0 && client_.closing) delete &client_;
  }
  InCall(const InCall&) = delete;
  InCall& operator=(const InCall&) = delete;

 private:
  SkytroveClient& client_;
};

bool IsAgentWindow(HWND window) {
  wchar_t name[64] = {};
  wchar_t title[64] = {};
  return GetClassNameW(window, name, 64) > 0 && std::wcscmp(name, L"frmVelmoraSkytrove") == 0 &&
         InternalGetWindowText(window, title, 64) > 0 && std::wcscmp(title, L"Velmora Skytrove v4") == 0;
}

}  // namespace

bool SkytroveClient::FromAgent(HWND from) {
  if (from == nullptr) return false;
  if (std::find(sentTo.begin(), sentTo.end(), from) != sentTo.end()) return true;
  if (!IsAgentWindow(from) || !TrustProblem(from).empty()) return false;
  sentTo.push_back(from);
  return true;
}

bool SkytroveClient::Trusts(HWND agent) {
  DWORD processId = 0;
  GetWindowThreadProcessId(agent, &processId);
  if (agent == trusted && processId == trustedProcess && processId != 0) return true;
  problem = TrustProblem(agent);
  if (!problem.empty()) return false;
  trusted = agent;
  trustedProcess = processId;
  return true;
}

void SkytroveClient::Resumed(const Identity& request) {
  abandoned.erase(std::remove(abandoned.begin(), abandoned.end(), request), abandoned.end());
}

bool SkytroveClient::Create() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &SkytroveClient::Proc;
  wc.hInstance = ThisModule();
  wc.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  // Message-only, but with a style: the agent takes a window whose style reads as 0 for
  // one that has gone, and drops its requests.
  window.reset(CreateWindowExW(0, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this));
  return static_cast<bool>(window);
}

void SkytroveClient::Receive(const COPYDATASTRUCT& data, HWND from) {
  if (closing || !FromAgent(from)) return;
  InCall inCall(*this);
  auto reply = std::make_unique<OwnedReply>(data, from);
  reply->serial = ++received;
  if (progressCallback != nullptr && reply->status == SKYTROVE_PROGRESS) {
    progressCallback(progressContext, reply.get());
    return;
  }
  if (callback != nullptr) {
    callback(context, reply.get());
    return;
  }
  // The late answer to a request given up: nobody will take it, so it does not pile up.
  if (awaited == nullptr || !awaited->AnsweredBy(*reply)) {
    for (auto it = abandoned.begin(); it != abandoned.end(); ++it) {
      if (it->AnsweredBy(*reply)) {
        abandoned.erase(it);
        return;
      }
    }
  }
  queue.push_back(std::move(reply));
}

LRESULT CALLBACK SkytroveClient::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  } else if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  }
  auto* self = reinterpret_cast<SkytroveClient*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self != nullptr && message == WM_COPYDATA && lParam != 0) {
    try {
      self->Receive(*reinterpret_cast<const COPYDATASTRUCT*>(lParam), reinterpret_cast<HWND>(wParam));
    } catch (...) {
      // Out of memory or a callback that threw: this reply is lost, the client goes on.
    }
    return TRUE;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

extern "C" {

const char* SKYTROVE_CALL SkytroveVersion(void) { return SKYTROVE_CLIENT_VERSION; }

SkytroveClient* SKYTROVE_CALL SkytroveOpen(void) {
  try {
    auto client = std::make_unique<SkytroveClient>();
    if (!client->Create()) return nullptr;
    return client.release();
  } catch (...) {
    return nullptr;
  }
}

void SKYTROVE_CALL SkytroveClose(SkytroveClient* client) {
  // Its window can only be destroyed on its own thread; a client closed elsewhere stays.
  if (client == nullptr || !client->OnItsThread()) return;
  // Closed from inside one of its own calls (a window procedure or a callback run by its
  // wait): that call still reads the client, so the last call out deletes it.
  if (client->depth > 0)
    client->closing = true;
  else
    delete client;
}

HWND SKYTROVE_CALL SkytroveWindow(const SkytroveClient* client) {
  return client == nullptr ? nullptr : client->window.get();
}

HWND SKYTROVE_CALL SkytroveFindAgent(DWORD waitMs) {
  const ULONGLONG end = GetTickCount64() + waitMs;
  for (;;) {
    // Any program can make a window with this class and title; one of lower integrity
    // must not hide the agent's.
    HWND first = nullptr;
    for (HWND w = FindWindowExW(nullptr, nullptr, L"frmVelmoraSkytrove", L"Velmora Skytrove v4"); w != nullptr;
         w = FindWindowExW(nullptr, w, L"frmVelmoraSkytrove", L"Velmora Skytrove v4")) {
      if (TrustProblem(w).empty()) return w;
      if (first == nullptr) first = w;
    }
    if (first != nullptr || GetTickCount64() >= end) return first;
    // Nothing announces the agent's window, so look again a little later.
    PumpUntil(static_cast<DWORD>(std::min<ULONGLONG>(100, end - GetTickCount64())), [] { return false; });
  }
}

}  // extern "C"

namespace {

// The send itself, once the request is known to be carried.
SkytroveStatus Deliver(SkytroveClient* client, HWND agent, const void* bytes, size_t length, ULONG_PTR code) {
  if (agent == nullptr || !IsWindow(agent) || length > ULONG_MAX) return SKYTROVE_NO_AGENT;
  if (!client->Trusts(agent)) return SKYTROVE_LOWER_INTEGRITY;
  // Before the send: its answer may come while the send waits.
  if (std::find(client->sentTo.begin(), client->sentTo.end(), agent) == client->sentTo.end())
    client->sentTo.push_back(agent);
  COPYDATASTRUCT cds{};
  cds.dwData = code;
  cds.cbData = static_cast<DWORD>(length);
  cds.lpData = const_cast<void*>(bytes);
  DWORD_PTR result = 0;
  // No abort-if-hung: the agent may be busy in a transfer for a while before it looks.
  if (!SendMessageTimeoutW(agent, WM_COPYDATA, reinterpret_cast<WPARAM>(client->window.get()),
                           reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, kSendTimeoutMs, &result))
    return SKYTROVE_NO_AGENT;
  return SKYTROVE_SENT;
}

// The request's text, or nothing (with the problem noted) when it cannot be carried.
std::optional<std::wstring> Compose(SkytroveClient* client, const SkytroveField* fields, size_t count,
                                    int replyOnFailure) {
  client->problem.clear();
  std::vector<skytrove::Field> wide;
  for (size_t i = 0; fields != nullptr && i < count; ++i) wide.push_back({Wide(fields[i].key), Wide(fields[i].value)});
  std::wstring problem;
  std::wstring text = skytrove::ComposeRequest(wide, replyOnFailure != 0, problem);
  if (text.empty()) {
    client->problem = ToAnsi(problem);
    return std::nullopt;
  }
  return text;
}

SkytroveStatus Take(std::unique_ptr<OwnedReply> owned, SkytroveReply** reply) {
  const SkytroveStatus status = owned->status;
  if (reply != nullptr) *reply = owned.release();
  return status;
}

// Marks what a SkytroveRequest waits for while it waits; one called from inside its wait
// (a window procedure of the program's) marks its own and gives the outer one back.
class Awaiting {
 public:
  Awaiting(SkytroveClient& client, const Identity& request) : client_(client), outer_(client.awaited) {
    client_.awaited = &request;
  }
  ~Awaiting() { client_.awaited = outer_; }
  Awaiting(const Awaiting&) = delete;
  Awaiting& operator=(const Awaiting&) = delete;

 private:
  SkytroveClient& client_;
  const Identity* outer_;
};

}  // namespace

extern "C" {

SkytroveStatus SKYTROVE_CALL SkytroveSendText(SkytroveClient* client, HWND agent, const void* bytes, size_t length,
                                              ULONG_PTR code) {
  if (client == nullptr) return SKYTROVE_NO_AGENT;
  if (!client->OnItsThread()) return SKYTROVE_WRONG_THREAD;
  if (client->closing) return SKYTROVE_CLOSED;
  InCall inCall(*client);
  try {
    client->problem.clear();
    const SkytroveStatus sent = Deliver(client, agent, bytes, length, code);
    if (client->closing) return SKYTROVE_CLOSED;
    if (sent == SKYTROVE_SENT && bytes != nullptr) {
      std::wstring text = FromAnsi(static_cast<const char*>(bytes), length);
      if (code == 3) text.resize(std::min(text.size(), text.find(L'\0')));
      client->Resumed(Identity(text));
    }
    return sent;
  } catch (...) {
    return SKYTROVE_NO_AGENT;
  }
}

const char* SKYTROVE_CALL SkytroveProblem(const SkytroveClient* client) {
  if (client == nullptr) return "";
  return client->OnItsThread() ? client->problem.c_str() : kWrongThread;
}

SkytroveStatus SKYTROVE_CALL SkytroveSend(SkytroveClient* client, HWND agent, const SkytroveField* fields,
                                          size_t count, int replyOnFailure) {
  if (client == nullptr) return SKYTROVE_NO_AGENT;
  if (!client->OnItsThread()) return SKYTROVE_WRONG_THREAD;
  if (client->closing) return SKYTROVE_CLOSED;
  try {
    const auto text = Compose(client, fields, count, replyOnFailure);
    if (!text) return SKYTROVE_BAD_REQUEST;
    const std::string bytes = ToAnsi(*text);
    return SkytroveSendText(client, agent, bytes.data(), bytes.size(), 4);
  } catch (...) {
    return SKYTROVE_NO_AGENT;
  }
}

size_t SKYTROVE_CALL SkytroveCompose(SkytroveClient* client, const SkytroveField* fields, size_t count,
                                     int replyOnFailure, char* out, size_t size) {
  if (client == nullptr || !client->OnItsThread()) return 0;
  try {
    const auto text = Compose(client, fields, count, replyOnFailure);
    if (!text) return 0;
    const std::string bytes = ToAnsi(*text);
    if (out != nullptr && bytes.size() < size) std::memcpy(out, bytes.c_str(), bytes.size() + 1);
    return bytes.size();
  } catch (...) {
    return 0;
  }
}

SkytroveStatus SKYTROVE_CALL SkytroveWait(SkytroveClient* client, DWORD timeoutMs, SkytroveReply** reply) {
  if (reply != nullptr) *reply = nullptr;
  if (client == nullptr) return SKYTROVE_TIMEOUT;
  if (!client->OnItsThread()) return SKYTROVE_WRONG_THREAD;
  if (client->callback != nullptr) return SKYTROVE_CALLBACK_SET;
  if (client->closing) return SKYTROVE_CLOSED;
  InCall inCall(*client);
  const bool arrived = PumpUntil(timeoutMs, [client] { return client->closing || !client->queue.empty(); });
  if (client->closing) return SKYTROVE_CLOSED;
  if (!arrived) return SKYTROVE_TIMEOUT;
  std::unique_ptr<OwnedReply> owned = std::move(client->queue.front());
  client->queue.pop_front();
  return Take(std::move(owned), reply);
}

SkytroveStatus SKYTROVE_CALL SkytroveRequest(SkytroveClient* client, HWND agent, const SkytroveField* fields,
                                             size_t count, int replyOnFailure, DWORD timeoutMs,
                                             SkytroveReply** reply) {
  if (reply != nullptr) *reply = nullptr;
  if (client == nullptr) return SKYTROVE_NO_AGENT;
  if (!client->OnItsThread()) return SKYTROVE_WRONG_THREAD;
  if (client->callback != nullptr) return SKYTROVE_CALLBACK_SET;
  if (client->closing) return SKYTROVE_CLOSED;
  InCall inCall(*client);
  try {
    const auto text = Compose(client, fields, count, replyOnFailure);
    if (!text) return SKYTROVE_BAD_REQUEST;
    const Identity request(*text);
    const std::string bytes = ToAnsi(*text);
    // Not SkytroveSendText: a request given up earlier stays given up, so that its late
    // reply, delivered while this send waits, is dropped rather than taken for this one.
    const SkytroveStatus sent = Deliver(client, agent, bytes.data(), bytes.size(), 4);
    if (client->closing) return SKYTROVE_CLOSED;
    if (sent != SKYTROVE_SENT) return sent;
    // Whatever arrived until now answers an earlier request.
    const uint64_t sentAfter = client->received;
    auto& queue = client->queue;
    auto answer = queue.end();
    bool answered = false;
    {
      Awaiting awaiting(*client, request);
      answered = PumpUntil(timeoutMs, [&] {
        if (client->closing) return true;
        for (answer = queue.begin(); answer != queue.end(); ++answer)
          if ((*answer)->serial > sentAfter && request.AnsweredBy(**answer)) return true;
        return false;
      });
    }
    if (client->closing) return SKYTROVE_CLOSED;
    if (!answered) {
      client->abandoned.push_back(request);
      if (client->abandoned.size() > kAbandonedLimit) client->abandoned.pop_front();
      return SKYTROVE_TIMEOUT;
    }
    std::unique_ptr<OwnedReply> owned = std::move(*answer);
    queue.erase(answer);
    return Take(std::move(owned), reply);
  } catch (...) {
    return SKYTROVE_TIMEOUT;
  }
}

void SKYTROVE_CALL SkytroveFreeReply(SkytroveReply* reply) { delete static_cast<OwnedReply*>(reply); }

void SKYTROVE_CALL SkytroveSetProgressCallback(SkytroveClient* client, SkytroveCallback callback, void* context) {
  if (client == nullptr || !client->OnItsThread()) return;
  client->progressCallback = callback;
  client->progressContext = context;
}

void SKYTROVE_CALL SkytroveSetCallback(SkytroveClient* client, SkytroveCallback callback, void* context) {
  if (client == nullptr || !client->OnItsThread()) return;
  client->callback = callback;
  client->context = context;
}

}  // extern "C"

namespace {

// Sends "CANCEL" or "STATUS" and waits for the first reply of `kind` with the reference
// that arrived after the send; it is taken from the queue.
SkytroveStatus AskControl(SkytroveClient* client, HWND agent, const wchar_t* command, const char* reference,
                          SkytroveStatus kind, DWORD timeoutMs, std::unique_ptr<OwnedReply>& answer) {
  if (client == nullptr) return SKYTROVE_NO_AGENT;
  if (!client->OnItsThread()) return SKYTROVE_WRONG_THREAD;
  if (client->callback != nullptr) return SKYTROVE_CALLBACK_SET;
  if (client->closing) return SKYTROVE_CLOSED;
  InCall inCall(*client);
  client->problem.clear();
  std::wstring problem;
  const std::wstring wanted = Wide(reference);
  const std::wstring text = skytrove::ComposeControl(command, wanted, problem);
  if (text.empty()) {
    client->problem = ToAnsi(problem);
    return SKYTROVE_BAD_REQUEST;
  }
  const std::string bytes = ToAnsi(text);
  const uint64_t sentAfter = client->received;
  const SkytroveStatus sent = Deliver(client, agent, bytes.data(), bytes.size(), 4);
  if (client->closing) return SKYTROVE_CLOSED;
  if (sent != SKYTROVE_SENT) return sent;
  auto& queue = client->queue;
  auto found = queue.end();
  const bool answered = PumpUntil(timeoutMs, [&] {
    if (client->closing) return true;
    for (found = queue.begin(); found != queue.end(); ++found)
      if ((*found)->serial > sentAfter && (*found)->status == kind && (*found)->parsed->reference == wanted) return true;
    return false;
  });
  if (client->closing) return SKYTROVE_CLOSED;
  if (!answered) return SKYTROVE_TIMEOUT;
  answer = std::move(*found);
  queue.erase(found);
  return kind;
}

}  // namespace

extern "C" {

SkytroveStatus SKYTROVE_CALL SkytroveCancel(SkytroveClient* client, HWND agent, const char* reference,
                                            DWORD timeoutMs, long long* count) {
  if (count != nullptr) *count = 0;
  try {
    std::unique_ptr<OwnedReply> answer;
    const SkytroveStatus status = AskControl(client, agent, L"CANCEL", reference, SKYTROVE_CANCELLED, timeoutMs, answer);
    if (answer && count != nullptr) *count = answer->count;
    return status;
  } catch (...) {
    return SKYTROVE_TIMEOUT;
  }
}

SkytroveStatus SKYTROVE_CALL SkytroveQueryStatus(SkytroveClient* client, HWND agent, const char* reference,
                                                 DWORD timeoutMs, SkytroveReply** replies, size_t max,
                                                 size_t* count) {
  if (count != nullptr) *count = 0;
  if (client == nullptr) return SKYTROVE_NO_AGENT;
  if (!client->OnItsThread()) return SKYTROVE_WRONG_THREAD;
  if (client->closing) return SKYTROVE_CLOSED;
  InCall inCall(*client);
  try {
    std::unique_ptr<OwnedReply> first;
    const SkytroveStatus status = AskControl(client, agent, L"STATUS", reference, SKYTROVE_STATE, timeoutMs, first);
    if (status != SKYTROVE_STATE) return status;
    std::vector<std::unique_ptr<OwnedReply>> got;
    const uint64_t after = first->serial;
    const std::wstring wanted = first->parsed->reference;
    got.push_back(std::move(first));
    // The rest come back to back; a quiet 200 ms ends them.
    for (;;) {
      auto& queue = client->queue;
      auto found = queue.end();
      const bool more = PumpUntil(200, [&] {
        if (client->closing) return true;
        for (found = queue.begin(); found != queue.end(); ++found)
          if ((*found)->serial > after && (*found)->status == SKYTROVE_STATE && (*found)->parsed->reference == wanted)
            return true;
        return false;
      });
      if (client->closing) return SKYTROVE_CLOSED;
      if (!more) break;
      got.push_back(std::move(*found));
      queue.erase(found);
    }
    size_t n = 0;
    for (auto& r : got) {
      if (replies != nullptr && n < max) replies[n++] = r.release();
    }
    if (count != nullptr) *count = n;
    return SKYTROVE_STATE;
  } catch (...) {
    return SKYTROVE_TIMEOUT;
  }
}

}  // extern "C"
