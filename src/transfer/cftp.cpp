// Placeholder until the FTP session class lands: every operation fails cleanly.
#include "cftp.h"

#include <stdexcept>

namespace velmora {

cFTP::~cFTP() { Disconnect(); }
bool cFTP::Connect(const std::wstring&, int16_t, const std::wstring&, const std::wstring&, bool) { return false; }
WIN32_FIND_DATAA cFTP::ListItem(int32_t index) const {
  if (!listed_) throw std::out_of_range("Subscript out of range");
  WIN32_FIND_DATAA empty{};
  if (index < 0 || static_cast<size_t>(index) >= listing_.size()) return empty;
  return listing_[static_cast<size_t>(index)];
}
bool cFTP::List(const std::wstring&) { return false; }
int32_t cFTP::ListCount() const { return static_cast<int32_t>(listing_.size()); }
bool cFTP::DeleteFile(const std::wstring&, const std::wstring&) { return false; }
bool cFTP::DeleteDirectory(const std::wstring&) { return false; }
bool cFTP::CreateDirectory(const std::wstring&) { return false; }
bool cFTP::GetRemoteDirectory(std::wstring&, int32_t&) { return false; }
bool cFTP::SetRemoteDirectory(const std::wstring&) { return false; }
bool cFTP::UploadFile(const std::wstring&, const std::wstring&, uint32_t, uint32_t) { return false; }
bool cFTP::DownloadFile(const std::wstring&, const std::wstring&, bool, uint32_t, uint32_t, uint32_t) { return false; }
bool cFTP::GetRemoteFileSize(const std::wstring&, int64_t&, uint32_t, uint32_t) { return false; }
bool cFTP::Disconnect() {
  connection_.reset();
  internet_.reset();
  lastError_ = 0;
  return false;
}

}  // namespace velmora
