// The real agent for one whole-process test: log and destination folders of the test's
// own, the agent started with the arguments the test names, a requesting window, and
// an agent that must end cleanly when closed at the end.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "win_test_support.h"

namespace testing_support {

class AgentTest : public ::testing::Test {
 protected:
  static constexpr const wchar_t* kVelmora = L"SOFTWARE\\Velmora";

  // `arguments` null: the test starts the agent itself (StartAgent), after a set-up of
  // its own.
  explicit AgentTest(const wchar_t* arguments = L"/DEBUG=MAX") : arguments_(arguments) {}

  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    name_ = Wide(test->name());
    const std::wstring id = Wide(test->test_suite_name()) + L"-" + name_;
    logs_ = FreshFolder(L"logs-" + id);
    dest_ = FreshFolder(L"dest-" + id);
    SetMachineString(kVelmora, L"DebugPath", logs_);
    if (arguments_ != nullptr) {
      ASSERT_TRUE(StartAgent(arguments_));
    }
  }
  void TearDown() override {
    const bool closing = agent_.Running();
    EXPECT_TRUE(agent_.Stop()) << "the agent did not end when closed";
    if (closing && !agent_.Running()) {
      DWORD code = 1;
      GetExitCodeProcess(agent_.Process(), &code);
      EXPECT_EQ(code, 0u) << "the agent did not end cleanly when closed";
    }
    DeleteMachineValue(kVelmora, L"DebugPath");
  }
  bool StartAgent(const std::wstring& arguments = L"/DEBUG=MAX") { return agent_.Start(arguments); }
  bool Send(const std::string& text) { return requester_.Send(agent_.Window(), text); }

  static std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }
  static std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
  // http://<the web peer>/<path>
  static std::string Url(const std::string& path) { return "http://" + Narrow(Env("VELMORA_WEB")) + "/" + path; }
  std::string Dest(const std::string& name) const { return Narrow(dest_) + "\\" + name; }
  std::wstring D(const std::string& name) const { return dest_ + L"\\" + Wide(name); }
  // Files in the destination folder other than `keep`: a leftover temporary file shows here.
  std::vector<std::wstring> Leftovers(const std::vector<std::wstring>& keep) const {
    std::vector<std::wstring> out;
    for (const auto& n : FolderNames(dest_))
      if (std::find(keep.begin(), keep.end(), n) == keep.end()) out.push_back(n);
    return out;
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& l : ReadLogLines(logs_)) out.push_back(LogText(l));
    return out;
  }
  bool Logged(const std::string& text) const { return LogContains(ReadLogLines(logs_), text); }
  size_t CountLogged(const std::string& prefix) const {
    size_t n = 0;
    for (const auto& t : Texts()) n += t.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return n;
  }
  bool WaitCount(const std::string& prefix, size_t count, DWORD ms = 20000) const {
    return WaitUntil([&] { return CountLogged(prefix) >= count; }, ms, 100);
  }

  Agent agent_;
  Requester requester_;
  std::wstring name_, logs_, dest_;

 private:
  const wchar_t* arguments_;
};

}  // namespace testing_support
