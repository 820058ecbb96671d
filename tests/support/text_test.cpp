// Field lookup, field writing and the small text utilities that requests, replies and
// the log are built from.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

#include "support/paths.h"
#include "support/text.h"

using namespace velmora;

namespace {
std::wstring Field(const std::wstring& text, const std::wstring& key) { return GetField(text, key, L"=", L" "); }
}  // namespace

TEST(GetField, KeysAtStartOrAfterSpaceOnly) {
  const std::wstring t = L"GET Type=HTTP StoryReference=7 SourceFileName=http://h/a.txt";
  EXPECT_EQ(Field(t, L"Type"), L"HTTP");
  EXPECT_EQ(Field(t, L"type"), L"HTTP");
  EXPECT_EQ(Field(t, L"Reference"), L"");  // not found inside StoryReference
  EXPECT_EQ(Field(t, L"StoryReference"), L"7");
  EXPECT_EQ(Field(t, L"SourceFileName"), L"http://h/a.txt");
  EXPECT_EQ(Field(L"Type=FTP rest", L"Type"), L"FTP");  // at the very start of the text
  EXPECT_EQ(Field(L"x Missing=", L"Missing"), L"");
  EXPECT_EQ(Field(L"a Reference= Type=X", L"Reference"), L"");
}

TEST(GetField, QuotesFirstOccurrenceAndValuesUnchanged) {
  EXPECT_EQ(Field(L"GET DestinationFileName=\"C:\\My Files\\a.txt\" Type=HTTP", L"DestinationFileName"),
            L"C:\\My Files\\a.txt");
  EXPECT_EQ(Field(L"GET DestinationFileName=C:\\My Files\\a.txt", L"DestinationFileName"), L"C:\\My");
  EXPECT_EQ(Field(L"GET Reference=\"open to the end", L"Reference"), L"open to the end");
  EXPECT_EQ(Field(L"GET Reference=\"", L"Reference"), L"");
  EXPECT_EQ(Field(L"GET Type=a Type=b", L"Type"), L"a");
  EXPECT_EQ(Field(L"GET Type= MiXeD ", L"Type"), L"");
  EXPECT_EQ(Field(L"GET Reference=a=b", L"Reference"), L"a=b");
  EXPECT_EQ(Field(L"GET Reference=", L"Reference"), L"");
  EXPECT_EQ(Field(L"", L"Type"), L"");
}

TEST(FieldWrite, EveryValueReadsBack) {
  const std::wstring values[] = {L"", L"plain", L"two words", L"a=b", L"trailing ", L"C:\\x y\\z.txt"};
  std::wstring text = L"GOT ";
  int i = 0;
  for (const auto& v : values) text = FieldWrite(text, L"K" + std::to_wstring(i++), v, L"=", L" ");
  i = 0;
  for (const auto& v : values) EXPECT_EQ(Field(text, L"K" + std::to_wstring(i++)), v);
  EXPECT_EQ(FieldWrite(L"GOT ", L"Type", L"HTTP", L"=", L" "), L"GOT Type=HTTP");
  // No escape exists: a leading quote is lost on the way back.
  EXPECT_EQ(Field(FieldWrite(L"GOT ", L"R", L"\"q", L"=", L" "), L"R"), L"q");
  EXPECT_EQ(FieldWrite(L"GOT Type=HTTP", L"Reference", L"", L"=", L" "), L"GOT Type=HTTP Reference=");
}

TEST(TokenExtract, PositionsAreOneBased) {
  size_t found = 99;
  EXPECT_EQ(TokenExtract(L"GET a=b", 1, L" ", found), L"GET");
  EXPECT_EQ(found, 4u);
  EXPECT_EQ(TokenExtract(L"GET", 1, L" ", found), L"GET");
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(TokenExtract(L"abc", 9, L" ", found), L"");
  EXPECT_EQ(found, 0u);
}

