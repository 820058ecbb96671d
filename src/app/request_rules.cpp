#include "app/request_rules.h"

#include "support/paths.h"
#include "support/text.h"

namespace velmora {

bool SameRequesterProcess(const DownloadRequest& r, uint32_t processId, uint64_t created) {
  return !r.Restored ||
         (processId != 0 && created != 0 && processId == r.RequesterProcessId && created == r.RequesterProcessCreated);
}

bool StatusMatchesProgram(const ControlMessage& m, const std::wstring& program, const DownloadRequest& r) {
  return r.Persist && !program.empty() && EqualsNoCase(r.RequesterProgram, program) && r.Reference == m.reference &&
         (m.source.empty() || r.SourceFileName == m.source) &&
         (m.destination.empty() || r.DestinationFileName == m.destination);
}

std::wstring LinkedSuffix(const DownloadRequest& r) {
  if (r.LinkedSourceFileName.empty()) return std::wstring();
  if (StemPart(r.SourceFileName) != StemPart(r.LinkedSourceFileName))
    return L" + " + FileNamePart(r.LinkedSourceFileName);
  return L" + ." + ExtensionPart(r.LinkedSourceFileName);
}

// Long URLs keep their scheme, host and file name, so the box stays readable.
std::wstring PendingLine(const DownloadRequest& r) {
  std::wstring line = r.SourceFileName;
  if (line.size() >= 7 && UpperCase(line.substr(0, 7)) == L"HTTP://") {
    size_t slash = 0;
    const std::wstring host = TokenExtract(line, 8, L"/", slash);
    if (slash != 0) line = line.substr(0, 7) + host + L"/.../" + FileNamePart(r.SourceFileName);
  }
  line += LinkedSuffix(r);
  if (r.Type == L"FTPDELETE") line = L"Del:" + line;
  return MaskUrlPasswords(line);  // the window is as public as the log
}

std::wstring CurrentFileLabel(const DownloadRequest& r) {
  return MaskUrlPasswords(L" " + r.SourceFileName + LinkedSuffix(r));
}

}  // namespace velmora
