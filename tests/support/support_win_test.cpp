// The Windows edges of the shared module: the copy-data text codes, the tray-tip copy,
// the pause, the registry-backed settings and the folder made for its owners only.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>

#include <cstring>
#include <vector>

#include "support/components.h"
#include "support/handles.h"
#include "support/private_folder.h"
#include "support/velmora_general.h"
#include "win_test_support.h"

using namespace velmora;

TEST(ReadCopyData, DataCodesAndNul) {
  char bytes[] = {'G', 'E', 'T', ' ', 'a', '\0', 'b'};
  COPYDATASTRUCT cds{3, sizeof bytes, bytes};
  EXPECT_EQ(ReadCopyData(&cds), L"GET a");
  cds.dwData = 4;
  EXPECT_EQ(ReadCopyData(&cds), std::wstring(L"GET a\0b", 7));
  cds.dwData = 5;
  EXPECT_EQ(ReadCopyData(&cds), L"");
  cds = COPYDATASTRUCT{4, 0, nullptr};
  EXPECT_EQ(ReadCopyData(&cds), L"");
  cds = COPYDATASTRUCT{4, 10, nullptr};
  EXPECT_EQ(ReadCopyData(&cds), L"");
  EXPECT_EQ(ReadCopyData(nullptr), L"");
}

TEST(CopyStringToBytes, ZeroFilledAndCut) {
  unsigned char field[8];
  std::memset(field, 0xCC, sizeof field);
  CopyStringToBytes(field, sizeof field, L"abc");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(field), 8), std::string("abc\0\0\0\0\0", 8));
  CopyStringToBytes(field, sizeof field, L"0123456789");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(field), 8), "01234567");
}

TEST(Pause, WaitsAboutTheTimeAskedAndRunsMessages) {
  // A message posted before the pause must be handled inside it.
  static bool handled = false;
  WNDCLASSW wc{};
  wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m == WM_APP) handled = true;
    return DefWindowProcW(h, m, w, l);
  };
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"PauseTest";
  RegisterClassW(&wc);
  HWND w = CreateWindowW(L"PauseTest", L"", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  PostMessageW(w, WM_APP, 0, 0);
  LARGE_INTEGER f, a, b;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&a);
  timing::Pause(0.05);
  QueryPerformanceCounter(&b);
  const double ms = 1000.0 * (b.QuadPart - a.QuadPart) / f.QuadPart;
  EXPECT_TRUE(handled);
  EXPECT_GE(ms, 45.0);
  EXPECT_LT(ms, 1000.0);  // generous: this guards against a wait that never ends, not speed
  DestroyWindow(w);
}

TEST(Registry, NumbersAndTextsWithFallbacks) {
  const wchar_t* key = L"SOFTWARE\\Velmora\\TestValues";
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), 0);
  DWORD seven = 7;
  RegSetValueExW(k, L"Number", 0, REG_DWORD, reinterpret_cast<BYTE*>(&seven), sizeof seven);
  RegSetValueExW(k, L"Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"-1"), 6);
  RegCloseKey(k);
  EXPECT_EQ(registry::ReadNumber(HKEY_LOCAL_MACHINE, key, L"Number", 0), 7);
  EXPECT_EQ(registry::ReadNumber(HKEY_LOCAL_MACHINE, key, L"Text", 0), -1);
  EXPECT_EQ(registry::ReadNumber(HKEY_LOCAL_MACHINE, key, L"Missing", 3), 3);
  EXPECT_EQ(registry::ReadText(HKEY_LOCAL_MACHINE, key, L"Missing", L"d"), L"d");
  EXPECT_EQ(registry::ReadText(HKEY_LOCAL_MACHINE, key, L"Text", L""), L"-1");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
}

