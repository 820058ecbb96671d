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

namespace {

constexpr wchar_t kWindowClass[] = L"SkytroveClientWindow";
constexpr UINT kSendTimeoutMs = 30000;

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
    status = !parsed ? SKYTROVE_OTHER : parsed->kind == skytrove::ReplyKind::Got ? SKYTROVE_GOT : SKYTROVE_FAILED;
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
    }
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
  std::string bytes;
  std::string texts[kTexts];
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

}  // namespace

struct SkytroveClient {
  SkytroveClient() = default;
  SkytroveClient(const SkytroveClient&) = delete;
  SkytroveClient& operator=(const SkytroveClient&) = delete;

  bool Create();
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  void Receive(const COPYDATASTRUCT& data, HWND from);

  velmora::UniqueWindow window;
  std::deque<std::unique_ptr<OwnedReply>> queue;
  SkytroveCallback callback = nullptr;
  void* context = nullptr;
  std::string problem;
};

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
  auto reply = std::make_unique<OwnedReply>(data, from);
  if (callback != nullptr) {
    callback(context, reply.get());
    return;
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

SkytroveClient* SkytroveOpen(void) {
  try {
    auto client = std::make_unique<SkytroveClient>();
    if (!client->Create()) return nullptr;
    return client.release();
  } catch (...) {
    return nullptr;
  }
}

void SkytroveClose(SkytroveClient* client) { delete client; }

HWND SkytroveWindow(const SkytroveClient* client) { return client == nullptr ? nullptr : client->window.get(); }

HWND SkytroveFindAgent(DWORD waitMs) {
  HWND agent = nullptr;
  const ULONGLONG end = GetTickCount64() + waitMs;
  for (;;) {
    agent = FindWindowW(L"frmVelmoraSkytrove", L"Velmora Skytrove v4");
    if (agent != nullptr || GetTickCount64() >= end) return agent;
    // Nothing announces the agent's window, so look again a little later.
    PumpUntil(static_cast<DWORD>(std::min<ULONGLONG>(100, end - GetTickCount64())), [] { return false; });
  }
}

SkytroveStatus SkytroveSendText(SkytroveClient* client, HWND agent, const void* bytes, size_t length,
                                ULONG_PTR code) {
  if (client == nullptr || agent == nullptr || !IsWindow(agent) || length > ULONG_MAX) return SKYTROVE_NO_AGENT;
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

const char* SkytroveProblem(const SkytroveClient* client) { return client == nullptr ? "" : client->problem.c_str(); }

}  // extern "C"

namespace {

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

}  // namespace

extern "C" {

SkytroveStatus SkytroveSend(SkytroveClient* client, HWND agent, const SkytroveField* fields, size_t count,
                            int replyOnFailure) {
  if (client == nullptr) return SKYTROVE_NO_AGENT;
  try {
    const auto text = Compose(client, fields, count, replyOnFailure);
    if (!text) return SKYTROVE_BAD_REQUEST;
    const std::string bytes = ToAnsi(*text);
    return SkytroveSendText(client, agent, bytes.data(), bytes.size(), 4);
  } catch (...) {
    return SKYTROVE_NO_AGENT;
  }
}

size_t SkytroveCompose(SkytroveClient* client, const SkytroveField* fields, size_t count, int replyOnFailure,
                       char* out, size_t size) {
  if (client == nullptr) return 0;
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

SkytroveStatus SkytroveWait(SkytroveClient* client, DWORD timeoutMs, SkytroveReply** reply) {
  if (reply != nullptr) *reply = nullptr;
  if (client == nullptr) return SKYTROVE_TIMEOUT;
  if (!PumpUntil(timeoutMs, [client] { return !client->queue.empty(); })) return SKYTROVE_TIMEOUT;
  std::unique_ptr<OwnedReply> owned = std::move(client->queue.front());
  client->queue.pop_front();
  return Take(std::move(owned), reply);
}

SkytroveStatus SkytroveRequest(SkytroveClient* client, HWND agent, const SkytroveField* fields, size_t count,
                               int replyOnFailure, DWORD timeoutMs, SkytroveReply** reply) {
  if (reply != nullptr) *reply = nullptr;
  if (client == nullptr) return SKYTROVE_NO_AGENT;
  try {
    const auto text = Compose(client, fields, count, replyOnFailure);
    if (!text) return SKYTROVE_BAD_REQUEST;
    const std::wstring source = velmora::GetField(*text, L"SourceFileName", L"=", L" ");
    const std::wstring destination = velmora::GetField(*text, L"DestinationFileName", L"=", L" ");
    const std::string bytes = ToAnsi(*text);
    const SkytroveStatus sent = SkytroveSendText(client, agent, bytes.data(), bytes.size(), 4);
    if (sent != SKYTROVE_SENT) return sent;
    auto& queue = client->queue;
    auto answer = queue.end();
    const bool answered = PumpUntil(timeoutMs, [&] {
      for (answer = queue.begin(); answer != queue.end(); ++answer)
        if ((*answer)->parsed && skytrove::Answers(*(*answer)->parsed, source, destination)) return true;
      return false;
    });
    if (!answered) return SKYTROVE_TIMEOUT;
    std::unique_ptr<OwnedReply> owned = std::move(*answer);
    queue.erase(answer);
    return Take(std::move(owned), reply);
  } catch (...) {
    return SKYTROVE_TIMEOUT;
  }
}

void SkytroveFreeReply(SkytroveReply* reply) { delete static_cast<OwnedReply*>(reply); }

void SkytroveSetCallback(SkytroveClient* client, SkytroveCallback callback, void* context) {
  if (client == nullptr) return;
  client->callback = callback;
  client->context = context;
}

}  // extern "C"
