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

namespace {
// What the window shows of a request: its secrets masked (the window is as public as the
// log), and on one line whatever the requester put in it. A CR or LF would start a line
// of the pending list that stands for no request, so that the lines after it no longer
// name the request a Delete cancels; a NUL would end the list's text there. CR and LF
// are written as the log writes them, other control characters as a space.
std::wstring Shown(const std::wstring& text) { return LineBreaksShown(MaskUrlSecrets(text), true); }
}  // namespace

// Long URLs keep their scheme, host and file name, so the box stays readable. The secrets
// go before the URL is cut, so that no part of one is left without its name.
std::wstring PendingLine(const DownloadRequest& r) {
  std::wstring line = MaskUrlSecrets(r.SourceFileName);
  if (line.size() >= 7 && UpperCase(line.substr(0, 7)) == L"HTTP://") {
    size_t slash = 0;
    const std::wstring host = TokenExtract(line, 8, L"/", slash);
    if (slash != 0) line = line.substr(0, 7) + host + L"/.../" + FileNamePart(line);
  }
  line += LinkedSuffix(r);
  if (r.Type == L"FTPDELETE") line = L"Del:" + line;
  return Shown(line);
}

std::wstring CurrentFileLabel(const DownloadRequest& r) { return Shown(L" " + r.SourceFileName + LinkedSuffix(r)); }

}  // namespace velmora
