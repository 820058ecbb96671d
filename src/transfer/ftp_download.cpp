// The window's FTP procedures: one file of a request fetched through the window's cFTP
// object (with its size and remote last-write time), and one remote file deleted.
// WinINet blocks the thread for the whole transfer; nothing else runs meanwhile.
#include <windows.h>
#include <wininet.h>

#include <array>
#include <atomic>
#include <memory>
#include <cmath>
#include <exception>

#include "app/main_window.h"
#include "support/ansi.h"
#include "support/components.h"
#include "support/debug_log.h"
#include "support/text.h"
#include "support/velmora_general.h"
#include "transfer/cftp.h"
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

}  // namespace

bool frmVelmoraSkytrove::DownloadFTPFile(DownloadRequest& request, bool isLinked) {
  const std::wstring& source = isLinked ? request.LinkedSourceFileName : request.SourceFileName;
  const std::wstring& destination = isLinked ? request.LinkedDestinationFileName : request.DestinationFileName;
  Log(L"Started DownloadFTPFile " + source, 5, kMarkStart);
  if (!session_ || !ftp_) {
    SetFailureReason(L"no internet connection");
    Log(L"Exiting DownloadFTPFile as no internet connection", 5, kMarkEnd);
    return false;
  }
  SetStatusText(L" Download FTP file..", true);
  prgProgress_.SetValue(0);

  // The old destination stays until the new file is complete, so one that could not be
  // replaced at the end is refused now, before the server is bothered.
  if (!DestinationWritable(destination)) {
    SetFailureReason(L"couldn't remove existing temporary destination file");
    Log(L"Exiting DownloadFTPFile as couldn't remove existing temporary destination file", 5, kMarkEnd);
    return false;
  }
  // The data goes into the part beside the destination, written by us rather than by
  // WinINet (which deletes its target when a transfer fails), so a cut keeps what arrived.
  PartFile part(destination);
  std::wstring recorded;
  const int64_t kept = part.Kept(source, recorded);
  auto local = std::make_shared<UniqueFile>();
  if (!part.Path().empty())
    local->reset(CreateFileW(part.Path().c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!*local) {
    const DWORD error = GetLastError();
    const std::wstring why = destination.empty() ? std::wstring(L"no destination file name")
                                                 : L"cannot write beside " + destination + L" - " + SystemMessage(error);
    SetFailureReason(why);
    Log(L"Exiting DownloadFTPFile as couldn't retrieve file - " + why, 5, kMarkEnd);
    return false;
  }

  const FtpSource split = SplitFtpSource(source);
  const FtpLogin login = LoginFor(split, request);
  currentRemotePath_ = split.remotePath;
  Log(L"Setting up FTP download from - " + split.hostAndPath, -1);

  StepFailures steps;
  if (!split.hasPath) steps.Note(L"no \"/\" after the host in " + split.hostAndPath);
  const std::wstring& server = split.server;
  SetStatusText(L" Downloading FTP file - " + currentRemotePath_, true);
  measuredSize_ = 0;
  Log(L"'GET'ting file from server - " + split.hostAndPath, -1);

  bool downloaded = false;
  bool cutShort = false;
  // Each phase has the whole stall limit; the transfer itself is one call, whose progress
  // is the growth of the file it writes.
  NoteData();
  steps.Run([&] {
    ftp_->Connect(server, kFtpPort, login.user, login.password, request.PassiveMode);
  });
  NoteData();
  // The remote size and time prove the content: they are recorded before the first byte,
  // and a kept part continues only when they are unchanged. Without them (no listing)
  // the record names no content, so nothing of this transfer is kept for a later one.
  int64_t listedSize = -1;
  std::wstring validator;
  steps.Run([&] {
    if (!ftp_->List(L"/" + currentRemotePath_)) return;
    const WIN32_FIND_DATAA item = ftp_->ListItem(0);
    listedSize = (static_cast<int64_t>(item.nFileSizeHigh) << 32) | item.nFileSizeLow;
    validator = FtpValidator(listedSize, LastWriteTimeText(item.ftLastWriteTime.dwHighDateTime,
                                                           item.ftLastWriteTime.dwLowDateTime));
  });
  NoteData();
  int64_t offset = kept > 0 && validator == recorded && kept < listedSize ? kept : 0;
  if (offset > 0) {
    LARGE_INTEGER end{};
    end.QuadPart = offset;
    if (!SetFilePointerEx(local->get(), end, nullptr, FILE_BEGIN)) offset = 0;
  }
  if (offset > 0) Log(L"Resuming " + destination + L" from byte " + ToDecimal(offset), -1);
  const bool ready = offset > 0 || part.StartOver(local->get(), source, validator);
  if (!ready) steps.Note(L"failed to write to file");
  stallWatchFile_ = part.Path();
  stallWatchSize_ = offset;
  // The checksum names the request's own file, not the linked one; hashed on the worker as
  // it is written, so a large file costs the window no second pass.
  auto hasher = !sha256_.empty() && !isLinked ? std::make_shared<Sha256Hasher>() : nullptr;
  if (ready) {
    steps.Run([&] {
      int64_t received = 0;
      auto gaveUp = std::make_shared<std::atomic<bool>>(false);
      downloaded =
          ftp_->DownloadInto(currentRemotePath_, local, offset, received, kBinary, kNeedFile, gaveUp, hasher);
      if (!downloaded) {
        gaveUp->store(true);
        steps.Note(DescribeFtpFailure(*ftp_));
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
  stallWatchFile_.clear();
  if (stallWatchSize_ > 0) ShowTrayTip(L"");  // the count shown while it grew
  NoteData();
  // A failed transfer has already decided the outcome; a second login to ask for the
  // time would only hold the agent longer on a server that is not answering.
  if (downloaded) {
    steps.Run([&] {
      std::wstring& time = isLinked ? request.LinkedSourceFileLastWriteTime : request.SourceFileLastWriteTime;
      time = GetRemoteFileTime(currentRemotePath_, server, login.user, login.password, request.PassiveMode);
    });
  }
  steps.Run([&] { ftp_->Disconnect(); });

  if (unloaded_) {
    Log(L"Exiting DownloadFTPFile as Skytrove has been unloaded", 5, kMarkEnd);
    return false;
  }
  if (RunningCancelled()) {
    part.Discard();
    SetStatusText(L"", false);
    prgProgress_.SetValue(0);
    Log(L"Exiting DownloadFTPFile as cancelled", 5, kMarkEnd);
    return false;
  }
  if (steps.Failed()) {
    const std::wstring why = steps.Description().empty() ? L"the file did not arrive" : steps.Description();
    SetFailureReason(why);
    // A server's reply code decides; without one the server was not reached or went away.
    const int code = FtpReplyCode(why);
    if (!split.hasPath) SetFailureKind(FailureKind::Permanent);
    else if (cutShort) SetFailureKind(FailureKind::CutShort);
    else if (code != 0) SetFailureKind(FailureKind::FtpReply, code);
    else SetFailureKind(FailureKind::NoConnection);
    Log(L"Exiting DownloadFTPFile as couldn't retrieve file - " + why, 5, kMarkEnd);
    return false;
  }

  Log(L"Retrieved file from Server", -1);
  currentRemotePath_.clear();
  prgProgress_.SetValue(100);
  const double length = fileutil::FileLength(part.Path());
  measuredSize_ = length > 0 ? std::llround(length) : 0;
  Log(L"Retrieved file from Server, Recieved File length - " + ToDecimal(measuredSize_), -1);
  if (measuredSize_ <= 0) {
    SetFailureReason(L"source file was 0 bytes");
    Log(L"Exiting DownloadFTPFile as source file was 0 bytes", 5, kMarkEnd);
    SetStatusText(L"", false);
    prgProgress_.SetValue(0);
    return false;
  }
  (isLinked ? request.LinkedSourceFileSize : request.SourceFileSize) = measuredSize_;
  if (hasher) {
    std::array<unsigned char, 32> digest{};
    const bool hashed = hasher->Finish(digest);
    if (!hashed || !DigestMatches(sha256_, digest.data(), digest.size())) {
      const std::wstring why = hashed ? L"checksum mismatch: the data hashes to " + DigestText(digest)
                                      : std::wstring(L"checksum could not be computed");
      SetFailureReason(why);
      part.Discard();
      Log(L"Exiting DownloadFTPFile as " + why, 5, kMarkEnd);
      SetStatusText(L"", false);
      prgProgress_.SetValue(0);
      return false;
    }
  }

  // Checked last thing before the replace: a closing agent, or a cancelled request, never
  // replaces a file.
  if (unloaded_ || RunningCancelled()) {
    Log(unloaded_ ? L"Exiting DownloadFTPFile as Skytrove has been unloaded" : L"Exiting DownloadFTPFile as cancelled", 5,
        kMarkEnd);
    return false;
  }
  if (!part.PutInPlace()) {
    SetFailureReason(L"couldn't remove existing temporary destination file");
    Log(L"Exiting DownloadFTPFile as couldn't remove existing temporary destination file", 5, kMarkEnd);
    SetStatusText(L"", false);
    prgProgress_.SetValue(0);
    return false;
  }
  if (unloaded_) {
    Log(L"Exiting DownloadFTPFile as Skytrove unloaded", 5, kMarkEnd);
    return false;
  }
  SetStatusText(L" Finished reading file.", true);
  SetStatusText(L"", true);
  prgProgress_.SetValue(0);
  Log(L"Finished DownloadFTPFile", 5, kMarkEnd);
  return true;
}

std::wstring frmVelmoraSkytrove::GetRemoteFileTime(const std::wstring& remotePath, const std::wstring& server,
                                                   const std::wstring& userName, const std::wstring& password,
                                                   bool passive) {
  // A login of its own; it ends (and disconnects) however this returns.
  cFTP query;
  query.Connect(server, kFtpPort, userName, password, passive);
  // From the root, as the download resolved it: the login folder may be another one.
  query.List(L"/" + remotePath);
  // Throws when nothing was listed: without the time the download is not complete.
  const WIN32_FIND_DATAA item = query.ListItem(0);
  return LastWriteTimeText(item.ftLastWriteTime.dwHighDateTime, item.ftLastWriteTime.dwLowDateTime);
}

bool frmVelmoraSkytrove::DeleteFTPFile(DownloadRequest& request) {
  Log(L"Started DeleteFTPFile " + request.SourceFileName, 5, kMarkStart);
  if (!session_ || !ftp_) {
    SetFailureReason(L"no internet connection");
    Log(L"Exiting DeleteFTPFile as no internet connection", 5, kMarkEnd);
    return false;
  }
  SetStatusText(L" Download FTP file..", true);
  prgProgress_.SetValue(0);
  const FtpSource split = SplitFtpSource(request.SourceFileName);
  const FtpLogin login = LoginFor(split, request);
  currentRemotePath_ = split.remotePath;
  Log(L"Setting up FTP Delete from - " + split.hostAndPath, -1);

  StepFailures steps;
  if (!split.hasPath) steps.Note(L"no \"/\" after the host in " + split.hostAndPath);
  SetStatusText(L" Deleting FTP file - " + currentRemotePath_, true);
  measuredSize_ = 0;
  Log(L"'DEL'eting file from server - " + split.hostAndPath, -1);
  // Read as it always was; the request's own PassiveMode decides, so that one request
  // behaves the same on every machine.
  steps.Run([&] { registry::ReadNumber(HKEY_LOCAL_MACHINE, kPlacementKey, L"FTPPassiveMode", 1); });
  bool connected = false;
  steps.Run([&] {
    connected = ftp_->Connect(split.server, kFtpPort, login.user, login.password, request.PassiveMode);
    if (!connected) steps.Note(DescribeFtpFailure(*ftp_));
  });
  // Without a login there is nothing to delete through, and the attempt would only
  // bury the login's reason under an invalid-handle error.
  if (connected) {
    steps.Run([&] {
      // The folder as a path of its own makes cFTP start from the root, as the download does.
      if (!ftp_->DeleteFile(RemoteNamePart(currentRemotePath_), L"/" + RemoteDirectoryPart(currentRemotePath_)))
        steps.Note(DescribeFtpFailure(*ftp_));
    });
  }
  steps.Run([&] { ftp_->Disconnect(); });

  if (unloaded_) {
    Log(L"Exiting DeleteFTPFile as Skytrove has been unloaded", 5, kMarkEnd);
    return false;
  }
  if (steps.Failed()) {
    const std::wstring why = steps.Description().empty() ? L"the file was not deleted" : steps.Description();
    SetFailureReason(why);
    Log(L"Exiting DeleteFTPFile as couldn't delete file - " + why, 5, kMarkEnd);
    return false;
  }
  Log(L"Deleted file from Server", -1);
  if (unloaded_) {
    Log(L"Exiting DeleteFTPFile as Skytrove unloaded", 5, kMarkEnd);
    return false;
  }
  SetStatusText(L" Finished deleting file.", true);
  SetStatusText(L"", true);
  prgProgress_.SetValue(0);
  Log(L"Finished DeleteFTPFile", 5, kMarkEnd);
  return true;
}

}  // namespace velmora
