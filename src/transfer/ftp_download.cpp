// FTP downloads and deletes. Every cFTP call that talks to the server runs on a worker
// while the window keeps answering; the transfer itself is one call whose progress is
// the growth of the file it writes.
#include "transfer/ftp_download.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <memory>
#include <optional>
#include <cmath>
#include <exception>

#include "support/ansi.h"
#include "support/components.h"
#include "support/debug_log.h"
#include "support/offthread.h"
#include "support/text.h"
#include "support/velmora_general.h"
#include "transfer/cftp.h"
#include "transfer/change_check.h"
#include "transfer/ftp_rules.h"
#include "transfer/local_target.h"
#include "transfer/resume_rules.h"
#include "transfer/sha256.h"

namespace velmora {

namespace {

constexpr int16_t kFtpPort = 21;
constexpr uint32_t kBinary = FTP_TRANSFER_TYPE_BINARY;
constexpr uint32_t kNeedFile = INTERNET_FLAG_NEED_FILE;

void Log(const std::wstring& text, int level, int mark = kMarkNone) { WriteDebugLog(text, level, mark); }

std::wstring Describe(const std::exception& e) { return FromAnsi(std::string(e.what())); }

// Why the last cFTP operation failed: the server's own reply when it gave one, else the
// system's text for the error code; empty when the object has nothing to say (it was
// never connected), so that an earlier, better description stands.
std::wstring DescribeFtpFailure(const cFTP& ftp) {
  if (!ftp.LastResponse().empty()) return ftp.LastResponse();
  if (ftp.LastError() != 0) return SystemMessage(static_cast<DWORD>(ftp.LastError()));
  return std::wstring();
}

// The steps between connect and disconnect each run on their own: one that fails is
// noted and the next still runs, so the connection is always closed; the last
// description noted is the one reported.
class StepFailures {
 public:
  template <typename Step>
  void Run(Step&& step) {
    try {
      step();
    } catch (const std::exception& e) {
      Note(Describe(e));
    }
  }
  void Note(const std::wstring& description) {
    failed_ = true;
    if (!description.empty()) description_ = description;
  }
  bool Failed() const { return failed_; }
  const std::wstring& Description() const { return description_; }

