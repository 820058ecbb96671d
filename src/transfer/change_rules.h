// Fetching only what changed: what the agent remembers of a file an IfChanged=1 request
// placed, and what that memory lets a later request ask of the server. Plain C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

// One destination as it was placed, and what the server said of the file it holds.
struct ChangeRecord {
  std::wstring destination;   // as the request named it
  std::wstring source;        // SourceForRecord: no password, no credential
  std::wstring etag;          // HTTP: as the server sent it, strong or weak; empty: none
  std::wstring lastModified;  // HTTP: as the server sent it; empty: none
  int64_t serverSize = -1;    // FTP: SIZE's count; -1: the server gave none
  std::wstring serverTime;    // FTP: MDTM's time (YYYYMMDDhhmmss); empty: none
  int64_t size = -1;          // the destination's size as placed
  uint64_t writeTime = 0;     // its last-write time as placed (FILETIME ticks), after the server's was set
  std::wstring sha256;        // the digest its bytes were checked against when placed; empty: none
};

// The most destinations remembered; the least recently used goes first.
inline constexpr size_t kMaxChangeRecords = 100000;

// One destination under its two spellings: Windows names ignore case and take "/" for "\".
std::wstring ChangeKey(const std::wstring& destination);

std::string ChangeBody(const ChangeRecord& record);
// False for anything but a whole body of this layout, and for one whose validator could
// not go into a request header as it is (a control character): the file is the user's to
// write, and its texts go to a server.
bool ReadChangeBody(const std::string& body, ChangeRecord& record);

// Whether `record` still speaks for the destination: the same source, and the file there
// has the size and last-write time it was placed with (a file edited or replaced since is
// not the one the server validated). A request with a digest (`sha256`, empty for none)
// takes only a file that was checked against that same digest.
bool RecordHolds(const ChangeRecord& record, const std::wstring& recordedSource, const std::wstring& sha256,
                 int64_t size, uint64_t writeTime);

// The one condition an HTTP request sends: "If-None-Match: <etag>" when an ETag was
// recorded, else "If-Modified-Since: <Last-Modified>", never both; empty when neither.
std::wstring ConditionHeader(const ChangeRecord& record);
// A 304 proves the recorded file only when any entity tag it names is the recorded one
// (compared weakly: the condition was).
bool NotModifiedConfirms(const ChangeRecord& record, const std::wstring& answerEtag);
// FTP: unchanged only when the server answered both SIZE and MDTM, each as recorded.
bool FtpUnchanged(const ChangeRecord& record, int64_t serverSize, const std::wstring& serverTime);

// Server times as FILETIME ticks (100 ns since 1601, UTC); false for a text that is none.
bool HttpDateTicks(const std::wstring& date, uint64_t& ticks);
bool MdtmTicks(const std::wstring& time, uint64_t& ticks);

}  // namespace velmora
