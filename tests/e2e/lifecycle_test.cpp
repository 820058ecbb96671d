// Start-up and shut-down of the real agent: single instance, log lines in order, the
// window's visibility, the close questions and the stored placement.
#include <gtest/gtest.h>

#include "agent_fixture.h"

using namespace testing_support;

namespace {

const wchar_t kPlacement[] = L"SOFTWARE\\Velmora\\Utils\\Skytrove4";

// Each test starts its agents itself, with the arguments and the order it is about.
class Lifecycle : public AgentTest {
 protected:
  Lifecycle() : AgentTest(nullptr) {}
  void SetUp() override {
    DeleteMachineValue(kVelmora, L"DebugMode");
    for (const wchar_t* n : {L"Left", L"Top", L"Right", L"Bottom", L"Maximised"}) {
      DeleteMachineValue(kPlacement, n);
      DeleteMachineValue(kPlacement, n, HKEY_CURRENT_USER);
    }
    AgentTest::SetUp();
  }
};

TEST_F(Lifecycle, SecondInstanceEndsWithoutWindowWhileFirstRuns) {
  ASSERT_TRUE(StartAgent(L"/NoMinimise /DEBUG=MAX"));
  Agent second;
  ASSERT_TRUE(second.Start(L"/DEBUG=MAX", 0));
  ASSERT_TRUE(second.WaitExit(10000));
  EXPECT_TRUE(agent_.Running());
  EXPECT_TRUE(IsWindowVisible(agent_.Window()));
  ASSERT_TRUE(agent_.Stop());

  const auto lines = Texts();
  std::vector<std::string> expected = {
      "Start frmVelmoraSkytrove:Form_Load",          "Opening internet connnection",
      "Opening internet connnection - OK",           "Finish frmVelmoraSkytrove:Form_Load",
      "Start frmVelmoraSkytrove:Form_Load",          "Exit frmVelmoraSkytrove:Form_Load - Already running"};
  ASSERT_GE(lines.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << i;
}

HWND WaitQuestion() { return WaitForWindow(L"#32770", L"Velmora Skytrove v4", 10000); }

TEST_F(Lifecycle, NoMinimiseInAnyCaseKeepsTheWindowVisible) {
  for (const wchar_t* args : {L"/NoMinimise", L"/DEBUG=OFF /nominimise /x", L"/NOMINIMISE"}) {
    Agent agent;
    ASSERT_TRUE(agent.Start(args));
    ASSERT_TRUE(Settle(agent.Window()));  // start-up has run to its end
    EXPECT_TRUE(IsWindowVisible(agent.Window())) << args;
    EXPECT_FALSE(IsIconic(agent.Window())) << args;
    ASSERT_TRUE(agent.Stop());
  }
  Agent hidden;
  ASSERT_TRUE(hidden.Start(L"/DEBUG=MAX"));
  ASSERT_TRUE(Settle(hidden.Window()));
  EXPECT_FALSE(IsWindowVisible(hidden.Window()));  // only the tray icon is left
  EXPECT_TRUE(IsIconic(hidden.Window()));
  ASSERT_TRUE(hidden.Stop());
}

TEST_F(Lifecycle, FirstStartSitsInTheBottomRightCornerOfTheWorkArea) {
  Agent agent;
  ASSERT_TRUE(agent.Start(L"/NoMinimise"));
  RECT work{}, window{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(agent.Window(), &window);
  EXPECT_EQ(window.right, work.right);
  EXPECT_EQ(window.bottom, work.bottom);
  // A stored placement wins over the corner.
  SetWindowPos(agent.Window(), nullptr, 40, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ASSERT_TRUE(agent.Stop());  // a task-manager close of a visible window stores its placement
  EXPECT_EQ(ReadMachineNumber(kPlacement, L"Left", HKEY_CURRENT_USER).value_or(-1), 40);
  EXPECT_EQ(ReadMachineNumber(kPlacement, L"Top", HKEY_CURRENT_USER).value_or(-1), 50);
  EXPECT_FALSE(ReadMachineNumber(kPlacement, L"Left").has_value());  // per user, not per machine
  Agent again;
  ASSERT_TRUE(again.Start(L"/NoMinimise"));
  GetWindowRect(again.Window(), &window);
  EXPECT_EQ(window.left, 40);
  EXPECT_EQ(window.top, 50);
  ASSERT_TRUE(again.Stop());
}

TEST_F(Lifecycle, CloseBoxQuestionNoKeepsYesEndsAndStoresPlacement) {
  ASSERT_TRUE(StartAgent(L"/DEBUG=MAX"));  // starts minimised: the question restores it first
  PostMessageW(agent_.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
  HWND box = WaitQuestion();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageBoxText(box), L"Are you sure you want to quit from the Velmora Skytrove v4?");
  EXPECT_TRUE(IsWindowVisible(agent_.Window()));
  EXPECT_FALSE(IsIconic(agent_.Window()));
  PressButton(box, IDNO);
  ASSERT_TRUE(Settle(agent_.Window()));
  EXPECT_TRUE(agent_.Running());
  EXPECT_TRUE(IsWindowVisible(agent_.Window()));
  EXPECT_FALSE(ReadMachineNumber(kPlacement, L"Left", HKEY_CURRENT_USER).has_value());

  PostMessageW(agent_.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
  box = WaitQuestion();
  ASSERT_NE(box, nullptr);
  PressButton(box, IDYES);
  ASSERT_TRUE(agent_.WaitExit(10000));
  EXPECT_TRUE(ReadMachineNumber(kPlacement, L"Left", HKEY_CURRENT_USER).has_value());
  EXPECT_TRUE(ReadMachineNumber(kPlacement, L"Bottom", HKEY_CURRENT_USER).has_value());
}

TEST_F(Lifecycle, TrayExitAsksItsOwnQuestion) {
  ASSERT_TRUE(StartAgent(L""));
  PostMessageW(agent_.Window(), WM_COMMAND, 102, 0);  // the tray menu's "E&xit"
  HWND box = WaitQuestion();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageBoxText(box), L"Are you sure you want to quit from the Skytrove?");
  EXPECT_TRUE(IsWindowVisible(agent_.Window()));
  PressButton(box, IDNO);
  ASSERT_TRUE(Settle(agent_.Window()));
  ASSERT_TRUE(agent_.Running());
  PostMessageW(agent_.Window(), WM_COMMAND, 102, 0);
  box = WaitQuestion();
  ASSERT_NE(box, nullptr);
  PressButton(box, IDYES);
  ASSERT_TRUE(agent_.WaitExit(10000));
  EXPECT_TRUE(ReadMachineNumber(kPlacement, L"Left", HKEY_CURRENT_USER).has_value());  // restored first, so stored
}

TEST_F(Lifecycle, WindowsEndingAndTaskManagerAskNothing) {
  {
    Agent agent;
    ASSERT_TRUE(agent.Start(L""));  // minimised in the tray
    DWORD_PTR r = 0;
    SendMessageTimeoutW(agent.Window(), WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 5000, &r);
    EXPECT_EQ(r, TRUE);
    PostMessageW(agent.Window(), WM_ENDSESSION, TRUE, 0);
    ASSERT_TRUE(agent.WaitExit(10000));
    EXPECT_EQ(FindWindowW(L"#32770", L"Velmora Skytrove v4"), nullptr);
    EXPECT_FALSE(ReadMachineNumber(kPlacement, L"Left", HKEY_CURRENT_USER).has_value());  // minimised: not stored
  }
  {
    Agent agent;
    ASSERT_TRUE(agent.Start(L""));
    PostMessageW(agent.Window(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(agent.WaitExit(10000));
    EXPECT_FALSE(ReadMachineNumber(kPlacement, L"Left", HKEY_CURRENT_USER).has_value());
  }
  {
    // The Restart Manager's pair, as an installer sends it to free the executable: even a
    // window on show, where the close box would ask, ends without a question.
    Agent agent;
    ASSERT_TRUE(agent.Start(L"/NoMinimise"));
    DWORD_PTR r = 0;
    SendMessageTimeoutW(agent.Window(), WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_NORMAL, 5000, &r);
    EXPECT_EQ(r, TRUE);
    PostMessageW(agent.Window(), WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
    ASSERT_TRUE(agent.WaitExit(10000));
    EXPECT_EQ(FindWindowW(L"#32770", L"Velmora Skytrove v4"), nullptr);
    EXPECT_TRUE(ReadMachineNumber(kPlacement, L"Left", HKEY_CURRENT_USER).has_value());  // shown: stored
  }
}

TEST_F(Lifecycle, DebugLevelFromTheRegistryWhenTheCommandLineIsSilent) {
  SetMachineNumber(kVelmora, L"DebugMode", 7);
  {
    Agent agent;
    ASSERT_TRUE(agent.Start(L""));
    // A request without a type: its intake lines are level 5, "Received GET command" 10.
    ASSERT_TRUE(requester_.Send(agent.Window(), "GET Reference=level"));
    EXPECT_TRUE(WaitLogged(logs_, "Exiting AddToDownloadList as no type/source/destination", 10000));
    ASSERT_TRUE(agent.Stop());
  }
  const auto seven = Texts();
  EXPECT_TRUE(LogContains(ReadLogLines(logs_), "Started HWndGrab1_CopyDataReceivedEx"));
  for (const auto& text : seven) {
    EXPECT_EQ(text.find("Received GET command"), std::string::npos) << text;
    EXPECT_EQ(text.find("Form_Load"), std::string::npos) << text;  // start-up lines are level 10
  }
  for (const auto& file : FolderNames(logs_)) DeleteFileW((logs_ + L"\\" + file).c_str());
  {
    Agent agent;
    ASSERT_TRUE(agent.Start(L"/DEBUG"));  // the command line wins
    ASSERT_TRUE(agent.Stop());
  }
  const auto lines = ReadLogLines(logs_);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(LogText(lines[0]), "Start frmVelmoraSkytrove:Form_Load");
  EXPECT_EQ(lines[0].size() - LogText(lines[0]).size(), 11u + 22u + 1u);  // level 10: memory figures
  DeleteMachineValue(kVelmora, L"DebugMode");
}

// The box is shown by the message loop once start-up is over: the start-up's lines bring
// one (more would come from lines written after it is answered).
TEST_F(Lifecycle, LogFolderThatCannotBeMadeIsReportedInABox) {
  SetMachineString(kVelmora, L"DebugPath", L"Q:\\no drive\\logs");
  ASSERT_TRUE(agent_.Start(L"/DEBUG=MAX", 0));
  int boxes = 0;
  for (;;) {
    HWND box = WaitForWindow(L"#32770", L"Velmora Skytrove v4", boxes == 0 ? 10000 : 2000);
    if (box == nullptr) break;
    EXPECT_EQ(MessageBoxText(box), L"The Debug Files folder could not be created in 'Q:\\no drive\\logs\\'!");
    PressButton(box, IDOK);
    ++boxes;
  }
  EXPECT_EQ(boxes, 1);
  ASSERT_NE(FindAgentWindow(5000), nullptr);
  EXPECT_TRUE(agent_.Running());
  PostMessageW(FindAgentWindow(1000), WM_CLOSE, 0, 0);
  // A box noted by the close's lines is never shown: the loop ends first.
  for (int i = 0; i < 4 && agent_.Running(); ++i) {
    HWND box = WaitForWindow(L"#32770", L"Velmora Skytrove v4", 2000);
    if (box) PressButton(box, IDOK);
  }
  EXPECT_TRUE(agent_.WaitExit(10000));
}

}  // namespace
