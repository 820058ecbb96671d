// What a transfer may ask of the agent that runs it, and nothing more: whether to stop,
// where its bytes go on screen and to the requester, the shared session and buffer.
// The window implements it; a transfer never sees the window itself.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "transfer/change_rules.h"
#include "transfer/pace_gate.h"

namespace velmora {

class cFTP;

// Why a transfer is asked to stop. A stall is not among them: it gives up the waits
// themselves, and the dispatcher names it.
enum class StopReason { None, Closing, Cancelled };

class TransferHost {
 public:
  virtual ~TransferHost() = default;
  // Asked after every wait: anything below it may have run messages.
  virtual StopReason Stop() const = 0;
  // A byte arrived or a new phase began: the stall clock starts again.
  virtual void NoteData() = 0;
  // The whole file's bytes so far and its length (-1: not known), for PROGRESS.
  virtual void NoteProgress(int64_t done, int64_t total) = 0;
  // The FTP call writes `path` itself: its growth is the transfer's data until EndFileWatch,
  // which returns the last size seen (0 when it never grew).
  virtual void WatchFile(const std::wstring& path, int64_t size) = 0;
  virtual int64_t EndFileWatch() = 0;
  // The destination now holds the new file: the request is over, whatever comes next.
  // Nothing between the placing and this call may run messages.
  virtual void Placed() = 0;
  // What an IfChanged=1 request placed at `destination` earlier, if anything is remembered.
  virtual std::optional<ChangeRecord> FindChangeRecord(const std::wstring& destination) = 0;
  // Remembers it, on the disk before this returns (the reply may be the last thing the
  // agent does); the destination becomes the most recently used. False: not kept.
  virtual bool KeepChangeRecord(const ChangeRecord& record) = 0;

  // What a person sees.
  virtual void ShowStatus(const std::wstring& text, bool refresh = true) = 0;
  // " Downloaded N bytes" in the status bar and the tray tip.
  virtual void ShowCount(int64_t bytes) = 0;
  virtual void ClearTrayTip() = 0;
  virtual void ShowPercent(int percent) = 0;

  // The one internet session (null when there is none) and its shut-down: a wait given up
  // by the closing agent closes the session, which ends the calls on it.
  virtual HINTERNET Session() const = 0;
  virtual void CloseSessionForShutdown() = 0;
  // The fixed transfer buffer (kTransferBufferSize bytes); null when there is none.
  virtual void* Buffer() const = 0;
  virtual std::shared_ptr<cFTP> Ftp() const = 0;
  // The attempt's cap (none unless the request or the machine sets one), its cap in force
  // looked at again as it is asked for.
  virtual std::shared_ptr<PaceGate> Pace() = 0;
};

inline constexpr size_t kTransferBufferSize = 10240;

}  // namespace velmora
