// Measurements of the agent from outside, printed as plain "name value" lines for the
// scripts beside this file, which run the baselines and print the ratios.
//
//   bench_agent floor URL              the bare read loop (10240-byte reads, 1 ms pauses)
//   bench_agent floor-offthread URL    the same with each read on the network worker
//   bench_agent floor-fast URL         the platform's own limit: 65536-byte reads, no pauses
//   bench_agent floor-files FILE STEPS each "URL DEST" line of FILE in turn, as floor-fast,
//                                      then written: STEPS "write" (a plain file), "flush"
//                                      (flushed, then renamed into place write-through)
//   bench_agent request URL DEST       send one request, time until its reply
//   bench_agent many N URLBASE DIR     N requests at once, time until the last reply
//   bench_agent burst N                N distinct requests, time of each half of the sends
//   bench_agent control N SLOW SMALL DIR  N queued; STATUS of the last, then CANCEL of a
//                                      running SLOW download: reply time, time until the
//                                      next (SMALL) starts, the old destination kept
//   bench_agent memory URL DEST        the agent's working set during one request
//   bench_agent pause                  cost of Pause(0.001) and Pause(0.5)
//   bench_agent startup EXE            process start until start-up has finished
//   bench_agent handoff N              cost of one empty call through the network worker
//   bench_agent respond TEXT|- S       round trips of WM_NULL sent every 100 ms from a second
//                                      thread while one request (TEXT, "-" for none) runs,
//                                      until its reply or S seconds
//   bench_agent frozen N SLOW SMALL DIR  a second requester window queues N requests (SLOW?i),
//                                      cancels them and stops reading its messages; the first
//                                      one's STATUS round trip and GET of SMALL, until its GOT
//   bench_agent list FILE KEYS         one request per "URL DEST" line of FILE, all at once, each
//                                      with KEYS ("-" for none) after the destination; time until
//                                      the last reply, and how many were GOT and " Unchanged=1"
//   bench_agent chain FILE KEYS        the same, each request sent once the one before has its
//                                      reply (a queue of one: no pending list to show)
//   bench_agent identity FILE          each DEST of FILE's lines: volume serial, file index,
//                                      last-write time and size ("missing" when it is not there)
//   bench_agent seed-records N         the per-user change records made anew holding N
//                                      destinations of realistic lengths, with the agent's code
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <functional>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/change_store.h"
#include "app/journal_files.h"
#include "support/byte_codec.h"
#include "support/components.h"
#include "support/offthread.h"
#include "transfer/change_rules.h"

namespace {

double Now() {
  static LARGE_INTEGER f = [] { LARGE_INTEGER x; QueryPerformanceFrequency(&x); return x; }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

int g_replies = 0;
std::vector<std::string> g_texts;
LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_COPYDATA) {
    ++g_replies;
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(l);
    g_texts.emplace_back(static_cast<const char*>(cds->lpData), cds->cbData);
    return TRUE;
  }
  return DefWindowProcA(h, m, w, l);
}

HWND Requester() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "BenchRequester";
  RegisterClassA(&wc);
  return CreateWindowExA(0, "BenchRequester", "bench", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance, nullptr);
}

HWND Agent() {
  for (int i = 0; i < 200; ++i) {
    HWND a = FindWindowA("frmVelmoraSkytrove", "Velmora Skytrove v4");
    if (a) return a;
    Sleep(50);
  }
  std::fprintf(stderr, "no agent window\n");
  std::exit(2);
}

void Send(HWND agent, HWND self, const std::string& text) {
  COPYDATASTRUCT cds{4, static_cast<DWORD>(text.size()), const_cast<char*>(text.data())};
  DWORD_PTR r = 0;
  SendMessageTimeoutA(agent, WM_COPYDATA, reinterpret_cast<WPARAM>(self), reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL,
                      30000, &r);
}

bool WaitReplies(int n, double seconds, const std::function<void()>& tick = nullptr) {
  const double end = Now() + seconds;
  while (g_replies < n && Now() < end) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    if (tick) tick();
  }
  return g_replies >= n;
}

