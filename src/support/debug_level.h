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

// True when one of the arguments is "/Exit", in any case: stop a running agent, start none.
bool HasExitSwitch(const std::wstring& arguments);

}  // namespace velmora
