// Putting a finished download in place, with the file calls failing the way a volume can.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/components.h"
#include "transfer/local_target.h"
#include "win_test_support.h"

namespace velmora {
namespace {

using namespace testing_support;

// ReplaceFileW without a backup name that deleted the old file and then could not rename
// the new one.
BOOL WINAPI ReplaceLosingTheOld(LPCWSTR replaced, LPCWSTR, LPCWSTR, DWORD, LPVOID, LPVOID) {
  DeleteFileW(replaced);
  SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
  return FALSE;
}
BOOL WINAPI ReplaceRefused(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, LPVOID, LPVOID) {
  SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
  return FALSE;
}
BOOL WINAPI MoveRefused(LPCWSTR, LPCWSTR, DWORD) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

TEST(TemporaryFile, FailedPlacingNeverDeletesTheOnlyCopy) {
  const std::wstring folder = FreshFolder(L"local-target");
  const std::wstring logs = FreshFolder(L"local-target-logs");
  if (StringUtility::Instance().App().exeBaseName.empty())
    StringUtility::Instance().HandOver({L"Z:\\local.exe", L"local", kApplicationTitle, kApplicationTitle});
  StringUtility::Instance().Settings().debugFolder = logs + L"\\";
  StringUtility::Instance().Settings().debugLevel = 5;
  const std::wstring destination = folder + L"\\d.txt";
  struct Case {
    decltype(&ReplaceFileW) replace;
    bool kept;  // the old file is gone, so the new one must stay
  };
  for (const Case c : {Case{ReplaceLosingTheOld, true}, Case{ReplaceRefused, false}}) {
    ASSERT_TRUE(WriteFileBytes(destination, "old"));
    std::wstring temporary;
    {
      TemporaryFile file(TemporaryBeside(destination));
      temporary = file.Path();
      ASSERT_TRUE(WriteFileBytes(temporary, "new"));
      EXPECT_FALSE(file.PutInPlace(destination, PlacementCalls{c.replace, MoveRefused}));
    }
    EXPECT_EQ(ReadFileBytes(temporary), c.kept ? "new" : "");
    EXPECT_EQ(ReadFileBytes(destination), c.kept ? "" : "old");
    bool logged = false;
    for (const auto& line : ReadLogLines(logs))
      logged = logged || line.find(std::string(temporary.begin(), temporary.end())) != std::string::npos;
    EXPECT_EQ(logged, c.kept);
  }
  StringUtility::Instance().Settings().debugLevel = 0;
}

}  // namespace
}  // namespace velmora
