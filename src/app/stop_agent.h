// "/Exit": installers and scripts stop a running agent before they replace or remove it.
#pragma once

namespace velmora {

// Asks the running agent to close the way a task manager does (no question) and waits
// until its process has gone, at most 10 s. 0 when none runs or it has gone, 1 when it
// is still there. Takes no instance mutex and shows nothing.
int StopRunningAgent() noexcept;

}  // namespace velmora
