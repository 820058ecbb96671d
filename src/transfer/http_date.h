// HTTP dates (Date, Last-Modified) as seconds since 1970, UTC. Plain C++.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// The three forms a recipient must read: "Sun, 06 Nov 1994 08:49:37 GMT",
// "Sunday, 06-Nov-94 08:49:37 GMT" and "Sun Nov  6 08:49:37 1994". False for anything else,
// including a date that does not exist (31 Feb) or a weekday that does not fit it.
bool ParseHttpDate(const std::wstring& text, int64_t& seconds);
// A UTC date and time of the proleptic Gregorian calendar as seconds since 1970; false for
// one that does not exist (31 Feb, 25:00). A leap second is written as :60.
bool CivilSeconds(int64_t year, int month, int day, int h, int m, int s, int64_t& seconds);

}  // namespace velmora
