#include "inet/url_codecs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

// A double-byte page where U+3042 is 82 A0 and byte 0x82 alone reads as U+FF82.
class DoubleBytePage final : public AnsiCodePage {
 public:
  std::string Encode(wchar_t c) const override {
    if (c == 0x3042) return Bytes({0x82, 0xA0});
    return Latin1CodePage().Encode(c);
  }
  wchar_t Decode(uint8_t code) const override { return code == 0x82 ? wchar_t(0xFF82) : wchar_t(code); }
};

const AnsiCodePage& L1 = Latin1CodePage();

struct TextCase {
  std::wstring in;
  std::wstring out;
};

TEST(UrlEncode, KeepsUnreservedAndSpacesAsAsked) {
  const std::vector<std::pair<TextCase, bool>> cases = {
      {{L"a b", L"a+b"}, true},
      {{L"a b", L"a b"}, false},
      {{L"Az09-._~", L"Az09-._~"}, true},
      {{L"a&b=c/d?", L"a%26b%3Dc%2Fd%3F"}, false},
      {{L"+%", L"%2B%25"}, true},
      {{L"\t\x7F\xE9", L"%09%7F%E9"}, true},
      {{L"\x4E2D", L"%3F"}, true},  // outside the page: its "?" substitute
      {{L"", L""}, true},
  };
  for (const auto& [c, replace] : cases) EXPECT_EQ(URLEncode(c.in, replace, L1), c.out) << c.out;
}

TEST(UrlEncode, WritesEveryByteOfADoubleByteCharacter) {
  EXPECT_EQ(URLEncode(L"\x3042", false, DoubleBytePage()), L"%82%A0");
  // URLEncode2 keeps only the low byte of the code, by its own rule.
  EXPECT_EQ(URLEncode2(L"\x3042", DoubleBytePage()), L"%A0");
}

