// Rules of resuming a download: what is kept beside the destination, what proves that a
// server still has the same content, and whether its answer continues the kept bytes.
// Plain C++, tested natively; the files themselves are handled in local_target.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// The kept bytes: "<destination>.vskpart". Their count is the file's real size, never a
// number written anywhere, so a crash between a write and a note cannot make them lie.
std::wstring PartPath(const std::wstring& destination);
// What the kept bytes are: "<destination>.vskpart.rec", replaced whole by a rename.
std::wstring RecordPath(const std::wstring& destination);

inline constexpr int64_t kPartMaxAgeSeconds = 7 * 24 * 3600;

// The source as recorded: its user information's password taken out, so the record never
// holds one (a changed password is still the same source), and its other secrets masked
// (MaskUrlSecrets: a re-signed URL of the same object is the same source too). An http://
// or https:// source is read as a URL (the authority ends at the first "/"); any other
// source is read as the FTP login reads it (SplitFtpSource), so a password holding "/"
// goes whole.
std::wstring SourceForRecord(const std::wstring& source);

// The proof of content an HTTP answer gives: its strong ETag; when it has no ETag at all,
// its Last-Modified date, but only when that is at least 60 s before the answer's Date (a
// file can change twice within the second a date names); otherwise empty, and such a
// download is never resumed. A weak ETag ("W/...") cannot be used in If-Range and, being
// an entity tag, rules the date out too. A missing or unreadable date proves nothing.
std::wstring HttpValidator(const std::wstring& etag, const std::wstring& lastModified, const std::wstring& date);
// What an FTP server says of a file's content when an attempt starts.
struct FtpContent {
  int64_t size = -1;        // SIZE's count, else the listing's; -1: unknown
  std::wstring modified;    // MDTM's time to the second; empty: the server has no MDTM
  bool listed = false;      // the listing named the file
  uint64_t listedTime = 0;  // the listing's last-write time (FILETIME ticks, as listed)
  uint64_t askedAt = 0;     // the agent's clock (FILETIME ticks, UTC) just before the listing was asked for
};
// An FTP file's proof: its size and MDTM time ("ftp <size> mdtm <time>"). A server
// without MDTM lists times to the minute at best (and to the day for older files), so a
// file replaced by one of the same size within that minute would list the same; its
// listed time proves the content ("ftp <size> list <high$low>") only when it is to the
// minute and that minute had passed when the listing was asked for: a later change then
// lists a later minute. Otherwise, and without a size, empty: nothing is kept to continue.
std::wstring FtpValidator(const FtpContent& content);

enum class FtpKeptUse {
  StartOver,  // nothing kept, another content, or more bytes than the file has: from byte 0
  Continue,   // REST at the kept size
  Complete    // the kept bytes are the whole file: put in place without a transfer
};
// What the kept bytes of an FTP part are worth against the file the server has now.
FtpKeptUse JudgeFtpKept(int64_t kept, const std::wstring& recorded, const std::wstring& validator, int64_t size);

struct ResumeRecord {
  std::wstring source;     // SourceForRecord of the source
  std::wstring validator;  // HttpValidator or FtpValidator; empty: not resumable
};
std::string ComposeRecord(const ResumeRecord& record);
// False for anything but a complete record of this layout, and for one whose validator
// holds a control character: a record is a file anyone may have written, and its
// validator goes into a request header.
bool ParseRecord(const std::string& text, ResumeRecord& record);

// Whether kept bytes may be continued: a readable record for this very source with a
// validator, some bytes, and younger than the age limit.
bool PartUsable(bool recordRead, const ResumeRecord& record, const std::wstring& source, int64_t partSize,
                int64_t ageSeconds);

// The request headers of a resumed HTTP attempt ("Range: bytes=n-" and "If-Range: v");
// empty, so nothing is resumed, for a validator that is none or holds a control character.
std::wstring ResumeHeaders(int64_t offset, const std::wstring& validator);

// "bytes first-last/total" ("*" for an unknown total); false when it is not that.
bool ParseContentRange(const std::wstring& text, int64_t& first, int64_t& last, int64_t& total);

enum class RangeAnswer {
  Continue,   // 206 from exactly the kept size, for the recorded content, of a stated size
  StartOver,  // the whole body (200), or any answer below 400 to a request without a range
  Refused,    // neither: the kept bytes are dropped and the file asked for whole
  Unasked,    // 206 to a request that sent no range: not the file, and a failure
  Other       // an error status, handled as any other
};
struct RangeJudgement {
  RangeAnswer answer = RangeAnswer::Other;
  int64_t end = -1;    // Continue: where the answer's bytes end (its last byte + 1)
  int64_t total = -1;  // Continue: the file's size as the answer states it
};
// How an HTTP answer is taken. `offset`: the kept size the request asked to continue, 0
// when it sent no Range. `contentLength`: -1 when the answer has none. `validator` is what
// the answer names its content by (its ETag, else its Last-Modified, strong or not): a 206
// for other content than recorded is refused even when a server ignored If-Range. A 206 continues only when its bytes start
// at `offset`, its Content-Length (if any) is their count, and it states the file's size:
// only then can the kept and the received bytes be shown to be the whole file. One that
// ends before that size is still a continuation; the attempt that takes it ends cut short.
RangeJudgement JudgeRangeAnswer(int64_t status, const std::wstring& contentRange, int64_t contentLength,
                                int64_t offset, const std::wstring& recorded, const std::wstring& validator);

}  // namespace velmora
