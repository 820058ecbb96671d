#include "support/server_reply.h"

namespace velmora {

int LastReplyCode(const std::string& response) {
  int code = 0;
  size_t start = 0;
  while (start < response.size()) {
    size_t end = response.find_first_of("\r\n", start);
    if (end == std::string::npos) end = response.size();
    const std::string line = response.substr(start, end - start);
    // "451 text" or "451" alone ends a reply; "451-text" opens a multi-line one, whose
    // last line repeats the code with a space.
    const bool digits = line.size() >= 3 && line[0] >= '0' && line[0] <= '9' && line[1] >= '0' &&
                        line[1] <= '9' && line[2] >= '0' && line[2] <= '9';
    if (digits && (line.size() == 3 || line[3] == ' ')) code = std::stoi(line.substr(0, 3));
    start = end + 1;
  }
  return code;
}

}  // namespace velmora
