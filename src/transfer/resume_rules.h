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
// (MaskUrlSecrets: a re-signed URL of the same object is the same source too).
std::wstring SourceForRecord(const std::wstring& source);

// The proof of content an HTTP answer gives: its strong ETag, else its Last-Modified date;
// empty when it gives neither (such a download is never resumed). A weak ETag ("W/...")
// cannot be used in If-Range.
std::wstring HttpValidator(const std::wstring& etag, const std::wstring& lastModified);
// An FTP file's proof: its size and last-write time, as the listing gives them.
std::wstring FtpValidator(int64_t size, const std::wstring& lastWriteTime);

struct ResumeRecord {
  std::wstring source;     // SourceForRecord of the source
  std::wstring validator;  // HttpValidator or FtpValidator; empty: not resumable
};
std::string ComposeRecord(const ResumeRecord& record);
// False for anything but a complete record of this layout.
bool ParseRecord(const std::string& text, ResumeRecord& record);

// Whether kept bytes may be continued: a readable record for this very source with a
// validator, some bytes, and younger than the age limit.
bool PartUsable(bool recordRead, const ResumeRecord& record, const std::wstring& source, int64_t partSize,
                int64_t ageSeconds);

// The request headers of a resumed HTTP attempt ("Range: bytes=n-" and "If-Range: v").
std::wstring ResumeHeaders(int64_t offset, const std::wstring& validator);

// "bytes first-last/total" ("*" for an unknown total); false when it is not that.
bool ParseContentRange(const std::wstring& text, int64_t& first, int64_t& last, int64_t& total);

enum class RangeAnswer {
  Continue,   // 206 from exactly the kept size, for the recorded content
  StartOver,  // the whole body (200): truncate and write from byte 0
  Refused,    // neither: the kept bytes are dropped and the file asked for whole
  Other       // an error status, handled as any other
};
// How an HTTP answer to a resumed request is taken. `validator` is the answer's own
// (HttpValidator of its headers): a 206 for other content than recorded is refused even
// when a server ignored If-Range.
RangeAnswer JudgeRangeAnswer(int64_t status, const std::wstring& contentRange, int64_t offset,
                             const std::wstring& recorded, const std::wstring& validator);

}  // namespace velmora
