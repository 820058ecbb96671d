// A folder of the agent's own making that other users of the machine may not read or
// change: the log folder the agent makes when no one chose one.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velmora {

// A SID of this process's token: its user (TokenUser) or the owner it gives the objects
// it makes (TokenOwner); empty when it cannot be read.
std::vector<BYTE> ProcessTokenSid(TOKEN_INFORMATION_CLASS what);

// A self-relative security descriptor whose DACL gives full control to the user running
// the agent, SYSTEM and the Administrators group, inherited by everything made inside,
// and which inherits nothing from the folder above (the drive root lets every user in).
// Empty when the running user cannot be told.
std::vector<BYTE> OwnersOnlyDescriptor();

// Makes `folder` (and any folder above it that is missing) with that descriptor; a
// folder that exists already is left as it is. True when it is a folder afterwards.
bool CreatePrivateFolder(const std::wstring& folder);

}  // namespace velmora
