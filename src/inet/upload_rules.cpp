#include "inet/upload_rules.h"

#include <cmath>

#include "support/paths.h"
#include "support/text.h"

namespace velmora {

std::wstring GetUploadResultDescription(int32_t result) {
  switch (result) {
    case kUploadSuccessful: return L"Upload Successful";
    case kNoInternetConnection: return L"No Internet Connection";
    case kUnableToConnect: return L"Unable to connect to server";
    case kUnableToWriteDestination: return L"Unable to write destination file";
    case kUnableToReadSource: return L"Unable to read source file";
    case kUserCancelled: return L"The user cancelled the operation";
    default: return std::wstring();
  }
}

// Double precision holds every byte count below 2^53 exactly, far beyond any file, and
// nearbyint in the default rounding mode rounds halves to even.
int16_t UploadPercent(int64_t sent, int64_t total) {
  if (total <= 0) return 0;
  const double percent = std::nearbyint(static_cast<double>(sent) / static_cast<double>(total) * 100.0);
  const double held = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
  return static_cast<int16_t>(RangeLimit(static_cast<int32_t>(held), 0, 100));
}

FtpDestination SplitDestination(const std::wstring& destination) {
  const size_t slash = destination.find(L'/');
  if (slash == std::wstring::npos) return {destination, std::wstring()};
  return {destination.substr(0, slash), destination.substr(slash + 1)};
}

// A remote name without a folder is relative to the login folder; putting the upload at
// "/" instead would write it into the server's root, which may be another folder or
// one the user may not write to.
std::wstring TemporaryUploadName(const std::wstring& remoteName, const std::wstring& tempFileName) {
  const size_t slash = remoteName.find_last_of(L"/\\");
  if (slash == std::wstring::npos) return tempFileName;
  return remoteName.substr(0, slash + 1) + tempFileName;
}

std::wstring BackupName(const std::wstring& remoteName, int attempt) {
  return remoteName + L".old" + (attempt > 0 ? std::to_wstring(attempt) : std::wstring());
}

RemoteEntry ListedEntry(const std::wstring& asked, const std::wstring& listedName, bool directory, int64_t size) {
  if (directory || !EqualsNoCase(FileNamePart(listedName), FileNamePart(asked))) return {RemoteEntry::kFolder, -1};
  return {RemoteEntry::kFile, size};
}

void DiscardOnServer(RemoteFiles& server, const std::wstring& name, const std::wstring& what) {
  if (!server.Remove(name)) server.Note(L"left " + what + L" as \"" + name + L"\": the server refused to delete it");
}

namespace {

// How many backup names are tried; each costs a listing on the server.
constexpr int kBackupAttempts = 10;

std::wstring FreeBackupName(RemoteFiles& server, const std::wstring& remote) {
  for (int attempt = 0; attempt < kBackupAttempts; ++attempt) {
    const std::wstring name = BackupName(remote, attempt);
    if (server.Find(name).kind == RemoteEntry::kMissing) return name;
  }
  return std::wstring();
}

}  // namespace

// The upload first takes the destination's name in one rename. Servers on POSIX file
// systems replace an existing file that way, at once: the destination is never missing
// and no backup is made, so none is left to pile up on a server that refuses DELE (one
// backup per upload, "x.old", "x.old1"... until no name was free). Servers that refuse to
// rename onto a file get the destination moved aside under the first backup name nobody
// holds (a file that was there under such a name is someone else's and is never renamed
// over or deleted), the upload in its place and the backup deleted. A backup the server
// will not delete is ours and stays, named in the log; no more than kBackupAttempts of
// them can gather, and once every name is taken the upload fails. An upload that cannot
// be put in place is deleted (the caller still has its source) rather than kept under a
// name the caller never learns; only a server's refusal keeps it, and the log names it.
int32_t PutUploadInPlace(RemoteFiles& server, const std::wstring& upload, const std::wstring& remote,
                         int64_t length) {
  const RemoteEntry uploaded = server.Find(upload);
  if (uploaded.kind != RemoteEntry::kFile || uploaded.size != length) {
    DiscardOnServer(server, upload, L"an incomplete upload");
    return kUnableToWriteDestination;
  }
  if (server.Rename(upload, remote)) return kUploadSuccessful;

  // A folder is never moved aside: its files would be lost behind the new file's name.
  if (server.Find(remote).kind != RemoteEntry::kFile) {
    DiscardOnServer(server, upload, L"the upload");
    return kUnableToWriteDestination;
  }
  const std::wstring backup = FreeBackupName(server, remote);
  if (backup.empty() || !server.Rename(remote, backup)) {
    DiscardOnServer(server, upload, L"the upload");
    return kUnableToWriteDestination;
  }
  if (server.Rename(upload, remote)) {
    DiscardOnServer(server, backup, L"the replaced file");
    return kUploadSuccessful;
  }
  // The old file goes back before the upload goes: while it is away, the upload is the
  // only whole file of that name, and if the way back is refused too, both stay.
  if (server.Rename(backup, remote)) {
    DiscardOnServer(server, upload, L"the upload");
  } else {
    server.Note(L"could not put back \"" + remote + L"\": the old file is \"" + backup + L"\", the upload \"" +
                upload + L"\"");
  }
  return kUnableToWriteDestination;
}

}  // namespace velmora
