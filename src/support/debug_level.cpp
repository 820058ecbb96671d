#include "debug_level.h"

#include <vector>

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

namespace {
// The arguments split at blanks.
std::vector<std::wstring> Words(const std::wstring& arguments) {
  std::vector<std::wstring> words;
  size_t i = 0;
  while (i < arguments.size()) {
    while (i < arguments.size() && (arguments[i] == L' ' || arguments[i] == L'\t')) ++i;
    size_t end = i;
    while (end < arguments.size() && arguments[end] != L' ' && arguments[end] != L'\t') ++end;
    if (end > i) words.push_back(arguments.substr(i, end - i));
    i = end;
  }
  return words;
}
}  // namespace

std::wstring RestartArguments(const std::wstring& arguments) {
  std::wstring kept;
  for (const std::wstring& word : Words(arguments)) {
    if (!StartsWithNoCase(word, L"/DEBUG")) continue;
    kept += kept.empty() ? word : L" " + word;
  }
  return kept;
}

bool HasSwitch(const std::wstring& arguments, const std::wstring& name) {
  // A whole word only: an installer's command line must never stop the agent by accident.
  for (const std::wstring& word : Words(arguments))
    if (EqualsNoCase(word, name)) return true;
  return false;
}

}  // namespace velmora
