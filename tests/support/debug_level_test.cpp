// Choosing the debug level: the word table and where "/DEBUG" is found.
#include <gtest/gtest.h>

#include "support/debug_level.h"

using namespace velmora;

TEST(DebugLevel, WordsAfterDebugSwitch) {
  struct Case { const wchar_t* args; int level; };
  const Case cases[] = {
      {L"/DEBUG=MAX", 10},     {L"/debug=max", 10},      {L"/Debug=Max", 10},  {L"/DEBUG=NORMAL", 5},
      {L"/DEBUG=MEDIUM", 5},   {L"/DEBUG=NONE", 0},      {L"/DEBUG=OFF", 0},   {L"/DEBUG", 10},
      {L"/DEBUG=", 10},        {L"/DEBUG=loud", 10},     {L"/NoMinimise /DEBUG=normal", 5},
      {L"  /DEBUG=off  ", 0},  {L"/DEBUG=\"NONE\"", 0},  {L"/DEBUG=MAX /DEBUG=OFF", 10},
      // "/DEBUG" inside a longer argument selects the command line; no field follows.
      {L"/DEBUGGING", 10},     {L"x/debugx=off", 10},
  };
  for (const auto& c : cases) {
    auto level = DebugLevelFromCommandLine(c.args);
    ASSERT_TRUE(level.has_value()) << std::string(c.args, c.args + wcslen(c.args));
    EXPECT_EQ(*level, c.level) << std::string(c.args, c.args + wcslen(c.args));
  }
}

TEST(DebugLevel, WithoutSwitchTheRegistryDecides) {
  EXPECT_FALSE(DebugLevelFromCommandLine(L"").has_value());
  EXPECT_FALSE(DebugLevelFromCommandLine(L"/NoMinimise /DEBU").has_value());
}

TEST(CommandLine, ArgumentsWithoutProgramName) {
  EXPECT_EQ(CommandLineArguments(L"\"C:\\Program Files\\V\\VelmoraSkytrove4.exe\" /DEBUG=MAX"), L"/DEBUG=MAX");
  EXPECT_EQ(CommandLineArguments(L"C:\\DEBUG\\VelmoraSkytrove4.exe  /NoMinimise"), L"/NoMinimise");
  EXPECT_EQ(CommandLineArguments(L"agent.exe"), L"");
  // A program path that happens to contain /DEBUG must not select a level.
  EXPECT_FALSE(DebugLevelFromCommandLine(CommandLineArguments(L"\"Z:\\x/DEBUG\\a.exe\"")).has_value());
}

TEST(CommandLine, NoMinimiseAnywhereInAnyCase) {
  EXPECT_TRUE(HasNoMinimise(L"/NOMINIMISE"));
  EXPECT_TRUE(HasNoMinimise(L"/DEBUG=MAX /nominimise x"));
  EXPECT_FALSE(HasNoMinimise(L"/NoMinimize"));
}

TEST(CommandLine, ExitOnlyAsAWholeArgument) {
  EXPECT_TRUE(HasSwitch(L"/Exit", L"/Exit"));
  EXPECT_TRUE(HasSwitch(L"/DEBUG=MAX\t/EXIT ", L"/Exit"));
  EXPECT_FALSE(HasSwitch(L"/Exiting", L"/Exit"));
  EXPECT_FALSE(HasSwitch(L"/DEBUG=/exit2 x/exit", L"/Exit"));
  EXPECT_FALSE(HasSwitch(L"", L"/Exit"));
}

TEST(CommandLine, RestartKeepsTheDebugLevelOnly) {
  EXPECT_EQ(RestartArguments(L"/NoMinimise /debug=NORMAL"), L"/debug=NORMAL");
  EXPECT_EQ(RestartArguments(L"\t/DEBUG  /Exit x/DEBUG"), L"/DEBUG");
  EXPECT_EQ(RestartArguments(L"/nominimise"), L"");
}
