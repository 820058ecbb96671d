// The durable queue's file: what a persisted request looks like on disk and how a journal
// is read back, including one cut short by a kill or damaged since. Plain C++; the Windows
// side (journal.cpp) owns the file, the flushes and the sealing of passwords.
//
// Layout: an 8-byte header ("VSQJ" and the format version, little-endian 32-bit), then
// records. A record is its body's length and the CRC-32 of the body (both little-endian
// 32-bit) and the body. A body is an "add" (a request accepted) or a "done" (that request
// ended), each naming the request by a number that is never reused within one journal.
// Appends only: a kill leaves at worst one incomplete record at the end, which the length
// or the checksum gives away, and every record before it is whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/download_request.h"

namespace velmora {

inline constexpr uint32_t kJournalVersion = 1;
inline constexpr size_t kJournalHeaderSize = 8;
// A body larger than this is damage, not a request: no field a requester can send comes near.
inline constexpr uint32_t kMaxJournalRecord = 16u << 20;

uint32_t Crc32(const std::string& bytes);

// Turns the secret part of a request into bytes only its user can turn back (and back);
// false when that cannot be done.
using Sealer = std::function<bool(const std::string& in, std::string& out)>;

std::string JournalHeader();
// A whole record around `body`.
std::string JournalRecord(const std::string& body);

// The body recording that request `id` was accepted. The passwords (the Password field
// and a URL's user information in either source) go only into the sealed part; the clear
// part keeps the sources with their passwords masked. Nothing when sealing fails.
// The requester's process (RequesterProcessId, RequesterProcessCreated) goes with it.
std::optional<std::string> AddBody(uint64_t id, const DownloadRequest& request, const Sealer& seal);
std::string DoneBody(uint64_t id);

struct JournalEntry {
  uint64_t id = 0;
  DownloadRequest request;  // passwords still sealed: see `sealed`
  std::string sealed;  // empty when the request had no password
  std::string record;  // the whole record as read, for rewriting the journal
};

// Puts the sealed passwords back into `entry.request`; false when they cannot be unsealed
// (another user's journal, a damaged blob).
bool UnsealEntry(JournalEntry& entry, const Sealer& unseal);

enum class JournalProblem { None, Truncated, BadChecksum, BadRecord, UnknownVersion, NotAJournal };

struct JournalContents {
  std::vector<JournalEntry> live;  // added and not done, in the order they were added
  uint64_t lastId = 0;             // the largest number seen, live or not
  JournalProblem problem = JournalProblem::None;
  size_t readableBytes = 0;  // the whole records (and header) before the problem
};

// The whole, sound records of `bytes` from `at` on, each body handed to `take` with where
// its record starts and its length; `take` answers false for a body it cannot read. Stops
// at the first problem, `at` then where it stands, and names it (None: read to the end).
using RecordReader = std::function<bool(const std::string& body, size_t start, size_t length)>;
JournalProblem ReadRecords(const std::string& bytes, size_t& at, const RecordReader& take);

// Reads as far as the records are whole and sound; everything after the first bad one is
// left unread. An empty text is an empty journal.
JournalContents ReadJournal(const std::string& bytes);

// Words for the log: "a record cut short at byte 123", "an unknown version 7".
std::wstring DescribeProblem(const JournalContents& contents);

// Below this much of ended requests' records a journal that still holds requests is left
// to grow: writing it afresh on every end would cost more than the bytes it saves.
inline constexpr uint64_t kJournalCompactFloor = 64u << 10;

// Whether the journal is to be written afresh holding the live records only: always once
// nothing is left in it, otherwise when the records of ended requests (their adds and the
// dones) outweigh the live ones. A steady backlog keeps the file within twice its live
// records (or the floor), and each byte is rewritten a bounded number of times.
bool JournalWantsRewrite(uint64_t liveBytes, uint64_t deadBytes);

}  // namespace velmora
