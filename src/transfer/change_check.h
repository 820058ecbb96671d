// The file system's side of fetching only what changed: whether a remembered destination
// is still the file that was placed, and what is done to a new one once it is in place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "transfer/change_rules.h"
#include "transfer/transfer_host.h"

namespace velmora {

// The record of `destination` when a conditional ask may rest on it: recorded for this
// source, and the file there still has the size and last-write time it was placed with.
// `sha256`: the request's digest for this file; empty for none.
std::optional<ChangeRecord> UsableChangeRecord(TransferHost& host, const std::wstring& source,
                                               const std::wstring& destination, const std::wstring& sha256);

// Whether the destination still has the size and last-write time `record` placed it with:
// looked at again once the server has answered (the file may have been edited meanwhile).
bool StillAsPlaced(const ChangeRecord& record);

// What follows the placing of a downloaded file at `record.destination`: with `keepTime`,
// the file takes the server's last-write time `serverTime` (FILETIME ticks; 0: the server
// gave none, the file is left as it is); with `remember`, the file as it now is goes into
// `record` (its source and server's fields set by the caller) and is kept.
void AfterPlacing(TransferHost& host, ChangeRecord record, uint64_t serverTime, bool keepTime, bool remember);

// "Unchanged - <destination> kept", and the record used once more.
void KeptUnchanged(TransferHost& host, const ChangeRecord& record);

}  // namespace velmora