std::string Request(const std::string& url, const std::string& dest) {
  return "GET Type=HTTP Reference=bench SourceFileName=" + url + " DestinationFileName=" + dest;
}

int Floor(const char* url, DWORD piece, bool pause) {
  HINTERNET session = InternetOpenA("VelmoraSkytrove4", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                    INTERNET_FLAG_NO_CACHE_WRITE);
  std::vector<char> buffer(piece);
  const double start = Now();
  HINTERNET h = InternetOpenUrlA(session, url, nullptr, 0, INTERNET_FLAG_PASSIVE | INTERNET_FLAG_NO_CACHE_WRITE, 0);
  if (!h) return 1;
  unsigned long long total = 0;
  DWORD got = 0;
  do {
    got = 0;
    InternetReadFile(h, buffer.data(), piece, &got);
    total += got;
    if (pause) velmora::timing::Pause(0.001);
  } while (got > 0);
  const double seconds = Now() - start;
  InternetCloseHandle(h);
  InternetCloseHandle(session);
  std::printf("floor_seconds %.3f\nfloor_bytes %llu\n", seconds, total);
  return 0;
}

// The bare loop with each read on the network worker, overlapping the pause as the agent's does.
int FloorOffThread(const char* url) {
  HINTERNET session = InternetOpenA("VelmoraSkytrove4", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                    INTERNET_FLAG_NO_CACHE_WRITE);
  auto chunk = std::make_shared<std::vector<char>>(10240);
  const double start = Now();
  HINTERNET h = InternetOpenUrlA(session, url, nullptr, 0, INTERNET_FLAG_PASSIVE | INTERNET_FLAG_NO_CACHE_WRITE, 0);
  if (!h) return 1;
  unsigned long long total = 0;
  auto read = [h, chunk] {
    DWORD got = 0;
    InternetReadFile(h, chunk->data(), 10240, &got);
    return got;
  };
  auto pending = velmora::offthread::Begin(read);
  for (;;) {
    const DWORD got = pending.Wait().value;
    total += got;
    if (got > 0) pending = velmora::offthread::Begin(read);
    velmora::timing::Pause(0.001);
    if (got == 0) break;
  }
  const double seconds = Now() - start;
  InternetCloseHandle(h);
  InternetCloseHandle(session);
  std::printf("floor_seconds %.3f\nfloor_bytes %llu\n", seconds, total);
  return 0;
}

int One(const char* url, const char* dest) {
  HWND self = Requester();
  HWND agent = Agent();
  const double start = Now();
  Send(agent, self, Request(url, dest));
  if (!WaitReplies(1, 3600)) return 1;
  std::printf("request_seconds %.3f\n", Now() - start);
  return 0;
}

int Many(int n, const char* base, const char* dir) {
  HWND self = Requester();
  HWND agent = Agent();
  const double start = Now();
  for (int i = 0; i < n; ++i)
    Send(agent, self, Request(std::string(base) + "?" + std::to_string(i), std::string(dir) + "\\m" + std::to_string(i)));
  if (!WaitReplies(n, 600)) return 1;
  std::printf("many_seconds %.3f\nmany_count %d\n", Now() - start, n);
  return 0;
}

int Burst(int n) {
  HWND self = Requester();
  HWND agent = Agent();
  double halves[2] = {0, 0};
  for (int half = 0; half < 2; ++half) {
    const double start = Now();
    for (int i = half * n / 2; i < (half + 1) * n / 2; ++i)
      Send(agent, self, "GET Type=HTTP SourceFileName=http://127.0.0.1:9/burst/" + std::to_string(i) +
                            " DestinationFileName=Z:\\nonexistent\\b" + std::to_string(i));
    halves[half] = Now() - start;
  }
  std::printf("burst_first_half_seconds %.3f\nburst_second_half_seconds %.3f\n", halves[0], halves[1]);
  return 0;
}

