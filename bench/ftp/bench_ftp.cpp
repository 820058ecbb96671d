// Timings for the FTP benchmark (bench/ftp/run.sh):
//   bench_ftp bare HOST USER PASSWORD REMOTE LOCAL [passive 0|1]
//       one login and one FtpGetFileA, nothing else: the floor the agent is held to
//   bench_ftp request "GET Type=FTP ..." [timeout s]
//       the request sent to the running agent, the time until its "GOT" reply
// Each prints "<name>_seconds <value>".
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/handles.h"

namespace {

double Seconds(const LARGE_INTEGER& from) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int Bare(int argc, char** argv) {
  if (argc < 7) return 2;
  const bool passive = argc < 8 || std::atoi(argv[7]) != 0;
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  velmora::UniqueInternet internet(InternetOpenA("bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  velmora::UniqueInternet connection(InternetConnectA(internet.get(), argv[2], 21, argv[3], argv[4],
                                                      INTERNET_SERVICE_FTP, passive ? INTERNET_FLAG_PASSIVE : 0, 0));
  if (!connection) {
    std::fprintf(stderr, "connect failed: %lu\n", GetLastError());
    return 1;
  }
  if (!FtpGetFileA(connection.get(), argv[5], argv[6], FALSE, 0,
                   FTP_TRANSFER_TYPE_BINARY | INTERNET_FLAG_NEED_FILE, 0)) {
    std::fprintf(stderr, "FtpGetFileA failed: %lu\n", GetLastError());
    return 1;
  }
  connection.reset();
  internet.reset();
  std::printf("bare_seconds %.3f\n", Seconds(start));
  return 0;
}

bool g_replied = false;

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    g_replied = true;
    return TRUE;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

int Request(int argc, char** argv) {
  if (argc < 3) return 2;
  const double timeout = argc > 3 ? std::atof(argv[3]) : 600;
  HWND agent = FindWindowA("frmVelmoraSkytrove", "Velmora Skytrove v4");
  if (agent == nullptr) {
    std::fprintf(stderr, "no agent window\n");
    return 2;
  }
  WNDCLASSA wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "BenchFtpRequester";
  RegisterClassA(&wc);
  HWND self = CreateWindowExA(0, wc.lpszClassName, "bench", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance,
                              nullptr);
  const std::string text = argv[2];
  COPYDATASTRUCT cds{4, static_cast<DWORD>(text.size()), const_cast<char*>(text.data())};
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  SendMessageA(agent, WM_COPYDATA, reinterpret_cast<WPARAM>(self), reinterpret_cast<LPARAM>(&cds));
  while (!g_replied && Seconds(start) < timeout) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
  if (!g_replied) {
    std::fprintf(stderr, "no reply\n");
    return 1;
  }
  std::printf("request_seconds %.3f\n", Seconds(start));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "bare") return Bare(argc, argv);
  if (mode == "request") return Request(argc, argv);
  std::fprintf(stderr, "usage: bench_ftp bare HOST USER PASSWORD REMOTE LOCAL [passive] | request TEXT [timeout]\n");
  return 2;
}
