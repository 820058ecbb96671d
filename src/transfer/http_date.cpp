#include "transfer/http_date.h"

namespace velmora {

namespace {

const wchar_t* const kMonths[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                  L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
const wchar_t* const kDays[] = {L"Sunday", L"Monday", L"Tuesday", L"Wednesday", L"Thursday", L"Friday", L"Saturday"};

// Reads the text from left to right; every step fails once one has failed.
struct Reader {
  const std::wstring& text;
  size_t at = 0;
  bool ok = true;

  bool Literal(const std::wstring& word) {
    ok = ok && text.compare(at, word.size(), word) == 0;
    if (ok) at += word.size();
    return ok;
  }
  // Exactly `digits` digits; a leading space stands for a zero when `spaced`.
  int Number(size_t digits, bool spaced = false) {
    int value = 0;
    for (size_t i = 0; ok && i < digits; ++i) {
      const wchar_t c = at < text.size() ? text[at] : L'\0';
      if (c >= L'0' && c <= L'9')
        value = value * 10 + (c - L'0');
      else
        ok = spaced && i == 0 && c == L' ';
      ++at;
    }
    return value;
  }
  int Month() {
    for (int m = 0; ok && m < 12; ++m)
      if (text.compare(at, 3, kMonths[m]) == 0) {
        at += 3;
        return m + 1;
      }
    ok = false;
    return 0;
  }
  // The weekday's full name, or its first three letters when not `full`.
  int Weekday(bool full) {
    for (int d = 0; ok && d < 7; ++d) {
      const std::wstring name = full ? std::wstring(kDays[d]) : std::wstring(kDays[d], 3);
      if (text.compare(at, name.size(), name) == 0 &&
          (full || at + 3 == text.size() || text[at + 3] == L',' || text[at + 3] == L' ')) {
        at += name.size();
        return d;
      }
    }
    ok = false;
    return 0;
  }
  void Time(int& h, int& m, int& s) {
    h = Number(2);
    Literal(L":");
    m = Number(2);
    Literal(L":");
    s = Number(2);
  }
  bool End() const { return ok && at == text.size(); }
};

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool Compose(int64_t year, int month, int day, int h, int m, int s, int weekday, int64_t& seconds) {
  static const int kLength[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day < 1 || day > kLength[month - 1] || (month == 2 && day == 29 && !leap)) return false;
  if (h > 23 || m > 59 || s > 60) return false;  // a leap second is written as :60
  const int64_t days = DaysFromCivil(year, month, day);
  if (weekday >= 0 && ((days % 7 + 7) % 7 + 4) % 7 != weekday) return false;  // 1970-01-01 was a Thursday
  seconds = days * 86400 + h * 3600 + m * 60 + s;
  return true;
}

}  // namespace

bool CivilSeconds(int64_t year, int month, int day, int h, int m, int s, int64_t& seconds) {
  return month >= 1 && month <= 12 && h >= 0 && m >= 0 && s >= 0 && Compose(year, month, day, h, m, s, -1, seconds);
}

bool ParseHttpDate(const std::wstring& text, int64_t& seconds) {
  int h = 0, m = 0, s = 0;
  {
    // IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT"
    Reader r{text};
    const int weekday = r.Weekday(false);
    r.Literal(L", ");
    const int day = r.Number(2);
    r.Literal(L" ");
    const int month = r.Month();
    r.Literal(L" ");
    const int year = r.Number(4);
    r.Literal(L" ");
    r.Time(h, m, s);
    r.Literal(L" GMT");
    if (r.End()) return Compose(year, month, day, h, m, s, weekday, seconds);
  }
  {
    // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT"; the two-digit year is 1970-2069, which
    // is all a server of this form can still mean.
    Reader r{text};
    const int weekday = r.Weekday(true);
    r.Literal(L", ");
    const int day = r.Number(2);
    r.Literal(L"-");
    const int month = r.Month();
    r.Literal(L"-");
    const int yy = r.Number(2);
    r.Literal(L" ");
    r.Time(h, m, s);
    r.Literal(L" GMT");
    if (r.End()) return Compose(yy < 70 ? 2000 + yy : 1900 + yy, month, day, h, m, s, weekday, seconds);
  }
  {
    // asctime: "Sun Nov  6 08:49:37 1994"
    Reader r{text};
    const int weekday = r.Weekday(false);
    r.Literal(L" ");
    const int month = r.Month();
    r.Literal(L" ");
    const int day = r.Number(2, true);
    r.Literal(L" ");
    r.Time(h, m, s);
    r.Literal(L" ");
    const int year = r.Number(4);
    if (r.End()) return Compose(year, month, day, h, m, s, weekday, seconds);
  }
  return false;
}

}  // namespace velmora
