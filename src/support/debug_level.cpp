#include "debug_level.h"

#include "text.h"

namespace velmora {

int32_t DebugLevelFromWord(const std::wstring& word) {
  const std::wstring w = UpperCase(word);
  if (w == L"MAX") return 10;
  if (w == L"NORMAL" || w == L"MEDIUM") return 5;
  if (w == L"NONE" || w == L"OFF") return 0;
  return 10;
}

std::optional<int32_t> DebugLevelFromCommandLine(const std::wstring& arguments) {
  if (FindNoCase(arguments, L"/DEBUG") == std::wstring::npos) return std::nullopt;
  std::wstring upper = UpperCase(arguments);
  const size_t first = upper.find_first_not_of(L' ');
  const size_t last = upper.find_last_not_of(L' ');
  upper = first == std::wstring::npos ? std::wstring() : upper.substr(first, last - first + 1);
  return DebugLevelFromWord(GetField(upper, L"/DEBUG", L"=", L" "));
}

std::wstring CommandLineArguments(const std::wstring& commandLine) {
  size_t i = 0;
  while (i < commandLine.size() && (commandLine[i] == L' ' || commandLine[i] == L'\t')) ++i;
  if (i < commandLine.size() && commandLine[i] == L'"') {
    const size_t close = commandLine.find(L'"', i + 1);
    i = close == std::wstring::npos ? commandLine.size() : close + 1;
  } else {
    while (i < commandLine.size() && commandLine[i] != L' ' && commandLine[i] != L'\t') ++i;
  }
  while (i < commandLine.size() && (commandLine[i] == L' ' || commandLine[i] == L'\t')) ++i;
  return commandLine.substr(i);
}

bool HasNoMinimise(const std::wstring& arguments) {
  return FindNoCase(arguments, L"/NoMinimise") != std::wstring::npos;
}

bool HasExitSwitch(const std::wstring& arguments) {
  // A whole word only: an installer's command line must never stop the agent by accident.
  const std::wstring upper = UpperCase(arguments);
  size_t i = 0;
  while (i < upper.size()) {
    while (i < upper.size() && (upper[i] == L' ' || upper[i] == L'\t')) ++i;
    size_t end = i;
    while (end < upper.size() && upper[end] != L' ' && upper[end] != L'\t') ++end;
    if (upper.compare(i, end - i, L"/EXIT") == 0) return true;
    i = end;
  }
  return false;
}

}  // namespace velmora
