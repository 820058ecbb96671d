// The durable queue's decisions over its file, in plain C++: what is read back at start,
// when damage is set aside, when the journal is written afresh, in which order. The few
// file operations are behind JournalFiles (Win32 in journal_files.cpp, in memory in the
// tests), so that every order of writes can be checked against a kill at each step.
//
// The rule throughout: at no step may a kill leave fewer live requests on disk than were
// readable before, nor bring back one whose end was noted. A damaged journal is copied
// aside (flushed) before anything replaces it, and it is replaced only by one rename of a
// whole, flushed file; an end is appended before the journal is compacted.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "protocol/download_request.h"
#include "app/journal_rules.h"

namespace velmora {

class JournalFiles {
 public:
  enum class Read { Whole, Missing, Failed };
  virtual ~JournalFiles() = default;
  // The journal's bytes; Failed with the system's words in `why`.
  virtual Read ReadJournal(std::string& bytes, std::wstring& why) = 0;
  // `length` bytes of it from `offset`; false, with words in `why`, when not all of them
  // can be read. By default read out of the whole file.
  virtual bool ReadPart(uint64_t offset, size_t length, std::string& bytes, std::wstring& why);
  // A flushed copy of the journal as it is, beside it; `aside` names it for the log.
  virtual bool CopyAside(std::wstring& aside, std::wstring& why) = 0;
  // The next journal, written whole beside the journal and flushed.
  virtual bool WriteFresh(const std::string& bytes, std::wstring& why) = 0;
  // The fresh file put over the journal by one rename, then held open for appending.
  virtual bool PutFreshInPlace(std::wstring& why) = 0;
  virtual void DeleteFresh() = 0;
  // Appended after the bytes put in place and appended since (after the file's end when
  // nothing was put in place), flushed. On failure the journal may end in part of it: the
  // next write starts afresh.
  virtual bool Append(const std::string& record, std::wstring& why) = 0;
};

using JournalLog = std::function<void(const std::wstring&)>;

// `bytes` written beside the file and flushed, then put in its place by one rename: a kill
// at any point leaves either the old file or the new one, each whole.
bool WriteAfresh(JournalFiles& files, const std::string& bytes, std::wstring& why);

class JournalStore {
 public:
  JournalStore(JournalFiles& files, JournalLog log) : files_(files), log_(std::move(log)) {}
  JournalStore(const JournalStore&) = delete;
  JournalStore& operator=(const JournalStore&) = delete;

  // Reads the journal left by the last run and starts a fresh one holding only what is
  // still to do; whatever cannot be read is kept in a copy aside first. Returns the
  // requests to queue again, in their order, their passwords unsealed.
  std::vector<DownloadRequest> Open(const Sealer& unseal);
  // The number the next request gets.
  uint64_t NextId() const { return lastId_ + 1; }
  // Writes the add record `body` of request `id` through to the disk; false, with words
  // in `why`, when it cannot be kept (or could not be read back).
  bool Add(uint64_t id, const std::string& body, std::wstring& why);
  // Request `id` has ended; false, with words in `why`, when that could not be noted.
  bool Done(uint64_t id, std::wstring& why);
  size_t Live() const { return live_.size(); }

 private:
  // The journal ready for an append: a damaged one set aside, then written afresh.
  bool Ready(std::wstring& why);
  bool Rewrite(std::wstring& why);
  bool Append(const std::string& record, std::wstring& why);

  JournalFiles& files_;
  JournalLog log_;
  std::map<uint64_t, std::string> live_;  // the live records by number, which is their order
  uint64_t liveBytes_ = 0;
  uint64_t size_ = 0;  // the journal's bytes while appendable
  uint64_t lastId_ = 0;
  bool appendable_ = false;
  bool damaged_ = false;  // the journal on disk holds what must be copied aside first
};

}  // namespace velmora
