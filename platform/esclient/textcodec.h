#pragma once

// Text forms of setting values shared by the value type, the wire codec and the
// simulator's site file reader.

#include "es/korvues.h"

#include <string>

namespace korvu::es::text {

int daysInMonth(int year, int month);

std::string toBase64(const std::string &bytes);
// False on characters outside the standard alphabet or a bad length/padding.
bool fromBase64(const std::string &text, std::string *bytes);

std::string formatDate(const Date &date);
std::string formatTime(const Time &time);
std::string formatTimestamp(long long millisecondsSinceEpoch);

// Strict parsers of the forms above ("YYYY-MM-DD", "HH:MM:SS[.mmm]",
// "YYYY-MM-DDTHH:MM:SS[.mmm]"); they only check the shape, Value::from... checks ranges.
bool parseDate(const std::string &text, Date *date);
bool parseTime(const std::string &text, Time *time);
bool parseDateTime(const std::string &text, DateTime *dateTime);

} // namespace korvu::es::text
