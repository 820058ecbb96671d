#include "client/client_rules.h"

#include "protocol/request.h"
#include "support/text.h"

namespace skytrove {

namespace {

std::wstring Read(const std::wstring& text, const wchar_t* key) { return velmora::GetField(text, key, L"=", L" "); }

// The agent writes sizes as plain signed decimals; anything else reads as 0.
int64_t Number(const std::wstring& text) {
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == L'-';
  if (negative) i = 1;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    if (value > (INT64_MAX - 9) / 10) return 0;
    value = value * 10 + (text[i] - L'0');
  }
  return negative ? -value : value;
}

bool KeyWritable(const std::wstring& key) {
  return !key.empty() && key.find_first_of(L" =\"") == std::wstring::npos;
}

// Where the agent finds a key: its first occurrence at the start or after a space, as an
// index into the text; npos when it is not there.
size_t KeyAt(const std::wstring& text, const std::wstring& key) {
  return velmora::FindNoCase(L" " + text, L" " + key + L"=");
}

// Unchanged=1 and LinkedUnchanged=1 are the agent's last fields. Read as the first
// " Key=" anywhere, a destination the requester named "C:\Reports Unchanged=1 old\a.txt"
// would forge one; read from the end, where nothing of the requester's stands, it cannot.
// Cuts the field off `text` when it is there.
bool TrailingFlag(std::wstring& text, const std::wstring& key) {
  const std::wstring field = L" " + key + L"=1";
  if (text.size() < field.size() || !velmora::EqualsNoCase(text.substr(text.size() - field.size()), field))
    return false;
  text.resize(text.size() - field.size());
  return true;
}

const Field* Given(const std::vector<Field>& fields, const std::wstring& key) {
  for (const Field& f : fields)
    if (velmora::EqualsNoCase(f.key, key)) return &f;
  return nullptr;
}

}  // namespace

std::wstring ComposeRequest(const std::vector<Field>& fields, bool replyOnFailure, std::wstring& problem) {
  problem.clear();
  std::vector<Field> all = fields;
  if (replyOnFailure && Given(fields, L"ReplyOnFailure") == nullptr) all.push_back(Field{L"ReplyOnFailure", L"1"});
  if (all.empty()) {
    problem = L"no fields";
    return std::wstring();
  }
  std::wstring text = L"GET ";
  struct Span {
    size_t begin, end;
  };
  std::vector<Span> values;  // where each field's value (quotes and all) stands in the text
  for (const Field& f : all) {
    if (!KeyWritable(f.key)) {
      problem = L"the key \"" + f.key + L"\" cannot be written";
      return std::wstring();
    }
    if (Given(all, f.key) != &f) {
      problem = L"the key " + f.key + L" is given twice";
      return std::wstring();
    }
    const size_t begin = text.size() + (text.back() == L' ' ? 0 : 1) + f.key.size() + 1;
    text = velmora::FieldWrite(text, f.key, f.value, L"=", L" ");
    values.push_back(Span{begin, text.size()});
  }
  // The agent reads each key's first occurrence anywhere in the text, inside quoted values
  // too, so the only sure test is to read the whole request back the way the agent will:
  // every key given, and every key the agent knows, given or not. A value that names
  // another field is named with the field it would be read as.
  std::vector<std::wstring> keys;
  for (const Field& f : all) keys.push_back(f.key);
  for (const wchar_t* key : velmora::kRequestKeys) keys.push_back(key);
  for (const std::wstring& key : keys) {
    const Field* given = Given(all, key);
    const bool same = given != nullptr ? velmora::GetField(text, key, L"=", L" ") == given->value
                                       : KeyAt(text, key) == std::wstring::npos;
    if (same) continue;
    const size_t at = KeyAt(text, key);
    for (size_t i = 0; i < all.size(); ++i) {
      if (&all[i] != given && at >= values[i].begin && at < values[i].end) {
        problem = L"the value of " + all[i].key + L" would be read as " + key;
        return std::wstring();
      }
    }
    problem = L"the value of " + key + L" cannot be carried";
    return std::wstring();
  }
  return text;
}