// Waits for a reply that starts with `prefix` among those after `from`; its arrival time.
double WaitText(size_t from, const std::string& prefix, double seconds) {
  const double end = Now() + seconds;
  for (;;) {
    for (size_t i = from; i < g_texts.size(); ++i)
      if (g_texts[i].compare(0, prefix.size(), prefix) == 0) return Now();
    if (Now() > end) return -1;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
}

int Control(int n, const char* slow, const char* small, const char* dir) {
  HWND self = Requester();
  HWND agent = Agent();
  const std::string dest = std::string(dir) + "\\control-old.bin";
  HANDLE f = CreateFileA(dest.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(f, "old", 3, &written, nullptr);
  CloseHandle(f);
  for (int i = 0; i < n; ++i)
    Send(agent, self, "GET Type=HTTP Reference=q" + std::to_string(i) + " SourceFileName=http://127.0.0.1:9/c/" +
                          std::to_string(i) + " DestinationFileName=Z:\\nonexistent\\c" + std::to_string(i));
  size_t mark = g_texts.size();
  Send(agent, self, "GET Type=HTTP Reference=run Priority=High Progress=1 SourceFileName=" + std::string(slow) +
                        " DestinationFileName=" + dest);
  if (WaitText(mark, "PROGRESS Type=HTTP Reference=run", 60) < 0) return 1;
  mark = g_texts.size();
  double start = Now();
  Send(agent, self, "STATUS Reference=q" + std::to_string(n - 1));
  const double status = WaitText(mark, "STATUS ", 30) - start;
  Send(agent, self, "GET Type=HTTP Reference=next Priority=High Progress=1 SourceFileName=" + std::string(small) +
                        " DestinationFileName=" + std::string(dir) + "\\control-next.bin");
  mark = g_texts.size();
  start = Now();
  Send(agent, self, "CANCEL Reference=run");
  const double cancelled = WaitText(mark, "CANCELLED Reference=run Count=1", 30) - start;
  const double next = WaitText(mark, "PROGRESS Type=HTTP Reference=next", 30) - start;
  char old[8] = {};
  f = CreateFileA(dest.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD got = 0;
  ReadFile(f, old, 7, &got, nullptr);
  CloseHandle(f);
  std::printf("control_status_seconds %.3f\ncontrol_cancel_reply_seconds %.3f\ncontrol_next_start_seconds %.3f\n"
              "control_old_destination_intact %d\n",
              status, cancelled, next, std::string(old) == "old" ? 1 : 0);
  return 0;
}

int Memory(const char* url, const char* dest) {
  DWORD pid = 0;
  GetWindowThreadProcessId(Agent(), &pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  auto ws = [&] {
    PROCESS_MEMORY_COUNTERS c{};
    c.cb = sizeof c;
    GetProcessMemoryInfo(process, &c, sizeof c);
    return static_cast<double>(c.WorkingSetSize) / (1024 * 1024);
  };
  HWND self = Requester();
  HWND agent = Agent();
  const double startWs = ws();
  double peak = startWs;
  const double start = Now();
  Send(agent, self, Request(url, dest));
  if (!WaitReplies(1, 3600, [&] { peak = std::max(peak, ws()); })) return 1;
  const double seconds = Now() - start;
  std::printf("memory_start_mib %.1f\nmemory_peak_mib %.1f\nmemory_end_mib %.1f\nmemory_request_seconds %.3f\n", startWs,
              peak, ws(), seconds);
  return 0;
}

int PauseCost() {
  for (double asked : {0.001, 0.5}) {
    const int runs = asked < 0.01 ? 2000 : 10;
    double sum = 0, worst = 0;
    for (int i = 0; i < runs; ++i) {
      const double a = Now();
      velmora::timing::Pause(asked);
      const double d = Now() - a;
      sum += d;
      worst = std::max(worst, d);
    }
    std::printf("pause_%g_mean_ms %.3f\npause_%g_worst_ms %.3f\n", asked, 1000 * sum / runs, asked, 1000 * worst);
  }
  return 0;
}

int Startup(const char* exe) {
  std::string command = std::string("\"") + exe + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const double start = Now();
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 1;
  HWND agent = nullptr;
  while (!(agent = FindWindowA("frmVelmoraSkytrove", "Velmora Skytrove v4"))) Sleep(1);
  DWORD_PTR r = 0;
  SendMessageTimeoutA(agent, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &r);  // handled once start-up has finished
  std::printf("startup_seconds %.3f\n", Now() - start);
  PostMessageA(agent, WM_CLOSE, 0, 0);
  WaitForSingleObject(pi.hProcess, 10000);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return 0;
}

int Handoff(int n) {
  const double start = Now();
  for (int i = 0; i < n; ++i) velmora::offthread::Call([] { return 1; });
  const double call = (Now() - start) / n;
  const double overlapped = [&] {
    const double s = Now();
    for (int i = 0; i < n; ++i) {
      auto pending = velmora::offthread::Begin([] { return 1; });
      velmora::timing::Pause(0.001);
      pending.Wait();
    }
    return (Now() - s) / n;
  }();
  const double pause = [&] {
    const double s = Now();
    for (int i = 0; i < n; ++i) velmora::timing::Pause(0.001);
    return (Now() - s) / n;
  }();
  std::printf("handoff_call_us %.1f\nhandoff_with_pause_us %.1f\npause_alone_us %.1f\n", 1e6 * call, 1e6 * overlapped,
              1e6 * pause);
  return 0;
}

int Respond(const std::string& text, double seconds) {
  HWND self = Requester();
  HWND agent = Agent();
  std::vector<double> trips;
  std::atomic<bool> stop{false};
  std::thread prober([&] {
    while (!stop) {
      const double a = Now();
      DWORD_PTR r = 0;
      if (!SendMessageTimeoutA(agent, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &r)) {
        trips.push_back(5000);
      } else {
        trips.push_back(1000 * (Now() - a));
      }
      const double next = a + 0.1;
      while (!stop && Now() < next) Sleep(1);
    }
  });
  if (text != "-") Send(agent, self, text);
  const bool replied = WaitReplies(1, seconds);
  stop = true;
  prober.join();
  std::sort(trips.begin(), trips.end());
  auto at = [&](double q) { return trips.empty() ? 0.0 : trips[std::min(trips.size() - 1, size_t(q * trips.size()))]; };
  std::printf("respond_count %zu\nrespond_p50_ms %.2f\nrespond_p99_ms %.2f\nrespond_max_ms %.2f\nrespond_replied %d\n",
              trips.size(), at(0.5), at(0.99), trips.empty() ? 0.0 : trips.back(), replied ? 1 : 0);
  return 0;
}

int Frozen(int n, const char* slow, const char* small, const char* dir) {
  HWND self = Requester();
  HWND agent = Agent();
  HANDLE frozen = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thaw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread other([&] {
    HWND mine = CreateWindowExA(0, "BenchRequester", "frozen", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    for (int i = 0; i < n; ++i)
      Send(agent, mine, "GET Type=HTTP Reference=frozen ReplyOnFailure=1 SourceFileName=" + std::string(slow) + "?" +
                            std::to_string(i) + " DestinationFileName=" + std::string(dir) + "\\f" + std::to_string(i));
    Send(agent, mine, "CANCEL Reference=frozen");
    SetEvent(frozen);
    WaitForSingleObject(thaw, 120000);  // reads no message meanwhile
    DestroyWindow(mine);
  });
  WaitForSingleObject(frozen, 60000);
  size_t mark = g_texts.size();
  double start = Now();
  Send(agent, self, "STATUS Reference=nobody");
  const double statusAt = WaitText(mark, "STATUS ", 60);
  const double status = statusAt < 0 ? -1 : statusAt - start;  // -1: none within the limit
  mark = g_texts.size();
  start = Now();
  Send(agent, self, "GET Type=HTTP Reference=other SourceFileName=" + std::string(small) + " DestinationFileName=" +
                        std::string(dir) + "\\other.bin");
  const double gotAt = WaitText(mark, "GOT ", 300);
  const double got = gotAt < 0 ? -1 : gotAt - start;
  SetEvent(thaw);
  other.join();
  std::printf("frozen_status_seconds %.3f\nfrozen_other_got_seconds %.3f\n", status, got);
  return 0;
}

struct Line {
  std::string url, dest;
};

std::vector<Line> ReadList(const char* path) {
  std::vector<Line> lines;
  std::ifstream in(path);
  std::string text;
  while (std::getline(in, text)) {
    std::istringstream words(text);
    Line line;
    if (words >> line.url >> line.dest) lines.push_back(line);
  }
  return lines;
}

// What the platform itself costs per file, without any agent: the ladder of what placing a
// file safely adds, step by step.
int FloorFiles(const char* path, const std::string& steps) {
  const std::vector<Line> lines = ReadList(path);
  if (lines.empty()) return 1;
  HINTERNET session = InternetOpenA("VelmoraSkytrove4", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                    INTERNET_FLAG_NO_CACHE_WRITE);
  std::vector<char> buffer(65536);
  const bool flush = steps == "flush";
  const double start = Now();
  for (const Line& line : lines) {
    const std::string part = flush ? line.dest + ".part" : line.dest;
    HANDLE f = CreateFileA(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    HINTERNET h = InternetOpenUrlA(session, line.url.c_str(), nullptr, 0, INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!h || f == INVALID_HANDLE_VALUE) return 1;
    DWORD got = 0, written = 0;
    while (InternetReadFile(h, buffer.data(), 65536, &got) && got > 0) WriteFile(f, buffer.data(), got, &written, nullptr);
    InternetCloseHandle(h);
    if (flush) FlushFileBuffers(f);
    CloseHandle(f);
    if (flush) MoveFileExA(part.c_str(), line.dest.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }
  std::printf("floor_files_seconds %.3f\n", Now() - start);
  InternetCloseHandle(session);
  return 0;
}

int List(const char* path, const std::string& keys, bool chained) {
  const std::vector<Line> lines = ReadList(path);
  if (lines.empty()) return 1;
  HWND self = Requester();
  HWND agent = Agent();
  const double start = Now();
  const int n = static_cast<int>(lines.size());
  bool all = true;
  for (const Line& line : lines) {
    Send(agent, self, Request(line.url, line.dest) + (keys == "-" ? "" : " " + keys));
    if (chained) all = all && WaitReplies(g_replies + 1, 60.0);
  }
  all = all && WaitReplies(n, 60.0 * n);
  const double seconds = Now() - start;
  int got = 0, unchanged = 0;
  const std::string mark = " Unchanged=1";
  for (std::string text : g_texts) {
    while (!text.empty() && (text.back() == '\0' || text.back() == '\r' || text.back() == '\n')) text.pop_back();
    if (text.compare(0, 4, "GOT ") != 0) {
      std::fprintf(stderr, "not a GOT: %s\n", text.c_str());
      continue;
    }
    ++got;
    if (text.size() >= mark.size() && text.compare(text.size() - mark.size(), mark.size(), mark) == 0) ++unchanged;
  }
  std::printf("list_seconds %.3f\nlist_count %d\nlist_replies %zu\nlist_got %d\nlist_unchanged %d\n", seconds, n,
              g_texts.size(), got, unchanged);
  return all ? 0 : 1;
}

// What tells a file replaced from one left alone: a rename or a new file changes the index,
// a rewrite in place the time.
int Identity(const char* path) {
  for (const Line& line : ReadList(path)) {
    HANDLE f = CreateFileA(line.dest.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (f == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(f, &info)) {
      std::printf("%s missing\n", line.dest.c_str());
      if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
      continue;
    }
    CloseHandle(f);
    std::printf("%s %08lx %08lx%08lx %08lx%08lx %lu\n", line.dest.c_str(), info.dwVolumeSerialNumber, info.nFileIndexHigh,
                info.nFileIndexLow, info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime,
                info.nFileSizeLow);
  }
  return 0;
}

// Written whole by the agent's own file code (one flushed file put in place by a rename),
// then read back by its own store, so the count printed is what the agent will find.
int SeedRecords(int n) {
  const std::wstring folder = velmora::JournalFolder();
  if (folder.empty()) return 1;
  std::string bytes("VSCR", 4);
  velmora::PutU32(bytes, velmora::kChangeRecordsVersion);
  for (int i = 0; i < n; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, "%06d", i);
    const std::wstring id(number, number + 6);
    velmora::ChangeRecord r;
    r.destination = L"C:\\Users\\Public\\Documents\\Velmora\\Reports\\report-" + id + L".pdf";
    r.source = L"https://downloads.example-mirror.net/archive/2024/report-" + id + L".pdf";
    r.etag = L"\"66433f13-" + id + L"\"";
    r.lastModified = L"Tue, 14 May 2024 09:21:07 GMT";
    r.size = 1048576 + i;
    r.writeTime = 133601000000000000ull + static_cast<uint64_t>(i) * 10000000ull;
    bytes += velmora::JournalRecord(velmora::ChangeBody(r));
  }
  {  // closed before the reading: the file put in place stays open for appending
    velmora::JournalDiskFiles files(velmora::kChangeRecordsFileName);
    files.Locate(folder);
    std::wstring why;
    if (!files.WriteFresh(bytes, why) || !files.PutFreshInPlace(why)) {
      files.DeleteFresh();
      std::fprintf(stderr, "records not written: %ls\n", why.c_str());
      return 1;
    }
  }
  velmora::JournalDiskFiles reading(velmora::kChangeRecordsFileName);
  reading.Locate(folder);
  velmora::ChangeStore store(reading, [](const std::wstring& text) { std::fprintf(stderr, "%ls\n", text.c_str()); });
  const double start = Now();
  const size_t count = store.Count();
  std::printf("records_count %zu\nrecords_bytes %zu\nrecords_read_seconds %.3f\n", count, bytes.size(), Now() - start);
  return count == static_cast<size_t>(n) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "floor" && argc == 3) return Floor(argv[2], 10240, true);
  if (cmd == "floor-fast" && argc == 3) return Floor(argv[2], 65536, false);
  if (cmd == "floor-offthread" && argc == 3) return FloorOffThread(argv[2]);
  if (cmd == "request" && argc == 4) return One(argv[2], argv[3]);
  if (cmd == "many" && argc == 5) return Many(std::atoi(argv[2]), argv[3], argv[4]);
  if (cmd == "burst" && argc == 3) return Burst(std::atoi(argv[2]));
  if (cmd == "control" && argc == 6) return Control(std::atoi(argv[2]), argv[3], argv[4], argv[5]);
  if (cmd == "memory" && argc == 4) return Memory(argv[2], argv[3]);
  if (cmd == "pause") return PauseCost();
  if (cmd == "startup" && argc == 3) return Startup(argv[2]);
  if (cmd == "handoff" && argc == 3) return Handoff(std::atoi(argv[2]));
  if (cmd == "respond" && argc == 4) return Respond(argv[2], std::atof(argv[3]));
  if (cmd == "frozen" && argc == 6) return Frozen(std::atoi(argv[2]), argv[3], argv[4], argv[5]);
  if (cmd == "floor-files" && argc == 4) return FloorFiles(argv[2], argv[3]);
  if (cmd == "list" && argc == 4) return List(argv[2], argv[3], false);
  if (cmd == "chain" && argc == 4) return List(argv[2], argv[3], true);
  if (cmd == "identity" && argc == 3) return Identity(argv[2]);
  if (cmd == "seed-records" && argc == 3) return SeedRecords(std::atoi(argv[2]));
  std::fprintf(stderr, "see the comment at the top of bench_agent.cpp\n");
  return 2;
}
