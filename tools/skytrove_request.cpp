// skytrove-request: sends one request to the running agent and waits for its reply.
//
//   skytrove-request [--timeout S] [--code 3|4] [--wait-agent S] Key=Value...
//   skytrove-request [--timeout S] --raw "GET Type=HTTP ..."
//
// Exit status: 0 a "GOT" reply arrived (its fields are printed), 1 no reply in time,
// 2 usage error or no agent window.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string g_reply;
bool g_replied = false;

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (cds->lpData != nullptr) g_reply.assign(static_cast<const char*>(cds->lpData), cds->cbData);
    g_replied = true;
    return TRUE;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

// The value's own quotes keep a space inside it; the agent's grammar has no escape.
std::string Field(const std::string& arg) {
  const size_t eq = arg.find('=');
  if (eq == std::string::npos) return arg;
  const std::string value = arg.substr(eq + 1);
  if (value.find(' ') != std::string::npos) return arg.substr(0, eq + 1) + "\"" + value + "\"";
  return arg;
}

void PrintFields(const std::string& reply) {
  std::printf("%s\n", reply.c_str());
  size_t pos = reply.find(' ');
  while (pos != std::string::npos && pos < reply.size()) {
    size_t start = pos + 1;
    size_t eq = reply.find('=', start);
    if (eq == std::string::npos) break;
    size_t end;
    std::string value;
    if (eq + 1 < reply.size() && reply[eq + 1] == '"') {
      end = reply.find('"', eq + 2);
      value = reply.substr(eq + 2, end == std::string::npos ? std::string::npos : end - eq - 2);
      end = end == std::string::npos ? std::string::npos : end + 1;
    } else {
      end = reply.find(' ', eq + 1);
      value = reply.substr(eq + 1, end == std::string::npos ? std::string::npos : end - eq - 1);
    }
    std::printf("  %s = %s\n", reply.substr(start, eq - start).c_str(), value.c_str());
    pos = end;
  }
}

int Usage() {
  std::fprintf(stderr,
               "usage: skytrove-request [--timeout S] [--code 3|4] [--wait-agent S] Key=Value...\n"
               "       skytrove-request [--timeout S] --raw \"GET Type=HTTP ...\"\n"
               "example: skytrove-request Type=HTTP Reference=R1 SourceFileName=http://127.0.0.1:8080/a.txt "
               "DestinationFileName=C:\\a.txt\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  double timeout = 60;
  double waitAgent = 0;
  unsigned long code = 4;
  std::string text;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--timeout" && i + 1 < argc) {
      timeout = std::atof(argv[++i]);
    } else if (a == "--wait-agent" && i + 1 < argc) {
      waitAgent = std::atof(argv[++i]);
    } else if (a == "--code" && i + 1 < argc) {
      code = std::strtoul(argv[++i], nullptr, 10);
    } else if (a == "--raw" && i + 1 < argc) {
      text = argv[++i];
    } else if (a.rfind("--", 0) == 0) {
      return Usage();
    } else {
      text += text.empty() ? "GET " + Field(a) : " " + Field(a);
    }
  }
  if (text.empty()) return Usage();

  HWND agent = nullptr;
  const DWORD waitEnd = GetTickCount() + static_cast<DWORD>(waitAgent * 1000);
  for (;;) {
    agent = FindWindowA("frmVelmoraSkytrove", "Velmora Skytrove v4");
    if (agent != nullptr || static_cast<int>(waitEnd - GetTickCount()) <= 0) break;
    Sleep(100);
  }
  if (agent == nullptr) {
    std::fprintf(stderr, "skytrove-request: the agent is not running (no window \"Velmora Skytrove v4\")\n");
    return 2;
  }

  WNDCLASSA wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "SkytroveRequester";
  RegisterClassA(&wc);
  HWND self = CreateWindowExA(0, "SkytroveRequester", "skytrove-request", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                              wc.hInstance, nullptr);
  COPYDATASTRUCT cds{code, static_cast<DWORD>(text.size()), text.data()};
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(agent, WM_COPYDATA, reinterpret_cast<WPARAM>(self), reinterpret_cast<LPARAM>(&cds),
                           SMTO_NORMAL, 10000, &result)) {
    std::fprintf(stderr, "skytrove-request: the agent did not take the request\n");
    return 2;
  }
  std::fprintf(stderr, "sent: %s\n", text.c_str());

  const DWORD end = GetTickCount() + static_cast<DWORD>(timeout * 1000);
  while (!g_replied) {
    const int left = static_cast<int>(end - GetTickCount());
    if (left <= 0) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  if (!g_replied) {
    std::fprintf(stderr, "skytrove-request: no reply within %.0f s (the request failed or was refused)\n", timeout);
    return 1;
  }
  PrintFields(g_reply);
  return g_reply.rfind("GOT", 0) == 0 ? 0 : 1;
}
