#include "platform/esclient/textcodec.h"

#include <cstdio>

namespace korvu::es::text {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Index(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

bool digits(const std::string &text, std::size_t pos, std::size_t count, int *out)
{
    if (pos + count > text.size())
        return false;
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    *out = value;
    return true;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
void civilFromDays(long long z, int *year, int *month, int *day)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long y = yoe + era * 400;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1;
    const long long m = mp < 10 ? mp + 3 : mp - 9;
    *year = int(y + (m <= 2 ? 1 : 0));
    *month = int(m);
    *day = int(d);
}

} // namespace

int daysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0))
        return 29;
    return days[month - 1];
}

std::string toBase64(const std::string &bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v =
            (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 | (unsigned char)bytes[i + 2];
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += kAlphabet[v >> 6 & 63];
        out += kAlphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        const unsigned v = (unsigned char)bytes[i] << 16;
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += "==";
    } else if (rest == 2) {
        const unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8;
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += kAlphabet[v >> 6 & 63];
        out += '=';
    }
    return out;
}

bool fromBase64(const std::string &text, std::string *bytes)
{
    if (text.size() % 4 != 0)
        return false;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int idx[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=' && last && k >= 2) {
                idx[k] = 0;
                ++padding;
                continue;
            }
            if (padding > 0)
                return false; // data after padding
            idx[k] = base64Index(c);
            if (idx[k] < 0)
                return false;
        }
        const unsigned v = unsigned(idx[0]) << 18 | unsigned(idx[1]) << 12 | unsigned(idx[2]) << 6 | unsigned(idx[3]);
        out += char(v >> 16 & 0xff);
        if (padding < 2)
            out += char(v >> 8 & 0xff);
        if (padding < 1)
            out += char(v & 0xff);
    }
    *bytes = std::move(out);
    return true;
}

std::string formatDate(const Date &date)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", date.year, date.month, date.day);
    return buffer;
}

std::string formatTime(const Time &time)
{
    char buffer[32];
    if (time.millisecond != 0)
        std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", time.hour, time.minute, time.second,
                      time.millisecond);
    else
        std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", time.hour, time.minute, time.second);
    return buffer;
}

std::string formatTimestamp(long long ms)
{
    long long days = ms / 86400000LL;
    long long rest = ms % 86400000LL;
    if (rest < 0) {
        rest += 86400000LL;
        --days;
    }
    int year, month, day;
    civilFromDays(days, &year, &month, &day);
    const int h = int(rest / 3600000), m = int(rest / 60000 % 60), s = int(rest / 1000 % 60), milli = int(rest % 1000);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, month, day, h, m, s, milli);
    return buffer;
}

bool parseDate(const std::string &text, Date *date)
{
    Date d;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return false;
    if (!digits(text, 0, 4, &d.year) || !digits(text, 5, 2, &d.month) || !digits(text, 8, 2, &d.day))
        return false;
    *date = d;
    return true;
}

bool parseTime(const std::string &text, Time *time)
{
    Time t;
    if ((text.size() != 8 && text.size() != 12) || text[2] != ':' || text[5] != ':')
        return false;
    if (!digits(text, 0, 2, &t.hour) || !digits(text, 3, 2, &t.minute) || !digits(text, 6, 2, &t.second))
        return false;
    if (text.size() == 12 && (text[8] != '.' || !digits(text, 9, 3, &t.millisecond)))
        return false;
    *time = t;
    return true;
}

bool parseDateTime(const std::string &text, DateTime *dateTime)
{
    if (text.size() < 11 || text[10] != 'T')
        return false;
    DateTime dt;
    if (!parseDate(text.substr(0, 10), &dt.date) || !parseTime(text.substr(11), &dt.time))
        return false;
    *dateTime = dt;
    return true;
}

} // namespace korvu::es::text
