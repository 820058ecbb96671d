// Whether the files found beside a destination are the agent's own: a folder others can
// write (a public folder, a share) may hold a part, a record or a link planted there.
// Plain C++; local_target reads the files without following them.
#pragma once

#include <cstdint>

namespace velmora {

enum class Owner { User, Other, Unknown };

// A part or record as found under its name, the name itself and not what it points to.
struct FoundFile {
  bool present = false;
  bool link = false;    // a reparse point: symbolic link, junction, or another kind
  bool folder = false;
  Owner owner = Owner::Unknown;  // against the token's user and default owner; an unreadable owner is Unknown
  uint32_t names = 1;   // hard links to the same file
};

enum class PartCheck {
  Absent,   // no part (a record alone is left over from a success and goes)
  Folder,   // a real folder under the part's name: nothing kept, nothing removed
  Replace,  // not to be trusted: part and record go (a link as the link), byte 0 follows
  Examine   // the user's own plain files: the record decides whether bytes are kept
};
// Only a part and record that are both the user's own, and a part with a single name,
// may give their bytes to this download; a link is never followed, whatever it points to.
PartCheck CheckPart(const FoundFile& part, const FoundFile& record);

// Whether the part as opened for writing may take this download's bytes. A link, or a
// file with a second name, is refused, and so is one known to be someone else's (planted
// between the check and the open). Continuing kept bytes needs the very file checked,
// still the user's own; a fresh part needs only not to be another's (a volume without
// owners still takes downloads).
bool OpenedPartWritable(const FoundFile& opened, bool continuing, bool sameFileAsChecked);

}  // namespace velmora
