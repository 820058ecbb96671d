// The requesting side's text rules: composing a "GET" request that the agent reads back
// exactly, and reading its "GOT" and "FAILED" replies. Plain C++, built on the agent's own
// field rules so that both sides read and write one grammar.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace skytrove {

struct Field {
  std::wstring key;
  std::wstring value;
};

// "GET" and the fields in the given order, with "ReplyOnFailure=1" added when asked for
// and not already given. The text is read back the way the agent reads it, for every key
// given and every key the agent knows (velmora::kRequestKeys); a request that reads back
// otherwise than asked gives an empty text and names the field in `problem`: a value with
// both a double quote and a space, one that starts with a double quote, one holding
// " Key=" of a known or given key, a key given twice, a key with a space, "=" or a quote.
std::wstring ComposeRequest(const std::vector<Field>& fields, bool replyOnFailure, std::wstring& problem);

// The answers to a request (GOT, FAILED) and the requester-control messages.
enum class ReplyKind { Got, Failed, Cancelled, Status, Progress };

struct ParsedReply {
  ReplyKind kind = ReplyKind::Got;
  std::wstring type;
  std::wstring reference;
  int32_t storyReference = 0;
  int64_t sourceFileSize = 0;
  std::wstring sourceFileName;
  std::wstring destinationFileName;
  std::wstring sourceFileLastWriteTime;
  bool linked = false;  // the linked file was fetched: the four linked fields are present
  int64_t linkedSourceFileSize = 0;
  std::wstring linkedSourceFileName;
  std::wstring linkedDestinationFileName;
  std::wstring linkedSourceFileLastWriteTime;
  std::wstring reason;  // "FAILED", and "STATUS" of a failed request
  // "STATUS" and "PROGRESS"
  std::wstring state;
  int64_t position = -1;
  int64_t bytesDone = 0;
  int64_t bytesTotal = -1;
  int64_t count = 0;  // "CANCELLED"
  bool unchanged = false;        // "GOT" and "STATUS": Unchanged=1, the destination was kept
  bool linkedUnchanged = false;  // "GOT": LinkedUnchanged=1
};

// A "GOT", "FAILED", "CANCELLED", "STATUS" or "PROGRESS" text (command word in any case);
// nothing for anything else.
std::optional<ParsedReply> ParseReply(const std::wstring& text);

// "CANCEL Reference=<r>" or "STATUS Reference=<r>"; empty, with the problem, when the
// reference would be read back otherwise.
std::wstring ComposeControl(const std::wstring& command, const std::wstring& reference, std::wstring& problem);

// Whether a reply (GOT or FAILED) answers the request that carried this reference, source and destination.
bool Answers(const ParsedReply& reply, const std::wstring& reference, const std::wstring& sourceFileName,
             const std::wstring& destinationFileName);

}  // namespace skytrove