 private:
  bool failed_ = false;
  std::wstring description_;
};

// The login of a source: the request's, or the URL's user information as the bytes its
// percent-encoding stands for (cFTP hands the text to the server in the ANSI code page,
// which gives those bytes back).
FtpLogin LoginFor(const FtpSource& source, const DownloadRequest& request) {
  FtpLogin login = ChooseFtpLogin(source, request.Username, request.Password);
  if (login.fromUrl) {
    login.user = FromAnsi(PercentDecode(ToAnsi(login.user)));
    login.password = FromAnsi(PercentDecode(ToAnsi(login.password)));
  }
  return login;
}

// The last-write time of the remote file (FILETIME ticks, as listed), by a login of its
// own that ends (and disconnects) however this returns. Throws when nothing was listed:
// without the time the download is not complete.
uint64_t GetRemoteFileTime(const std::wstring& remotePath, const std::wstring& server, const std::wstring& userName,
                           const std::wstring& password, bool passive) {
  cFTP query;
  query.Connect(server, kFtpPort, userName, password, passive);
  // From the root, as the download resolved it: the login folder may be another one.
  query.List(L"/" + remotePath);
  const WIN32_FIND_DATAA item = query.ListItem(0);
  return fileutil::Ticks(item.ftLastWriteTime);
}

std::wstring TimeText(uint64_t ticks) {
  return LastWriteTimeText(static_cast<uint32_t>(ticks >> 32), static_cast<uint32_t>(ticks));
}

// The kept bytes of a complete part into `hasher`, read on the worker: a large file costs
// the window no wait. False when they could not be read whole.
bool HashKeptOffThread(std::shared_ptr<UniqueFile> local, int64_t kept, std::shared_ptr<Sha256Hasher> hasher) {
  auto read = std::make_shared<bool>(false);
  const offthread::Outcome outcome =
      offthread::Run([local, kept, hasher, read] { *read = HashKeptBytes(local->get(), kept, *hasher); });
  return outcome.finished && *read;
}

AttemptResult Failed(const std::wstring& why, FailureKind kind = FailureKind::Permanent, int code = 0) {
  return AttemptResult::Failure(why, kind, code);
}

}  // namespace

AttemptResult FtpDownload::Run() {
  AttemptResult result = Fetch(false);
  if (!result.Succeeded() || host_.Stop() != StopReason::None || request_.LinkedSourceFileName.empty())
    return result;
  WriteDebugLog(L"Downloading Linked FTP File " + request_.LinkedSourceFileName, 10, kMarkNone);
  const AttemptResult linked = Fetch(true);
  result.linkedDone = linked.Succeeded();
  result.onlyCopyKept = linked.onlyCopyKept;
  return result;
}

AttemptResult FtpDownload::Fetch(bool isLinked) {
  DownloadRequest& request = request_;
  const std::wstring& source = isLinked ? request.LinkedSourceFileName : request.SourceFileName;
  const std::wstring& destination = isLinked ? request.LinkedDestinationFileName : request.DestinationFileName;
  bool& keptUnchanged = isLinked ? request.LinkedUnchanged : request.Unchanged;
  keptUnchanged = false;
  Log(L"Started DownloadFTPFile " + source, 5, kMarkStart);
  const std::shared_ptr<cFTP> ftp = host_.Ftp();
  if (!host_.Session() || !ftp) {
    Log(L"Exiting DownloadFTPFile as no internet connection", 5, kMarkEnd);
    return Failed(L"no internet connection");
  }
  host_.ShowStatus(L" Download FTP file..", true);
  host_.ShowPercent(0);

  // The old destination stays until the new file is complete, so one that could not be
  // replaced at the end is refused now, before the server is bothered.
  if (!DestinationWritable(destination)) {
    Log(L"Exiting DownloadFTPFile as couldn't remove existing temporary destination file", 5, kMarkEnd);
    return Failed(L"couldn't remove existing temporary destination file");
  }
  // The data goes into the part beside the destination, written by us rather than by
  // WinINet (which deletes its target when a transfer fails), so a cut keeps what arrived.
  PartFile part(destination);
  std::wstring recorded;
  const int64_t kept = part.Kept(source, recorded);
  auto local = std::make_shared<UniqueFile>();
  if (!part.Path().empty()) *local = part.Open(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!*local) {
    const DWORD error = GetLastError();
    const std::wstring why = destination.empty() ? std::wstring(L"no destination file name")
                                                 : L"cannot write beside " + destination + L" - " + SystemMessage(error);
    Log(L"Exiting DownloadFTPFile as couldn't retrieve file - " + why, 5, kMarkEnd);
    return Failed(why);
  }

  const FtpSource split = SplitFtpSource(source);
  const FtpLogin login = LoginFor(split, request);
  const std::wstring remotePath = split.remotePath;
  Log(L"Setting up FTP download from - " + split.hostAndPath, -1);

  StepFailures steps;
  if (!split.hasPath) steps.Note(L"no \"/\" after the host in " + split.hostAndPath);
  const std::wstring& server = split.server;
  host_.ShowStatus(L" Downloading FTP file - " + remotePath, true);
  Log(L"'GET'ting file from server - " + split.hostAndPath, -1);
  // The checksum names the request's own file: the linked one is never checked.
  const std::wstring digest = isLinked ? std::wstring() : sha256_;
  const std::optional<ChangeRecord> record =
      request.IfChanged ? UsableChangeRecord(host_, source, destination, digest) : std::nullopt;
  if (record)
    Log(L"Asking only if changed - SIZE and MDTM against " + ToDecimal(record->serverSize) + L" bytes of " +
            (record->serverTime.empty() ? std::wstring(L"no time") : record->serverTime),
        -1);

  bool downloaded = false;
  bool cutShort = false;
  // Each phase has the whole stall limit; the transfer itself is one call, whose progress
  // is the growth of the file it writes.
  host_.NoteData();
  steps.Run([&] { ftp->Connect(server, kFtpPort, login.user, login.password, request.PassiveMode); });
  host_.NoteData();
  // The remote size and time prove the content: they are recorded before the first byte,
  // and a kept part continues only when they are unchanged. Without them (no listing, or
  // a time that proves nothing) the record names no content, so nothing of this transfer
  // is kept for a later one.
  FtpContent content;
  FtpFileFacts facts;
  steps.Run([&] {
    FILETIME asked{};
    GetSystemTimeAsFileTime(&asked);
    content.askedAt = fileutil::Ticks(asked);
    if (!ftp->List(L"/" + remotePath)) return;
    const WIN32_FIND_DATAA item = ftp->ListItem(0);
    content.listed = true;
    content.size = (static_cast<int64_t>(item.nFileSizeHigh) << 32) | item.nFileSizeLow;
    content.listedTime = fileutil::Ticks(item.ftLastWriteTime);
    if (!ftp->FileFacts(L"/" + remotePath, facts)) return;
    if (facts.size >= 0) content.size = facts.size;
    content.modified = facts.modified;
  });
  host_.NoteData();
  const int64_t listedSize = content.size;
  const std::wstring validator = FtpValidator(content);
  // The server's own SIZE and MDTM, each as recorded, and a listing for the reply's time.
  // The destination is looked at again: it may have been edited while the server was asked.
  const bool unchanged = record && content.listed && !steps.Failed() &&
                         FtpUnchanged(*record, facts.size, facts.modified) && StillAsPlaced(*record);
  const FtpKeptUse use = unchanged ? FtpKeptUse::StartOver : JudgeFtpKept(kept, recorded, validator, listedSize);
  int64_t offset = !unchanged && use == FtpKeptUse::Continue ? kept : 0;
  if (offset > 0) {
    LARGE_INTEGER end{};
    end.QuadPart = offset;
    if (!SetFilePointerEx(local->get(), end, nullptr, FILE_BEGIN)) offset = 0;
  }
  if (offset > 0) Log(L"Resuming " + destination + L" from byte " + ToDecimal(offset), -1);
  // The agent may have ended after the last byte and before the file was put in place
  // (during the second login, for the time): those bytes are the whole file still.
  const bool complete = !unchanged && use == FtpKeptUse::Complete;
  if (complete) Log(L"Kept " + part.Path() + L" holds the whole file - no transfer", -1);
  const bool ready = unchanged || offset > 0 || complete || part.StartOver(local->get(), source, validator);
  if (!ready) steps.Note(L"failed to write to file");
  host_.WatchFile(part.Path(), offset);
  // The checksum names the request's own file, not the linked one; hashed on the worker as
  // it is written, so a large file costs the window no second pass.
  auto hasher = !digest.empty() ? std::make_shared<Sha256Hasher>() : nullptr;
  if (unchanged) {
    // Nothing to fetch: the destination is the file the server has.
  } else if (complete) {
    steps.Run([&] {
      downloaded = !hasher || HashKeptOffThread(local, kept, hasher);
      if (!downloaded) steps.Note(L"failed to read " + part.Path());
    });
  } else if (ready) {
    steps.Run([&] {
      int64_t received = 0;
      auto gaveUp = std::make_shared<std::atomic<bool>>(false);
      downloaded = ftp->DownloadInto(remotePath, local, offset, received, kBinary, kNeedFile, gaveUp, hasher,
                                     host_.Pace());
      if (!downloaded) {
        gaveUp->store(true);
        steps.Note(DescribeFtpFailure(*ftp));
        return;
      }
      // A data connection cut mid-file ends like a whole file under WinINet: the size says.
      const int64_t total = offset + received;
      if (listedSize >= 0 && (offset > 0 ? total != listedSize : total < listedSize)) {
        downloaded = false;
        cutShort = true;
        steps.Note(L"received " + ToDecimal(total) + L" of " + ToDecimal(listedSize) + L" bytes");
      }
    });
  }
  local.reset();
  if (host_.EndFileWatch() > 0) host_.ClearTrayTip();  // the count shown while it grew
  host_.NoteData();
  // A failed transfer has already decided the outcome; a second login to ask for the
  // time would only hold the agent longer on a server that is not answering.
  std::wstring& time = isLinked ? request.LinkedSourceFileLastWriteTime : request.SourceFileLastWriteTime;
  uint64_t listedTime = 0;
  if (downloaded) {
    steps.Run([&] {
      listedTime = GetRemoteFileTime(remotePath, server, login.user, login.password, request.PassiveMode);
      time = TimeText(listedTime);
    });
  }
  // The listing of this login named the same file a moment ago: no second login is needed.
  if (unchanged) time = TimeText(content.listedTime);
  steps.Run([&] { ftp->Disconnect(); });

  if (host_.Stop() == StopReason::Closing) {
    Log(L"Exiting DownloadFTPFile as Skytrove has been unloaded", 5, kMarkEnd);
    return AttemptResult::Ended(AttemptEnd::Closing);
  }
  if (host_.Stop() == StopReason::Cancelled) {
    part.Discard();
    host_.ShowStatus(L"", false);
    host_.ShowPercent(0);
    Log(L"Exiting DownloadFTPFile as cancelled", 5, kMarkEnd);
    return AttemptResult::Ended(AttemptEnd::Cancelled);
  }
  if (steps.Failed()) {
    const std::wstring why = steps.Description().empty() ? L"the file did not arrive" : steps.Description();
    // A server's reply code decides; without one the server was not reached or went away.
    const int code = FtpReplyCode(why);
    AttemptResult failed = !split.hasPath ? Failed(why)
                           : cutShort     ? Failed(why, FailureKind::CutShort)
                           : code != 0    ? Failed(why, FailureKind::FtpReply, code)
                                          : Failed(why, FailureKind::NoConnection);
    Log(L"Exiting DownloadFTPFile as couldn't retrieve file - " + why, 5, kMarkEnd);
    return failed;
  }

  if (unchanged) {
    part.Discard();
    (isLinked ? request.LinkedSourceFileSize : request.SourceFileSize) = record->size;
    keptUnchanged = true;
    if (!isLinked) host_.Placed();
    KeptUnchanged(host_, *record);
    host_.ShowStatus(L"", true);
    host_.ShowPercent(0);
    Log(L"Finished DownloadFTPFile", 5, kMarkEnd);
    return AttemptResult::Success();
  }

  Log(L"Retrieved file from Server", -1);
  host_.ShowPercent(100);
  const double length = fileutil::FileLength(part.Path());
  const int64_t measuredSize = length > 0 ? std::llround(length) : 0;
  Log(L"Retrieved file from Server, Recieved File length - " + ToDecimal(measuredSize), -1);
  if (measuredSize <= 0) {
    Log(L"Exiting DownloadFTPFile as source file was 0 bytes", 5, kMarkEnd);
    host_.ShowStatus(L"", false);
    host_.ShowPercent(0);
    return Failed(L"source file was 0 bytes");
  }
  (isLinked ? request.LinkedSourceFileSize : request.SourceFileSize) = measuredSize;
  const std::wstring mismatch = hasher ? ChecksumProblem(*hasher, sha256_) : std::wstring();
  if (!mismatch.empty()) {
    part.Discard();
    Log(L"Exiting DownloadFTPFile as " + mismatch, 5, kMarkEnd);
    host_.ShowStatus(L"", false);
    host_.ShowPercent(0);
    return Failed(mismatch);
  }

  // Checked last thing before the replace: a closing agent, or a cancelled request, never
  // replaces a file. From this look to the placing nothing runs messages.
  if (host_.Stop() != StopReason::None) {
    const bool closing = host_.Stop() == StopReason::Closing;
    if (!closing) part.Discard();
    Log(closing ? L"Exiting DownloadFTPFile as Skytrove has been unloaded" : L"Exiting DownloadFTPFile as cancelled",
        5, kMarkEnd);
    return AttemptResult::Ended(closing ? AttemptEnd::Closing : AttemptEnd::Cancelled);
  }
  if (!part.PutInPlace()) {
    Log(L"Exiting DownloadFTPFile as couldn't remove existing temporary destination file", 5, kMarkEnd);
    host_.ShowStatus(L"", false);
    host_.ShowPercent(0);
    AttemptResult failed = Failed(L"couldn't remove existing temporary destination file");
    failed.onlyCopyKept = part.OnlyCopy();
    return failed;
  }
  if (request.KeepServerTime || request.IfChanged) {
    // MDTM's time is the file's own, in UTC; without it, the time the reply gives.
    uint64_t serverTime = 0;
    if (!MdtmTicks(facts.modified, serverTime)) serverTime = listedTime;
    ChangeRecord placed;
    placed.destination = destination;
    placed.source = SourceForRecord(source);
    placed.serverSize = facts.size;
    placed.serverTime = facts.modified;
    placed.sha256 = digest;
    AfterPlacing(host_, placed, serverTime, request.KeepServerTime,
                 request.IfChanged && facts.size >= 0 && !facts.modified.empty());
  }
  if (!isLinked) host_.Placed();
  host_.ShowStatus(L" Finished reading file.", true);
  host_.ShowStatus(L"", true);
  host_.ShowPercent(0);
  Log(L"Finished DownloadFTPFile", 5, kMarkEnd);
  return AttemptResult::Success();
}

AttemptResult FtpDelete::Run() {
  Log(L"Started DeleteFTPFile " + request_.SourceFileName, 5, kMarkStart);
  const std::shared_ptr<cFTP> ftp = host_.Ftp();
  if (!host_.Session() || !ftp) {
    Log(L"Exiting DeleteFTPFile as no internet connection", 5, kMarkEnd);
    return Failed(L"no internet connection");
  }
  host_.ShowStatus(L" Download FTP file..", true);
  host_.ShowPercent(0);
  const FtpSource split = SplitFtpSource(request_.SourceFileName);
  const FtpLogin login = LoginFor(split, request_);
  const std::wstring remotePath = split.remotePath;
  Log(L"Setting up FTP Delete from - " + split.hostAndPath, -1);

  StepFailures steps;
  if (!split.hasPath) steps.Note(L"no \"/\" after the host in " + split.hostAndPath);
  host_.ShowStatus(L" Deleting FTP file - " + remotePath, true);
  Log(L"'DEL'eting file from server - " + split.hostAndPath, -1);
  bool connected = false;
  steps.Run([&] {
    connected = ftp->Connect(split.server, kFtpPort, login.user, login.password, request_.PassiveMode);
    if (!connected) steps.Note(DescribeFtpFailure(*ftp));
  });
  // Without a login there is nothing to delete through, and the attempt would only
  // bury the login's reason under an invalid-handle error.
  if (connected) {
    steps.Run([&] {
      // The folder as a path of its own makes cFTP start from the root, as the download does.
      if (!ftp->DeleteFile(RemoteNamePart(remotePath), L"/" + RemoteDirectoryPart(remotePath)))
        steps.Note(DescribeFtpFailure(*ftp));
    });
    // The server has done it: a replay after a kill would delete whatever is there by then.
    if (!steps.Failed()) host_.Placed();
  }
  steps.Run([&] { ftp->Disconnect(); });

  if (host_.Stop() == StopReason::Closing) {
    Log(L"Exiting DeleteFTPFile as Skytrove has been unloaded", 5, kMarkEnd);
    return AttemptResult::Ended(AttemptEnd::Closing);
  }
  if (steps.Failed()) {
    const std::wstring why = steps.Description().empty() ? L"the file was not deleted" : steps.Description();
    Log(L"Exiting DeleteFTPFile as couldn't delete file - " + why, 5, kMarkEnd);
    return Failed(why);
  }
  Log(L"Deleted file from Server", -1);
  host_.ShowStatus(L" Finished deleting file.", true);
  host_.ShowStatus(L"", true);
  host_.ShowPercent(0);
  Log(L"Finished DeleteFTPFile", 5, kMarkEnd);
  return AttemptResult::Success();
}

}  // namespace velmora