TEST(LeadingNumber, ValAndRoundingRules) {
  struct Case { const wchar_t* text; int32_t value; };
  const Case cases[] = {
      {L"12abc", 12}, {L"", 0},          {L"abc", 0},          {L"-7", -7},    {L" 42", 42},
      {L"2.5", 2},    {L"3.5", 4},       {L"-2.5", -2},        {L"1e3", 1000}, {L"1.5e1x", 15},
      {L"99999999999", INT32_MAX},       {L"-99999999999", INT32_MIN},       {L"1e999", INT32_MAX},
      {L"2147483647", INT32_MAX},        {L"-2147483648", INT32_MIN},        {L".5", 0}, {L"0.51", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(LeadingNumberToInt32(c.text), c.value) << c.text[0];
  EXPECT_TRUE(LeadingNumberIsNonZero(L"2"));
  EXPECT_TRUE(LeadingNumberIsNonZero(L"1"));
  EXPECT_FALSE(LeadingNumberIsNonZero(L"0"));
  EXPECT_FALSE(LeadingNumberIsNonZero(L"True"));
  EXPECT_FALSE(LeadingNumberIsNonZero(L""));
}

TEST(SmallUtilities, GroupingPaddingHexMasking) {
  EXPECT_EQ(GroupThousands(0, L","), L"");
  EXPECT_EQ(GroupThousands(999, L","), L"999");
  EXPECT_EQ(GroupThousands(1234567, L","), L"1,234,567");
  EXPECT_EQ(GroupThousands(5000000000LL, L"."), L"5.000.000.000");
  EXPECT_EQ(PadLeft(L"123", 10), L"       123");
  EXPECT_EQ(PadLeft(L"12345678901", 10), L"12345678901");
  EXPECT_EQ(HexText(10, 2), L"0A");
  EXPECT_EQ(HexText(255, 2), L"FF");
  EXPECT_EQ(MaskField(L"GET Username=u Password=p4ss Type=FTP", L"Password"), L"GET Username=u Password=*** Type=FTP");
  EXPECT_EQ(MaskField(L"GET password=\"a b\" PASSWORD=c", L"Password"), L"GET password=*** PASSWORD=***");
  EXPECT_EQ(MaskField(L"GET MyPassword=keep", L"Password"), L"GET MyPassword=keep");
  EXPECT_EQ(MaskField(L"GET Password=\"open", L"Password"), L"GET Password=***");
}

TEST(UrlPasswords, MaskedFromTheirColonToTheWidestEnd) {
  const std::vector<std::pair<std::wstring, std::wstring>> cases = {
      {L"GET Type=HTTP SourceFileName=https://me:pw@h/f Reference=1",
       L"GET Type=HTTP SourceFileName=https://me:***@h/f Reference=1"},
      // After a scheme the last "@" ends it: a path's "@" may be the password's.
      {L"https://me:pw@h/f?a=b@d x", L"https://me:***@d x"},
      {L"\"sftp+x://u:p@w@host:22\" HTTP://a:b@c", L"\"sftp+x://u:***@c"},
      {L"ftp://me@x.org://pw@h", L"ftp://me@x.org:***@h"},
      {L"http://u:@h", L"http://u:***@h"},
      // Without a scheme (an FTP source may come without one) it ends before the next scheme.
      {L"x u:p@h/f", L"x u:***@h/f"},
      {L"://u:p@h", L":***@h"},  // no scheme before "//": the password may begin with it
      {L"SourceFileName=u:p@h/a LinkedSourceFileName=ftp://x@h/b",
       L"SourceFileName=u:***@h/a LinkedSourceFileName=ftp://x@h/b"},
      {L"Start frmX:Remove ftp://u:p@h/f", L"Start frmX:Remove ftp://u:***@h/f"},
      // Nothing that could be a password: the line stays whole.
      {L"ftp://anonymous@host/x http://host/a@b", L"ftp://anonymous@host/x http://host/a@b"},
      {L"Start frmX:RemoveFromDownloadList http://cdn/p@1/f", L"Start frmX:RemoveFromDownloadList http://cdn/p@1/f"},
      {L"Posting to requesting application (5) : GOT SourceFileName=http://h/p@1/f",
       L"Posting to requesting application (5) : GOT SourceFileName=http://h/p@1/f"},
      {L"no at: here", L"no at: here"},
  };
  for (const auto& [text, masked] : cases) EXPECT_EQ(MaskUrlPasswords(text), masked) << text;
}

// Tokens and signed URLs: the value of a secret parameter (exact name, any case) and an
// http(s) user name without a password; a user name of FTP is no secret and stays.
TEST(UrlSecrets, TokenParametersAndUserTokensMaskedPasswordsAsBefore) {
  const std::vector<std::pair<std::wstring, std::wstring>> cases = {
      {L"GET SourceFileName=https://b.s3/k?X-Amz-Credential=AKIA/1/s3&x-amz-signature=5e1f&X-AMZ-SECURITY-TOKEN=T "
       L"Reference=1",
       L"GET SourceFileName=https://b.s3/k?X-Amz-Credential=***&x-amz-signature=***&X-AMZ-SECURITY-TOKEN=*** "
       L"Reference=1"},
      {L"http://h/f?sig=a&mysig=b&signature=&token=t#access_token=z&api_key=k",
       L"http://h/f?sig=***&mysig=b&signature=&token=***#access_token=***&api_key=***"},
      {L"\"h/f?apikey=k?password=p&pwd=q&auth=a b\" tokens=x ?tokens=x",
       L"\"h/f?apikey=***?password=***&pwd=***&auth=*** b\" tokens=x ?tokens=x"},
      {L"Open URL https://TOKEN@host/a", L"Open URL https://***@host/a"},
      {L"HTTPS://t@k@host/a?b@c http://@h/", L"HTTPS://***@host/a?b@c http://@h/"},
      {L"https://me:pw@h/f?auth=x", L"https://me:***@h/f?auth=***"},
      {L"ftp://anonymous@host/x http://host/a@b", L"ftp://anonymous@host/x http://host/a@b"},
      {L"sftp://user@host/x?token=", L"sftp://user@host/x?token="},
  };
  for (const auto& [text, masked] : cases) EXPECT_EQ(MaskUrlSecrets(text), masked) << text;
  // Any value of any of the names, in any case, wherever it stands in the query.
  for (const wchar_t* name : kSecretParameters) {
    for (const std::wstring& n : {std::wstring(name), UpperCase(name)}) {
      const std::wstring url = L"https://h/f?a=1&" + n + L"=S3cr%2Bt/x:y@z&b=2";
      EXPECT_EQ(MaskUrlSecrets(url), L"https://h/f?a=1&" + n + L"=***&b=2") << url;
      EXPECT_EQ(MaskUrlSecrets(L"h/f?" + n + L"=S3cr3t"), L"h/f?" + n + L"=***") << url;
    }
  }
}

namespace {
// MaskUrlPasswords as UrlPasswordEnd defines it, one ":" at a time.
std::wstring MaskedColonByColon(const std::wstring& text) {
  std::wstring out;
  size_t copied = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t end = UrlPasswordEnd(text, i);
    if (end == std::wstring::npos) continue;
    out += text.substr(copied, i + 1 - copied) + L"***";
    copied = i = end;
  }
  return out + text.substr(copied);
}
}  // namespace

// Passwords made of anything, "/ ? # \" @ :" and blanks included, with and without a
// scheme, in a line that holds more after the URL: the line keeps what is before the
// user name and what follows the password's "@" (the last one after a scheme), and
// nothing of the password. The one-pass masking agrees with the rule the FTP sources
// are split by, on lines of anything.
TEST(UrlPasswords, RandomPasswordsNeverSurvive) {
  std::mt19937 random(20240515);
  auto pick = [&](const std::wstring& from) { return from[random() % from.size()]; };
  auto text = [&](const std::wstring& alphabet, size_t min, size_t max) {
    std::wstring out(min + random() % (max - min + 1), L' ');
    for (auto& c : out) c = pick(alphabet);
    return out;
  };
  const std::wstring passwordChars = L"aZ9/?#\"@: %+=\\'.-_~!&;,<>\t\u00e9";
  const std::wstring userChars = L"abcXYZ019.-_%";
  const std::wstring restChars = L"abc/.?=& \"-";  // no ":" and no "@"
  const std::vector<std::wstring> schemes = {L"", L"", L"ftp://", L"HTTP://", L"sftp+x://"};
  const std::vector<std::wstring> befores = {L"", L"Started DownloadFTPFile ", L"GET Type=FTP SourceFileName=",
                                             L"Setting up \"", L"a\tb ", L"Start frmX:RemoveFromDownloadList "};
  for (int round = 0; round < 20000; ++round) {
    const std::wstring scheme = schemes[random() % schemes.size()];
    std::wstring user = text(userChars, scheme.empty() ? 1 : 0, 8);
    if (random() % 4 == 0) user += L"@x.org";  // a user name with an "@"
    std::wstring password = text(passwordChars, 1, 16);
    std::wstring after = L"host" + text(restChars, 0, 10) + L"/f";
    if (random() % 3 == 0) after += L"/a@b" + text(restChars, 0, 5);  // an "@" in the path
    std::wstring before = befores[random() % befores.size()];
    if (scheme.empty()) {
      // Without a scheme a password holds no scheme and does not start with "//" (see
      // MaskUrlPasswords), and a ":" before the user name would start the mask there.
      if (password.find(L"://") != std::wstring::npos || password.compare(0, 2, L"//") == 0) password[0] = L'x';
      while (password.find(L"://") != std::wstring::npos) password.replace(password.find(L"://"), 3, L"x");
      if (before.find(L':') != std::wstring::npos) before.clear();
    }
    const std::wstring line = before + scheme + user + L":" + password + L"@" + after;
    const std::wstring masked = MaskUrlPasswords(line);
    ASSERT_EQ(masked, before + scheme + user + L":***" + line.substr(line.rfind(L'@'))) << line;
    ASSERT_EQ(masked, MaskedColonByColon(line)) << line;
    const std::wstring noise = text(L"ab:/@ \"x.", 0, 40);
    ASSERT_EQ(MaskUrlPasswords(noise), MaskedColonByColon(noise)) << noise;
  }
}

TEST(Paths, PartsOfPathsAndUrls) {
  EXPECT_EQ(FileNamePart(L"http://h/a/b/file.txt"), L"file.txt");
  EXPECT_EQ(FileNamePart(L"C:\\x\\y.jpg"), L"y.jpg");
  EXPECT_EQ(ExtensionPart(L"ftp://h/d/story.jpg"), L"jpg");
  EXPECT_EQ(ExtensionPart(L"C:\\dir.v2\\readme"), L"");
  EXPECT_EQ(StemPart(L"ftp://h/d/story.txt"), L"ftp://h/d/story");
  EXPECT_EQ(FolderPart(L"C:\\a\\b.txt"), L"C:\\a");
  EXPECT_EQ(FolderPart(L"b.txt"), L"");
}

TEST(Paths, FullPathsNameOneFileWhateverTheCurrentFolder) {
  for (const wchar_t* full : {L"C:\\a.txt", L"z:/a", L"C:\\", L"\\\\server\\share\\a.txt", L"//server/share/a",
                              L"\\\\?\\C:\\a"})
    EXPECT_TRUE(IsFullPath(full)) << full;
  for (const wchar_t* relative : {L"", L"a.txt", L"dir\\a.txt", L"\\a.txt", L"/a", L"C:a.txt", L"C:", L"1:\\a",
                                  L"\\\\", L"\\\\\\x", L"..\\a"})
    EXPECT_FALSE(IsFullPath(relative)) << relative;
}

// The system opens a device, or another file's stream, for these names in any folder: the
// download would go to the device and its part with it, or fail after leaving a base file.
TEST(Paths, DevicesAndStreamsAreNoFileNames) {
  for (const wchar_t* device :
       {L"C:\\x\\CON", L"C:\\x\\con.txt", L"C:\\x\\Nul.tar.gz", L"C:\\x\\AUX. ", L"C:\\x\\prn .log", L"C:\\x\\COM0",
        L"C:\\x\\com9.bin", L"C:\\x\\LPT1", L"C:\\x\\lpt\u00b9.txt", L"C:\\x\\COM\u00b2", L"C:\\x\\LPT\u00b3..",
        L"\\\\server\\share\\NUL", L"C:/x/con", L"\\\\.\\COM1", L"C:\\x\\COM1 ",
        L"C:\\x\\a.bin:ads", L"C:\\x\\a.bin:ads:$DATA", L"C:\\x\\a:b\\c.bin", L"\\\\server\\share\\a.bin:s",
        L"\\\\?\\C:\\x\\a.bin:s", L"\\\\?\\UNC\\server\\share\\a:s"})
    EXPECT_FALSE(NamesPlainFile(device)) << device;
  for (const wchar_t* file : {L"C:\\x\\a.bin", L"C:\\x\\CONSOLE.txt", L"C:\\x\\COM10", L"C:\\x\\COM", L"C:\\x\\LPT.txt",
                              L"C:\\x\\my CON.txt", L"C:\\x\\xNUL", L"C:\\CON\\a.txt", L"\\\\server\\share\\a.bin",
                              L"\\\\?\\C:\\x\\a.bin", L"C:\\x\\COM1x"})
    EXPECT_TRUE(NamesPlainFile(file)) << file;
}

// The extended form is taken literally: what the system would have normalised must be
// normalised here, or the long path names another file than the short one.
TEST(Paths, ExtendedFormNamesTheSameFileAtAnyLength) {
  const struct {
    const wchar_t* given;
    const wchar_t* extended;
  } cases[] = {
      {L"C:\\x\\a.bin", L"\\\\?\\C:\\x\\a.bin"},
      {L"c:/x//y/a.bin", L"\\\\?\\c:\\x\\y\\a.bin"},
      {L"C:\\a\\..\\b\\.\\c", L"\\\\?\\C:\\b\\c"},
      {L"C:\\..\\..\\x", L"\\\\?\\C:\\x"},
      {L"C:\\a.\\b. .", L"\\\\?\\C:\\a\\b"},
      {L"C:\\a..\\b", L"\\\\?\\C:\\a.\\b"},
      {L"C:\\a\\b . . ", L"\\\\?\\C:\\a\\b"},
      {L"C:\\x\\y\\", L"\\\\?\\C:\\x\\y\\"},
      {L"C:\\", L"\\\\?\\C:\\"},
      {L"\\\\server\\share\\d\\a.bin", L"\\\\?\\UNC\\server\\share\\d\\a.bin"},
      {L"//server/share/../../a", L"\\\\?\\UNC\\server\\share\\a"},
      {L"\\\\?\\C:\\a\\..\\b", L"\\\\?\\C:\\a\\..\\b"},
      {L"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x"},
      {L"a\\b.txt", L"a\\b.txt"},
      {L"\\a.txt", L"\\a.txt"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtendedPath(c.given), c.extended) << c.given;
  // The part's record beside a destination of 250 characters: past MAX_PATH, one form.
  const std::wstring long250 = L"C:\\" + std::wstring(241, L'd') + L"\\a.bin";
  ASSERT_EQ(long250.size(), 250u);
  EXPECT_EQ(ExtendedPath(long250 + L".vskpart.rec.new"), L"\\\\?\\" + long250 + L".vskpart.rec.new");
}
