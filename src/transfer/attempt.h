// How one attempt of a request ended, as the transfer that made it says it: the one thing
// a transfer hands back to the dispatcher. Plain C++.
#pragma once

#include <cstdint>
#include <string>

#include "transfer/transfer_rules.h"

namespace velmora {

enum class AttemptEnd {
  Done,       // the destination is in place (the linked file may still have failed)
  Failed,     // see kind, code and reason
  Cancelled,  // given up because its requester (or the person) took it back
  Stalled,    // no byte for the stall limit
  Closing     // the agent is closing: nothing was placed, kept bytes stay for a replay
};

struct AttemptResult {
  AttemptEnd end = AttemptEnd::Failed;
  FailureKind kind = FailureKind::Permanent;
  int code = 0;          // the HTTP status or FTP reply code for those kinds
  int retryAfter = -1;   // the server's Retry-After in seconds; -1 without one
  std::wstring reason;   // why it failed, in its exit line's words
  bool linkedDone = false;  // FTP: the linked file was placed too
  // The part beside the destination is the only copy of a finished file that could not be
  // put in place: it stays whatever becomes of the request.
  bool onlyCopyKept = false;

  static AttemptResult Success(bool linked = false) {
    AttemptResult r;
    r.end = AttemptEnd::Done;
    r.linkedDone = linked;
    return r;
  }
  static AttemptResult Failure(std::wstring why, FailureKind kind = FailureKind::Permanent, int code = 0) {
    AttemptResult r;
    r.reason = std::move(why);
    r.kind = kind;
    r.code = code;
    return r;
  }
  static AttemptResult Ended(AttemptEnd end) {
    AttemptResult r;
    r.end = end;
    return r;
  }
  bool Succeeded() const { return end == AttemptEnd::Done; }
};

}  // namespace velmora
