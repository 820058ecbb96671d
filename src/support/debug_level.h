// How much the debug log writes: "/DEBUG" on the command line wins over "DebugMode".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmora {

// Level for the word after /DEBUG= (MAX 10, NORMAL and MEDIUM 5, NONE and OFF 0, else 10).
int32_t DebugLevelFromWord(const std::wstring& word);

// The level the command line asks for, or nothing when it does not mention "/DEBUG".
// `arguments` is the command line without the program's own name.
std::optional<int32_t> DebugLevelFromCommandLine(const std::wstring& arguments);

// The arguments part of a full command line (the program name, quoted or not, removed).
std::wstring CommandLineArguments(const std::wstring& commandLine);

// True when "/NoMinimise" appears anywhere in the arguments, in any case.
bool HasNoMinimise(const std::wstring& arguments);

// True when one of the arguments is `name` as a whole ("/Exit", "/RemoveUserSettings"),
// in any case.
bool HasSwitch(const std::wstring& arguments, const std::wstring& name);

// The arguments an agent started again by Windows (after an installer closed it) gets:
// its "/DEBUG" argument, nothing else. It comes back to the tray, whatever brought the
// first one up, and never as "/Exit".
std::wstring RestartArguments(const std::wstring& arguments);

}  // namespace velmora
