// Where a request stands, or how it ended: what the list and its history keep and what a
// "STATUS" reply names.
#pragma once

namespace velmora {

enum class RequestState { Queued, Waiting, Running, Done, Failed, Cancelled };

}  // namespace velmora
