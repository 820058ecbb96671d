#include "client/client_rules.h"

#include "support/text.h"

namespace skytrove {

namespace {

std::wstring Read(const std::wstring& text, const wchar_t* key) { return velmora::GetField(text, key, L"=", L" "); }

// Where the agent looks for a key: at the start or after a space.
bool Present(const std::wstring& text, const std::wstring& key) {
  return velmora::FindNoCase(L" " + text, L" " + key + L"=") != std::wstring::npos;
}

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

}  // namespace

std::wstring ComposeRequest(const std::vector<Field>& fields, bool replyOnFailure, std::wstring& problem) {
  problem.clear();
  std::vector<Field> all = fields;
  bool asked = false;
  for (const Field& f : fields) asked = asked || velmora::EqualsNoCase(f.key, L"ReplyOnFailure");
  if (replyOnFailure && !asked) all.push_back(Field{L"ReplyOnFailure", L"1"});
  if (all.empty()) {
    problem = L"no fields";
    return std::wstring();
  }
  std::wstring text = L"GET ";
  for (const Field& f : all) {
    if (!KeyWritable(f.key)) {
      problem = L"the key \"" + f.key + L"\" cannot be written";
      return std::wstring();
    }
    text = velmora::FieldWrite(text, f.key, f.value, L"=", L" ");
  }
  // The agent reads each key's first occurrence anywhere in the text, so the only sure
  // test of a value is to read the whole request back the way the agent will.
  for (const Field& f : all) {
    if (velmora::GetField(text, f.key, L"=", L" ") != f.value) {
      problem = L"the value of " + f.key + L" cannot be carried";
      return std::wstring();
    }
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
  r.linked = Present(text, L"LinkedSourceFileName");
  if (r.linked) {
    r.linkedSourceFileSize = Number(Read(text, L"LinkedSourceFileSize"));
    r.linkedSourceFileName = Read(text, L"LinkedSourceFileName");
    r.linkedDestinationFileName = Read(text, L"LinkedDestinationFileName");
    r.linkedSourceFileLastWriteTime = Read(text, L"LinkedSourceFileLastWriteTime");
  }
  return r;
}

bool Answers(const ParsedReply& reply, const std::wstring& sourceFileName, const std::wstring& destinationFileName) {
  return reply.sourceFileName == sourceFileName && reply.destinationFileName == destinationFileName;
}

}  // namespace skytrove
