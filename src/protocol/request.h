// Reading a "GET" request: the keys it can carry and the record they are read into.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/download_request.h"

namespace velmora {

// Every key a request can carry: those the agent reads today and those its coming
// features will read. The requesting side refuses a request in which any of them would
// be read otherwise than its sender meant, so a key is added here before anything reads
// it.
inline constexpr const wchar_t* kRequestKeys[] = {
    L"Type", L"Reference", L"StoryReference", L"SourceFileName", L"DestinationFileName",
    L"LinkedSourceFileName", L"LinkedDestinationFileName", L"Username", L"Password", L"PassiveMode",
    L"ReplyOnFailure", L"StallSeconds", L"Retries", L"Sha256", L"Progress", L"Priority", L"Persist",
    L"IfChanged", L"KeepServerTime", L"MaxBytesPerSecond", L"Pace"};

inline constexpr int kMaxRetries = 10;

// The command word: the text before the first space, upper-cased.
std::wstring CommandWord(const std::wstring& text);

// Whether a request goes at the fast pace: its own "Pace" when it gives one, else the
// machine's; only "Fast" (in any case) is fast.
bool FastPace(const std::wstring& requested, const std::wstring& machine);

// A "GET" text read into a fresh request of window `parent`; nothing for any other command.
// `machinePace`: the machine's Pace, for a request that names none.
std::optional<DownloadRequest> ParseRequest(const std::wstring& text, int32_t parent,
                                            const std::wstring& machinePace = std::wstring());

// Retries=N read as 0..10 (larger values are held to 10, anything else is 0).
int ClampRetries(int32_t requested);

}  // namespace velmora
