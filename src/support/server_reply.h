// A server's reply as WinINet keeps it for the thread that made the last call, read whole
// (any length, every line of a multi-line reply), and the code that decides it.
#pragma once

#include <string>

namespace velmora {

// The reply code of the last complete reply line in a server's response text (several
// lines, a multi-line reply's continuation lines included); 0 when no line starts with
// three digits. A multi-line reply ends with its code repeated and a space, and the last
// thing a server said is what it decided.
int LastReplyCode(const std::string& response);

// The last reply WinINet kept for this thread, whole: a buffer of any fixed size would cut
// a long one ("350 Restarting at N. Send STORE or RETRIEVE to initiate transfer.") and
// leave a code nobody can judge. Empty when WinINet keeps none. Windows only.
std::string LastServerReply();

}  // namespace velmora
