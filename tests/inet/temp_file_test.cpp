// GetTempFile with the system's temporary-name service, and the codecs as cWinINET
// offers them with the system's ANSI code page.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "inet/cwininet.h"
#include "support/components.h"
#include "support/temp_file.h"
#include "win_test_support.h"

namespace velmora {
namespace {

using namespace testing_support;

std::wstring Upper(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(towupper(c));
  return s;
}

std::wstring UserTempFolder() {
  wchar_t buffer[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, buffer);
  std::wstring folder = buffer;
  if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return folder;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }
std::wstring NameOf(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

TEST(GetTempFile, ExtensionChoosesBetweenTheSystemNameAndANewOne) {
  struct Case {
    std::wstring extension;
    std::wstring ending;
    bool fileExists;
  };
  const std::vector<Case> cases = {
      {L"txt", L".TXT", false}, {L"html", L".HTML", false}, {L"", L".TMP", true},
      {L"tmp", L".TMP", true},  {L"TmP", L".TMP", true},
  };
  for (const auto& c : cases) {
    const std::wstring name = GetTempFile(L"", c.extension);
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(Upper(name.substr(name.size() - c.ending.size())), c.ending) << name;
    EXPECT_EQ(Upper(FolderOf(name)), Upper(UserTempFolder())) << name;
    EXPECT_EQ(Upper(NameOf(name)).rfind(L"VEL", 0), 0u) << name;
    EXPECT_EQ(FileExists(name), c.fileExists) << name;
    if (!c.fileExists) {
      // The system's own file of that number is gone too.
      EXPECT_FALSE(FileExists(name.substr(0, name.size() - c.extension.size()) + L"tmp")) << name;
    }
    DeleteFileW(name.c_str());
  }
}

TEST(GetTempFile, GivenFolderIsUsedAndFailuresGiveAnEmptyName) {
  const std::wstring folder = FreshFolder(L"inet-temp-given");
  const std::wstring name = GetTempFile(folder, L"dat");
  EXPECT_EQ(FolderOf(name), folder);
  EXPECT_TRUE(GetTempFile(folder + L"\\missing", L"dat").empty());
  EXPECT_TRUE(GetTempFile(folder + L"\\missing", L"").empty());
  // An extension cannot lead the name out of the folder.
  EXPECT_TRUE(GetTempFile(folder, L"x\\..\\..\\evil").empty());
  EXPECT_TRUE(GetTempFile(folder, L"x/y").empty());
  std::vector<std::wstring> left;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
  do {
    if (fd.cFileName[0] != L'.') left.push_back(fd.cFileName);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  EXPECT_TRUE(left.empty());
}

// Numbers the service hands out in turn, each made the way the system makes them.
detail::TempNameService Scripted(std::vector<unsigned> numbers, std::vector<unsigned>& used) {
  return [numbers, &used](const std::string& folder, const std::string& prefix, char* buffer) -> uint32_t {
    const unsigned n = numbers[used.size() % numbers.size()];
    used.push_back(n);
    const UINT got = GetTempFileNameA(folder.c_str(), prefix.c_str(), n, buffer);
    if (got != 0) CloseHandle(CreateFileA(buffer, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    return got;
  };
}

TEST(GetTempFile, OnlyANonEmptyFileOfTheNewNameCausesAnotherAttempt) {
  const std::wstring folder = FreshFolder(L"inet-temp-retry");
  ASSERT_TRUE(WriteFileBytes(folder + L"\\VEL100.txt", "taken"));
  ASSERT_TRUE(WriteFileBytes(folder + L"\\VEL101.txt", ""));
  std::vector<unsigned> used;
  const std::wstring name = detail::GetTempFileWith(folder, L"txt", Scripted({0x100, 0x101, 0x102}, used));
  EXPECT_EQ(Upper(name), Upper(folder + L"\\VEL101.txt"));
  EXPECT_EQ(used, (std::vector<unsigned>{0x100, 0x101}));
  EXPECT_FALSE(FileExists(folder + L"\\VEL100.tmp"));
  EXPECT_FALSE(FileExists(folder + L"\\VEL101.tmp"));
  EXPECT_EQ(ReadFileBytes(folder + L"\\VEL100.txt"), "taken");
}

TEST(GetTempFile, PrefixIsTheTitleInUpperCaseWithoutSpaces) {
  AppInfo app = StringUtility::Instance().App();
  const AppInfo saved = app;
  app.title = L"v  x y";
  StringUtility::Instance().HandOver(app);
  const std::wstring name = GetTempFile(FreshFolder(L"inet-temp-prefix"), L"");
  StringUtility::Instance().HandOver(saved);
  EXPECT_EQ(NameOf(name).substr(0, 3), L"VXY") << name;
}

TEST(cWinINETCodecs, UseTheSystemCodePage) {
  cWinINET inet;
  EXPECT_EQ(inet.URLEncode2(L"a b&c"), L"a+b%26c");
  EXPECT_EQ(inet.URLEncode(L"a b&c", false), L"a b%26c");
  EXPECT_EQ(inet.URLEncodeB2(std::wstring(L"a b&c")), L"a%00+%00b%00%26%00c%00");
  EXPECT_EQ(inet.URLEncodeB2(std::string("A-1")), L"A%2D%31");
  EXPECT_EQ(inet.URLDecode2(L"1%2B1"), L"1+1");
  EXPECT_EQ(inet.URLDecodeB2(L"a+b%26c"), "a b&c");
  EXPECT_THROW(inet.URLDecodeB2(L"%zz"), UrlConversionError);
  EXPECT_EQ(inet.URLDecode2(L"%zz"), L"%zz");
  // The ANSI page of this process, whatever it is, gives back what it was given.
  const UINT page = GetACP();
  if (page == 1252) {
    EXPECT_EQ(inet.URLEncode2(L"\x20AC"), L"%80");
    EXPECT_EQ(inet.URLDecode2(L"%80"), L"\x20AC");
  }
  EXPECT_EQ(inet.URLDecode2(inet.URLEncode(L"caf\xE9 & cr\xE8me", true)), L"caf\xE9 & cr\xE8me") << page;
  EXPECT_EQ(inet.GetUploadResultDescription(5), L"The user cancelled the operation");
  EXPECT_EQ(inet.GetUploadResultDescription(6), L"");
}

}  // namespace
}  // namespace velmora
