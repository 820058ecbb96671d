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

}  // namespace velmora