// "DebugPath" = "%TEMP%\logs" is a REG_EXPAND_SZ: read unexpanded it is a relative
// folder that cannot be made. A REG_SZ keeps its "%" as written.
TEST(Registry, ExpandableTextsAreExpanded) {
  const wchar_t* key = L"SOFTWARE\\Velmora\\TestExpand";
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), 0);
  // Longer than the reference, so the expansion outgrows the text read.
  const std::wstring folder = L"C:\\a folder name longer than its reference";
  ASSERT_TRUE(SetEnvironmentVariableW(L"VELMORA_TEST_FOLDER", folder.c_str()));
  auto put = [&](const wchar_t* name, DWORD type, const std::wstring& text) {
    RegSetValueExW(k, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  };
  put(L"Expand", REG_EXPAND_SZ, L"%VELMORA_TEST_FOLDER%\\logs");
  put(L"Plain", REG_SZ, L"%VELMORA_TEST_FOLDER%\\logs");
  RegCloseKey(k);
  EXPECT_EQ(registry::ReadText(HKEY_LOCAL_MACHINE, key, L"Expand", L""), folder + L"\\logs");
  EXPECT_EQ(registry::ReadText(HKEY_LOCAL_MACHINE, key, L"Plain", L""), L"%VELMORA_TEST_FOLDER%\\logs");
  SetEnvironmentVariableW(L"VELMORA_TEST_FOLDER", nullptr);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
}

// A value of the wrong type or size gives the fallback and is never read past its end.
TEST(Registry, ValuesOfOtherTypesAndSizes) {
  const wchar_t* key = L"SOFTWARE\\Velmora\\TestOddValues";
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), 0);
  const BYTE bytes[8] = {7, 0, 0, 0, 0, 0, 0, 0};
  RegSetValueExW(k, L"ShortNumber", 0, REG_DWORD, bytes, 2);
  RegSetValueExW(k, L"Quad", 0, REG_QWORD, bytes, 8);
  RegSetValueExW(k, L"Binary", 0, REG_BINARY, bytes, 4);
  // "42" and half a character, without a terminating NUL.
  const BYTE text[5] = {'4', 0, '2', 0, '9'};
  RegSetValueExW(k, L"OpenText", 0, REG_SZ, text, 5);
  RegCloseKey(k);
  for (const wchar_t* name : {L"ShortNumber", L"Quad", L"Binary"}) {
    EXPECT_EQ(registry::ReadNumber(HKEY_LOCAL_MACHINE, key, name, -5), -5) << name;
    EXPECT_EQ(registry::ReadText(HKEY_LOCAL_MACHINE, key, name, L"d"), L"d") << name;
  }
  EXPECT_EQ(registry::ReadNumber(HKEY_LOCAL_MACHINE, key, L"OpenText", 0), 42);
  EXPECT_EQ(registry::ReadText(HKEY_LOCAL_MACHINE, key, L"OpenText", L""), L"42");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
}

// The user's placement first, the machine's where the user has none.
TEST(Placement, UserBeforeMachine) {
  const std::wstring key = L"SOFTWARE\\Velmora\\TestPlacement";
  HWND w = CreateWindowExW(0, L"STATIC", L"placement", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                           nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  auto store = [&](HKEY root, int32_t left) {
    const int32_t values[5] = {left, 30, left + 200, 230, 0};
    const wchar_t* names[5] = {L"Left", L"Top", L"Right", L"Bottom", L"Maximised"};
    for (int i = 0; i < 5; ++i) testing_support::SetMachineNumber(key, names[i], values[i], root);
  };
  auto left = [&] {
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    GetWindowPlacement(w, &wp);
    return wp.rcNormalPosition.left;
  };
  store(HKEY_LOCAL_MACHINE, 70);
  EXPECT_TRUE(placement::Restore(key, w));
  EXPECT_EQ(left(), 70);
  store(HKEY_CURRENT_USER, 90);
  EXPECT_TRUE(placement::Restore(key, w));
  EXPECT_EQ(left(), 90);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  DestroyWindow(w);
}

TEST(SystemCheck, BrowserOfVersionFourOrLaterUnderThisSystem) { EXPECT_TRUE(systemcheck::BrowserCheck(true)); }

TEST(VersionInformation, ProductDescriptionVersionAndIcon) {
  const std::wstring exe = testing_support::AgentPath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, data.data()));
  auto text = [&](const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT length = 0;
    std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) return std::wstring();
    return std::wstring(value);
  };
  EXPECT_EQ(text(L"ProductName"), L"Velmora Skytrove v4");
  EXPECT_EQ(text(L"FileDescription"), L"Downloads and stores web pages");
  EXPECT_EQ(text(L"FileVersion"), L"4.00.0018");
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00040000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000012u);
  HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14)), nullptr);  // RT_GROUP_ICON
  FreeLibrary(module);
}

