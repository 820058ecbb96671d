// Start-up and shut-down of the real agent: single instance, log lines in order, the
// window's visibility, the close questions and the stored placement.
#include <gtest/gtest.h>

#include "win_test_support.h"

using namespace testing_support;

namespace {

const wchar_t kVelmora[] = L"SOFTWARE\\Velmora";
const wchar_t kPlacement[] = L"SOFTWARE\\Velmora\\Utils\\Skytrove4";

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    logs_ = FreshFolder(L"lifecycle-logs");
    SetMachineString(kVelmora, L"DebugPath", logs_);
    DeleteMachineValue(kVelmora, L"DebugMode");
    for (const wchar_t* n : {L"Left", L"Top", L"Right", L"Bottom", L"Maximised"}) DeleteMachineValue(kPlacement, n);
  }
  void TearDown() override { DeleteMachineValue(kVelmora, L"DebugPath"); }
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (const auto& l : ReadLogLines(logs_)) out.push_back(LogText(l));
    return out;
  }
  std::wstring logs_;
};

TEST_F(Lifecycle, SecondInstanceEndsWithoutWindowWhileFirstRuns) {
  Agent first;
  ASSERT_TRUE(first.Start(L"/NoMinimise /DEBUG=MAX"));
  Agent second;
  ASSERT_TRUE(second.Start(L"/DEBUG=MAX", 0));
  ASSERT_TRUE(second.WaitExit(10000));
  EXPECT_TRUE(first.Running());
  EXPECT_TRUE(IsWindowVisible(first.Window()));
  ASSERT_TRUE(first.Stop());

  const auto lines = Texts();
  std::vector<std::string> expected = {
      "Start frmVelmoraSkytrove:Form_Load",          "Opening internet connnection",
      "Opening internet connnection - OK",           "Finish frmVelmoraSkytrove:Form_Load",
      "Start frmVelmoraSkytrove:Form_Load",          "Exit frmVelmoraSkytrove:Form_Load - Already running"};
  ASSERT_GE(lines.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << i;
}

}  // namespace
