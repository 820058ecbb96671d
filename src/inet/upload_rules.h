// The rules of cWinINET's transfers that need no system: result codes and their texts,
// the progress percentage, and how a Destination names a server and a remote file.
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

// The reply code of the last complete reply line in a server's response text (several
// lines, a multi-line reply's continuation lines included); 0 when no line starts with
// three digits. The final reply to an upload is the last thing a server said.
int LastReplyCode(const std::string& response);

// The `attempt`-th name tried for the backup of `remoteName` while it is replaced:
// "x.old" first, then "x.old1", "x.old2", ... so that a file already there stays apart.
std::wstring BackupName(const std::wstring& remoteName, int attempt);

}  // namespace velmora