namespace {
struct Dacl {
  bool read = false, isProtected = false;
  std::vector<std::vector<BYTE>> sids;  // of the entries, in order
  std::vector<ACCESS_ALLOWED_ACE> entries;
};
Dacl DaclOf(PSECURITY_DESCRIPTOR sd) {
  Dacl out;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) || !present || dacl == nullptr ||
      !GetSecurityDescriptorControl(sd, &control, &revision))
    return out;
  out.read = true;
  out.isProtected = (control & SE_DACL_PROTECTED) != 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    out.entries.push_back(*allowed);
    const PSID sid = &allowed->SidStart;
    out.sids.emplace_back(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
  }
  return out;
}
Dacl DaclOf(const std::wstring& path) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                            nullptr, &sd) != ERROR_SUCCESS)
    return Dacl{};
  UniqueLocal owner(sd);
  return DaclOf(sd);
}
std::vector<BYTE> Sid(WELL_KNOWN_SID_TYPE type) {
  std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  CreateWellKnownSid(type, nullptr, sid.data(), &size);
  sid.resize(size);
  return sid;
}
bool Holds(const Dacl& dacl, const std::vector<BYTE>& sid) {
  for (const auto& s : dacl.sids)
    if (s == sid) return true;
  return false;
}
}  // namespace

// The log folder the agent makes itself is closed to other users: the running user, SYSTEM
// and Administrators only, for everything inside too, nothing taken from the folder above;
// a folder that is there already keeps what it has. Wine keeps no descriptor of a folder,
// only its Unix mode, and reads back from that what the owner, the group and everyone may
// do: so the descriptor is checked as built, and the folder for everyone's access.
TEST(PrivateFolder, MadeForItsOwnersOnlyAndAnExistingOneLeftAsItIs) {
  std::vector<BYTE> built = OwnersOnlyDescriptor();
  ASSERT_FALSE(built.empty());
  const Dacl dacl = DaclOf(built.data());
  ASSERT_TRUE(dacl.read);
  EXPECT_TRUE(dacl.isProtected);
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  std::vector<BYTE> user(512);
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size));
  CloseHandle(token);
  const PSID me = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  const std::vector<std::vector<BYTE>> expected = {
      std::vector<BYTE>(static_cast<BYTE*>(me), static_cast<BYTE*>(me) + GetLengthSid(me)),
      Sid(WinLocalSystemSid), Sid(WinBuiltinAdministratorsSid)};
  EXPECT_EQ(dacl.sids, expected);
  for (const auto& entry : dacl.entries) {
    EXPECT_EQ(entry.Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(entry.Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(entry.Mask, static_cast<DWORD>(FILE_ALL_ACCESS));
  }

  const std::wstring base = testing_support::FreshFolder(L"private-folder");
  const std::wstring plain = base + L"\\Plain";
  ASSERT_TRUE(CreateDirectoryW(plain.c_str(), nullptr));
  const std::vector<BYTE> everyone = Sid(WinWorldSid);
  ASSERT_TRUE(Holds(DaclOf(plain), everyone));  // as the folder above lets everyone in
  const std::wstring made = base + L"\\DebugFiles\\inner";
  ASSERT_TRUE(CreatePrivateFolder(made + L"\\"));
  const Dacl madeDacl = DaclOf(made);
  ASSERT_TRUE(madeDacl.read);
  EXPECT_FALSE(Holds(madeDacl, everyone));
  EXPECT_TRUE(testing_support::WriteFileBytes(made + L"\\a.log", "line"));  // its owner writes in it

  EXPECT_TRUE(CreatePrivateFolder(plain));
  EXPECT_TRUE(Holds(DaclOf(plain), everyone));  // left as it was
  EXPECT_FALSE(CreatePrivateFolder(made + L"\\a.log"));  // a file is no folder
}
