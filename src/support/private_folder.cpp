#include "support/private_folder.h"

#include <shlobj.h>

#include "support/handles.h"

namespace velmora {

namespace {
std::vector<BYTE> WellKnownSid(WELL_KNOWN_SID_TYPE type) {
  std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  if (!CreateWellKnownSid(type, nullptr, sid.data(), &size)) return {};
  sid.resize(size);
  return sid;
}
}  // namespace

std::vector<BYTE> ProcessTokenSid(TOKEN_INFORMATION_CLASS what) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  UniqueHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), what, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !GetTokenInformation(token.get(), what, buffer.data(), size, &size)) return {};
  PSID sid = nullptr;
  if (what == TokenUser) sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  if (what == TokenOwner) sid = reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
  if (sid == nullptr || !IsValidSid(sid)) return {};
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

std::vector<BYTE> OwnersOnlyDescriptor() {
  const std::vector<BYTE> sids[] = {ProcessTokenSid(TokenUser), WellKnownSid(WinLocalSystemSid),
                                    WellKnownSid(WinBuiltinAdministratorsSid)};
  DWORD aclSize = sizeof(ACL);
  for (const auto& sid : sids) {
    if (sid.empty()) return {};
    aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + static_cast<DWORD>(sid.size());
  }
  std::vector<BYTE> acl(aclSize);
  auto* list = reinterpret_cast<ACL*>(acl.data());
  if (!InitializeAcl(list, aclSize, ACL_REVISION)) return {};
  for (const auto& sid : sids)
    if (!AddAccessAllowedAceEx(list, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
                               const_cast<BYTE*>(sid.data())))
      return {};
  SECURITY_DESCRIPTOR absolute{};
  if (!InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&absolute, TRUE, list, FALSE) ||
      !SetSecurityDescriptorControl(&absolute, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
    return {};
  // Self-relative, so the descriptor holds its ACL and outlives the buffers above.
  DWORD size = 0;
  MakeSelfRelativeSD(&absolute, nullptr, &size);
  std::vector<BYTE> out(size);
  if (size == 0 || !MakeSelfRelativeSD(&absolute, out.data(), &size)) return {};
  return out;
}

bool CreatePrivateFolder(const std::wstring& folder) {
  std::wstring path = folder;
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  std::vector<BYTE> descriptor = OwnersOnlyDescriptor();
  // Without one the folder is not made: an open one is what this is here to prevent.
  if (descriptor.empty()) return false;
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.data(), FALSE};
  SHCreateDirectoryExW(nullptr, path.c_str(), &security);
  attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace velmora
