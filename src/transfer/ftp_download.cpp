// Placeholder until the FTP transfers land: the FTP types are routed here and fail
// without a reply.
#include "app/main_window.h"

namespace velmora {

bool frmVelmoraSkytrove::DownloadFTPFile(DownloadRequest&, bool) { return false; }

std::wstring frmVelmoraSkytrove::GetRemoteFileTime(const std::wstring&, const std::wstring&, const std::wstring&,
                                                   const std::wstring&, bool) {
  return std::wstring();
}

bool frmVelmoraSkytrove::DeleteFTPFile(DownloadRequest&) { return false; }

}  // namespace velmora