TEST(UrlEncode2, WorkedExamplesAndItsOwnRules) {
  const std::vector<TextCase> cases = {
      {L"a b&c", L"a+b%26c"}, {L"A-1", L"A%2D1"},    {L"0123456789", L"0123456789"},
      {L"\t", L"%09"},         {L"~._", L"%7E%2E%5F"}, {L"+", L"%2B"},
      {L"\xFF", L"%FF"},       {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(URLEncode2(c.in, L1), c.out) << c.out;
}

TEST(UrlEncodeB2, BytesAndCharacterText) {
  EXPECT_EQ(URLEncodeB2(Bytes({0x61, 0x20, 0x62, 0x26, 0x63})), L"a+b%26c");
  EXPECT_EQ(URLEncodeB2(Bytes({0x41, 0x2D, 0x31})), L"A%2D%31");
  EXPECT_EQ(URLEncodeB2(std::wstring(L"a b&c")), L"a%00+%00b%00%26%00c%00");
  EXPECT_EQ(URLEncodeB2(std::string("0")), L"%30");
  EXPECT_EQ(URLEncodeB2(Bytes({0x00, 0x0F, 0x80, 0xFF})), L"%00%0F%80%FF");
  EXPECT_EQ(URLEncodeB2(std::wstring(L"\x3042")), L"B%30");  // low byte 42 first, then 30
}

TEST(UrlDecode2, WorkedExamplesAndMalformedSequences) {
  const std::vector<TextCase> cases = {
      {L"a+b%26c", L"a b&c"},
      {L"1%2B1", L"1+1"},
      {L"%41", L"A"},
      {L"%4", std::wstring(1, L'\x04')},
      {L"%4a%4A", L"JJ"},
      {L"no percent+here", L"no percent here"},
      {L"100%", L"100%"},
      {L"%zz1", L"%zz1"},
      {L"50%%", L"50%%"},
      {L"%zz", L"%zz"},
      {L"%4z", L"%4z"},
      {L"%%41", L"%%41"},  // the failed "%%4" swallows the "4"; "1" follows as text
      {L"%+1", L"% 1"},    // "+" is a space before any sequence is read
      {L"%-1", L"%-1"},    // a sign is not a number here
      {L"%E9", L"\xE9"},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(URLDecode2(c.in, L1), c.out) << c.in;
  EXPECT_EQ(URLDecode2(L"%82", DoubleBytePage()), std::wstring(1, wchar_t(0xFF82)));
}

TEST(UrlDecodeB2, BytesOfTheWorkedExampleAndLowBytes) {
  EXPECT_EQ(URLDecodeB2(L"a+b%26c"), Bytes({0x61, 0x20, 0x62, 0x26, 0x63}));
  EXPECT_EQ(URLDecodeB2(L"%2B+"), "+ ");
  EXPECT_EQ(URLDecodeB2(L"%4"), Bytes({0x04}));
  EXPECT_EQ(URLDecodeB2(L"%ff%00"), Bytes({0xFF, 0x00}));
  EXPECT_EQ(URLDecodeB2(L"\x3042"), Bytes({0x42}));
  EXPECT_EQ(URLDecodeB2(L""), "");
}

TEST(UrlDecodeB2, MalformedSequencesRaiseAConversionError) {
  for (const std::wstring in : {L"%zz", L"%", L"abc%", L"%g1", L"%1g", L"ok%+1", L"%-1", L"%%41"}) {
    EXPECT_THROW(URLDecodeB2(in), UrlConversionError) << std::string(in.begin(), in.end());
  }
  try {
    URLDecodeB2(L"ab%zz");
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("position 3"), std::string::npos) << e.what();
  }
}

TEST(UrlCodecs, PairsThatRoundTrip) {
  std::string allBytes;
  for (int b = 0; b < 256; ++b) allBytes += static_cast<char>(b);
  EXPECT_EQ(URLDecodeB2(URLEncodeB2(allBytes)), allBytes);

  std::wstring latin1;
  for (int c = 1; c < 256; ++c) latin1 += static_cast<wchar_t>(c);
  latin1 += L"  double  spaces ";
  EXPECT_EQ(URLDecode2(URLEncode(latin1, true, L1), L1), latin1);
  EXPECT_EQ(URLDecode2(URLEncode2(latin1, L1), L1), latin1);

  const std::wstring wide = L"a b&c \x3042\x4E2D";
  std::string asBytes = URLDecodeB2(URLEncodeB2(wide));
  ASSERT_EQ(asBytes.size(), wide.size() * 2);
  std::wstring back;
  for (size_t i = 0; i < asBytes.size(); i += 2)
    back += static_cast<wchar_t>(static_cast<uint8_t>(asBytes[i]) | (static_cast<uint8_t>(asBytes[i + 1]) << 8));
  EXPECT_EQ(back, wide);
}

TEST(UrlCodecs, WhereThePairsDoNotRoundTrip) {
  // A "+" given to URLEncode2 is encoded and survives; one that reaches the decoder
  // unencoded becomes a space.
  EXPECT_EQ(URLDecode2(URLEncode2(L"1+1", L1), L1), L"1+1");
  EXPECT_EQ(URLDecode2(L"1+1", L1), L"1 1");
  // A character outside the page cannot come back.
  EXPECT_EQ(URLDecode2(URLEncode2(L"\x4E2D", L1), L1), L"?");
  // A double-byte character loses its lead byte in URLEncode2.
  EXPECT_NE(URLDecode2(URLEncode2(L"\x3042", DoubleBytePage()), DoubleBytePage()), L"\x3042");
  // Text that was never encoded is not safe to decode.
  EXPECT_EQ(URLDecode2(L"100%41", L1), L"100A");
  // The byte encoder of character text pairs with the byte decoder, not URLDecode2.
  EXPECT_EQ(URLDecode2(URLEncodeB2(std::wstring(L"ab")), L1), std::wstring(L"a\0b\0", 4));
}

TEST(UrlCodecs, LongInputsHaveNoLengthLimit) {
  const std::wstring text(70000, L' ');
  EXPECT_EQ(URLEncode2(text, L1), std::wstring(70000, L'+'));
  EXPECT_EQ(URLEncode(text, true, L1).size(), 70000u);
  EXPECT_EQ(URLEncodeB2(std::string(40000, '0')).size(), 120000u);
  EXPECT_EQ(URLDecodeB2(std::wstring(40000, L'+')), std::string(40000, ' '));
}

}  // namespace
}  // namespace velmora
