// The client library against a stand-in agent on the test's own thread: what a program
// may do from inside the library's waits, and which replies the library takes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "skytrove/client.h"

namespace {

constexpr UINT kAnswer = WM_APP + 1;
constexpr UINT kCloseClient = WM_APP + 2;

// Answers each request, once its send has returned, with the replies queued for it; each
// reply names the window `from` as its sender (the agent's own unless a test says not).
struct StandIn {
  HWND window = nullptr;
  HWND client = nullptr;
  struct Reply {
    std::string text;
    HWND from;
  };
  std::vector<Reply> replies;

  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    auto* self = reinterpret_cast<StandIn*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self != nullptr && message == WM_COPYDATA) {
      self->client = reinterpret_cast<HWND>(wParam);
      PostMessageW(hwnd, kAnswer, 0, 0);
      return TRUE;
    }
    if (self != nullptr && message == kAnswer) {
      for (const Reply& r : self->replies) {
        COPYDATASTRUCT cds{4, static_cast<DWORD>(r.text.size()), const_cast<char*>(r.text.data())};
        SendMessageW(self->client, WM_COPYDATA, reinterpret_cast<WPARAM>(r.from), reinterpret_cast<LPARAM>(&cds));
      }
      return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
};

// A window of the program's own that closes the client when told to.
LRESULT CALLBACK CloserProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == kCloseClient) {
    SkytroveClose(reinterpret_cast<SkytroveClient*>(lParam));
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND MakeWindow(const wchar_t* name, WNDPROC proc, void* self) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = name;
  RegisterClassExW(&wc);
  HWND w = CreateWindowExW(0, name, L"", WS_POPUP, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  return w;
}

const std::string kGot =
    "GOT Type=HTTP Reference=R1 SourceFileSize=3 SourceFileName=http://h/a.bin DestinationFileName=C:\\a.bin "
    "SourceFileLastWriteTime=";
const std::string kProgress =
    "PROGRESS Type=HTTP Reference=R1 SourceFileName=http://h/a.bin DestinationFileName=C:\\a.bin BytesDone=1 "
    "BytesTotal=3";
const SkytroveField kFields[] = {{"Type", "HTTP"},
                                 {"Reference", "R1"},
                                 {"SourceFileName", "http://h/a.bin"},
                                 {"DestinationFileName", "C:\\a.bin"}};

class ClientLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    agent_.window = MakeWindow(L"StandInAgent", &StandIn::Proc, &agent_);
    ASSERT_NE(agent_.window, nullptr);
  }
  void TearDown() override { DestroyWindow(agent_.window); }
  StandIn agent_;
};

void SKYTROVE_CALL CloseFromCallback(void* context, const SkytroveReply*) {
  SkytroveClose(static_cast<SkytroveClient*>(context));
}

TEST_F(ClientLibrary, ClosedFromInsideItsOwnWaitsItEndsThemAndIsGone) {
  // From the progress callback while SkytroveRequest waits for the GOT that follows.
  agent_.replies = {{kProgress, agent_.window}, {kGot, agent_.window}};
  SkytroveClient* client = SkytroveOpen();
  ASSERT_NE(client, nullptr);
  HWND clientWindow = SkytroveWindow(client);
  SkytroveSetProgressCallback(client, &CloseFromCallback, client);
  SkytroveReply* reply = nullptr;
  EXPECT_EQ(SkytroveRequest(client, agent_.window, kFields, 4, 1, 10000, &reply), SKYTROVE_CLOSED);
  EXPECT_EQ(reply, nullptr);
  EXPECT_FALSE(IsWindow(clientWindow));

  // From a window procedure of the program's while SkytroveWait waits.
  client = SkytroveOpen();
  ASSERT_NE(client, nullptr);
  clientWindow = SkytroveWindow(client);
  HWND closer = MakeWindow(L"ProgramCloser", &CloserProc, nullptr);
  PostMessageW(closer, kCloseClient, 0, reinterpret_cast<LPARAM>(client));
  EXPECT_EQ(SkytroveWait(client, 10000, &reply), SKYTROVE_CLOSED);
  EXPECT_FALSE(IsWindow(clientWindow));

  // From the reply callback in the program's own loop: gone once the reply is handled.
  agent_.replies = {{kGot, agent_.window}};
  client = SkytroveOpen();
  ASSERT_NE(client, nullptr);
  clientWindow = SkytroveWindow(client);
  SkytroveSetCallback(client, &CloseFromCallback, client);
  ASSERT_EQ(SkytroveSend(client, agent_.window, kFields, 4, 1), SKYTROVE_SENT);
  MSG msg;
  while (IsWindow(clientWindow) && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  EXPECT_FALSE(IsWindow(clientWindow));
  DestroyWindow(closer);
}

TEST_F(ClientLibrary, TakesRepliesOnlyFromTheWindowItSentTo) {
  HWND other = MakeWindow(L"NotTheAgent", &DefWindowProcW, nullptr);
  agent_.replies = {{kGot, other}, {kGot, nullptr}, {kGot, agent_.window}};
  SkytroveClient* client = SkytroveOpen();
  ASSERT_NE(client, nullptr);
  SkytroveReply* reply = nullptr;
  ASSERT_EQ(SkytroveRequest(client, agent_.window, kFields, 4, 1, 10000, &reply), SKYTROVE_GOT);
  EXPECT_EQ(reply->sender, agent_.window);
  SkytroveFreeReply(reply);
  EXPECT_EQ(SkytroveWait(client, 0, &reply), SKYTROVE_TIMEOUT);  // the others were dropped
  SkytroveClose(client);
  DestroyWindow(other);
}

}  // namespace
