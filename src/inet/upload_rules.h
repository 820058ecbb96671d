// The rules of cWinINET's transfers that need no system: result codes and their texts,
// the progress percentage, how a Destination names a server and a remote file, and how a
// finished upload takes the destination's place on the server.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// The result of UploadFile and DownloadFile.
enum UploadResult : int32_t {
  kUploadSuccessful = 0,
  kNoInternetConnection = 1,
  kUnableToConnect = 2,
  kUnableToWriteDestination = 3,
  kUnableToReadSource = 4,
  kUserCancelled = 5,
};

// The sentence for a result code; empty for a code outside 0 to 5.
std::wstring GetUploadResultDescription(int32_t result);

// Percent of `total` that `sent` is, rounded half to even and held within 0..100.
int16_t UploadPercent(int64_t sent, int64_t total);

struct FtpDestination {
  std::wstring server;
  std::wstring remoteName;  // empty when the Destination named only a server
};
// "server/path/on/server": the server before the first "/", the path after it.
FtpDestination SplitDestination(const std::wstring& destination);

// Where an upload under the temporary name `tempFileName` goes so that it lands in the
// remote name's own folder: the remote name's folder (with its "/") then the name.
std::wstring TemporaryUploadName(const std::wstring& remoteName, const std::wstring& tempFileName);

// The `attempt`-th name tried for the backup of `remoteName` while it is replaced:
// "x.old" first, then "x.old1", "x.old2", ... so that a file already there stays apart.
std::wstring BackupName(const std::wstring& remoteName, int attempt);

// What a server's listing shows under a name.
struct RemoteEntry {
  enum Kind { kMissing, kFile, kFolder };
  Kind kind = kMissing;
  int64_t size = -1;
};
// The entry a listing of `asked` returned: a file only when it is no folder and carries
// the name asked for (without its folders, in any case). A server that lists a folder's
// contents when asked for the folder answers with another name, so that counts as a
// folder too.
RemoteEntry ListedEntry(const std::wstring& asked, const std::wstring& listedName, bool directory, int64_t size);

// The server operations that putting an upload in place needs. The rules below decide
// what to do with their answers, so those decisions run, and are tested, without a server.
class RemoteFiles {
 public:
  virtual ~RemoteFiles() = default;
  virtual RemoteEntry Find(const std::wstring& name) = 0;
  virtual bool Rename(const std::wstring& from, const std::wstring& to) = 0;
  virtual bool Remove(const std::wstring& name) = 0;
  // A log line about something the call leaves on the server that its result cannot say.
  virtual void Note(const std::wstring& text) = 0;
};

// Deletes a file of this call's making (`what` says which); a server that refuses gets
// the name into the log.
void DiscardOnServer(RemoteFiles& server, const std::wstring& name, const std::wstring& what);

// Puts the complete upload `upload` (`length` bytes) in place of `remote` and returns
// kUploadSuccessful or kUnableToWriteDestination. A folder is never replaced, a file
// under a backup name that was there before is never touched, and nothing is left on the
// server that the log does not name.
int32_t PutUploadInPlace(RemoteFiles& server, const std::wstring& upload, const std::wstring& remote,
                         int64_t length);

}  // namespace velmora
