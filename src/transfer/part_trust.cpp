#include "transfer/part_trust.h"

namespace velmora {

PartCheck CheckPart(const FoundFile& part, const FoundFile& record) {
  if (!part.present) return PartCheck::Absent;
  if (part.link || (record.present && record.link)) return PartCheck::Replace;
  if (part.folder) return PartCheck::Folder;
  if (part.owner != Owner::User || part.names != 1) return PartCheck::Replace;
  if (record.present && record.owner != Owner::User) return PartCheck::Replace;
  return PartCheck::Examine;
}

bool OpenedPartWritable(const FoundFile& opened, bool continuing, bool sameFileAsChecked) {
  if (opened.link || opened.folder || opened.names != 1 || opened.owner == Owner::Other) return false;
  return !continuing || (sameFileAsChecked && opened.owner == Owner::User);
}

}  // namespace velmora