std::optional<ParsedReply> ParseReply(const std::wstring& text) {
  size_t found = 0;
  const std::wstring word = velmora::UpperCase(velmora::TokenExtract(text, 1, L" ", found));
  ParsedReply r;
  if (word == L"GOT") {
    r.kind = ReplyKind::Got;
  } else if (word == L"FAILED") {
    r.kind = ReplyKind::Failed;
  } else if (word == L"CANCELLED") {
    r.kind = ReplyKind::Cancelled;
    r.reference = Read(text, L"Reference");
    r.count = Number(Read(text, L"Count"));
    return r;
  } else if (word == L"STATUS" || word == L"PROGRESS") {
    r.kind = word == L"STATUS" ? ReplyKind::Status : ReplyKind::Progress;
    r.type = Read(text, L"Type");
    r.reference = Read(text, L"Reference");
    r.sourceFileName = Read(text, L"SourceFileName");
    r.destinationFileName = Read(text, L"DestinationFileName");
    r.state = Read(text, L"State");
    const std::wstring position = Read(text, L"Position");
    r.position = position.empty() ? -1 : Number(position);
    r.bytesDone = Number(Read(text, L"BytesDone"));
    const std::wstring total = Read(text, L"BytesTotal");
    r.bytesTotal = total.empty() ? -1 : Number(total);
    r.reason = Read(text, L"Reason");
    std::wstring rest = text;
    r.unchanged = r.kind == ReplyKind::Status && TrailingFlag(rest, L"Unchanged");
    return r;
  } else {
    return std::nullopt;
  }
  r.type = Read(text, L"Type");
  r.reference = Read(text, L"Reference");
  r.storyReference = velmora::LeadingNumberToInt32(Read(text, L"StoryReference"));
  r.sourceFileName = Read(text, L"SourceFileName");
  r.destinationFileName = Read(text, L"DestinationFileName");
  if (r.kind == ReplyKind::Failed) {
    r.reason = Read(text, L"Reason");
    return r;
  }
  r.sourceFileSize = Number(Read(text, L"SourceFileSize"));
  r.sourceFileLastWriteTime = Read(text, L"SourceFileLastWriteTime");
  r.linked = KeyAt(text, L"LinkedSourceFileName") != std::wstring::npos;
  if (r.linked) {
    r.linkedSourceFileSize = Number(Read(text, L"LinkedSourceFileSize"));
    r.linkedSourceFileName = Read(text, L"LinkedSourceFileName");
    r.linkedDestinationFileName = Read(text, L"LinkedDestinationFileName");
    r.linkedSourceFileLastWriteTime = Read(text, L"LinkedSourceFileLastWriteTime");
  }
  std::wstring rest = text;
  r.linkedUnchanged = TrailingFlag(rest, L"LinkedUnchanged");
  r.unchanged = TrailingFlag(rest, L"Unchanged");
  return r;
}

std::wstring ComposeControl(const std::wstring& command, const std::wstring& reference, std::wstring& problem) {
  const std::wstring text = velmora::FieldWrite(command + L" ", L"Reference", reference, L"=", L" ");
  if (Read(text, L"Reference") != reference || (reference.find(L'"') != std::wstring::npos)) {
    problem = L"Reference cannot be carried as given";
    return std::wstring();
  }
  return text;
}

bool Answers(const ParsedReply& reply, const std::wstring& reference, const std::wstring& sourceFileName,
             const std::wstring& destinationFileName) {
  if (reply.kind != ReplyKind::Got && reply.kind != ReplyKind::Failed) return false;
  return reply.reference == reference && reply.sourceFileName == sourceFileName &&
         reply.destinationFileName == destinationFileName;
}

}  // namespace skytrove
