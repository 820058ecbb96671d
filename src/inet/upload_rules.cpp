#include "inet/upload_rules.h"

#include <cmath>

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

int LastReplyCode(const std::string& response) {
  int code = 0;
  size_t start = 0;
  while (start < response.size()) {
    size_t end = response.find_first_of("\r\n", start);
    if (end == std::string::npos) end = response.size();
    const std::string line = response.substr(start, end - start);
    // "451 text" or "451" alone ends a reply; "451-text" opens a multi-line one, whose
    // last line repeats the code with a space.
    const bool digits = line.size() >= 3 && line[0] >= '0' && line[0] <= '9' && line[1] >= '0' &&
                        line[1] <= '9' && line[2] >= '0' && line[2] <= '9';
    if (digits && (line.size() == 3 || line[3] == ' ')) code = std::stoi(line.substr(0, 3));
    start = end + 1;
  }
  return code;
}

std::wstring BackupName(const std::wstring& remoteName, int attempt) {
  return remoteName + L".old" + (attempt > 0 ? std::to_wstring(attempt) : std::wstring());
}

}  // namespace velmora
