#include "es/korvues.h"

#include "platform/esclient/textcodec.h"

#include <locale>
#include <sstream>

namespace korvu::es {

namespace {

constexpr long long kTimeScale = 1000000000LL; // packed DateTime = date * kTimeScale + time

bool validDate(const Date &d)
{
    return d.year >= 1 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
           d.day <= text::daysInMonth(d.year, d.month);
}

bool validTime(const Time &t)
{
    return t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 59 &&
           t.millisecond >= 0 && t.millisecond <= 999;
}

long long packDate(const Date &d)
{
    return d.year * 10000LL + d.month * 100LL + d.day;
}

long long packTime(const Time &t)
{
    return t.hour * 10000000LL + t.minute * 100000LL + t.second * 1000LL + t.millisecond;
}

Date unpackDate(long long v)
{
    return Date{int(v / 10000), int(v / 100 % 100), int(v % 100)};
}

Time unpackTime(long long v)
{
    return Time{int(v / 10000000), int(v / 100000 % 100), int(v / 1000 % 100), int(v % 1000)};
}

} // namespace

Value::Value() = default;

Value Value::fromBool(bool value)
{
    Value v;
    v.m_kind = Kind::Bool;
    v.m_integer = value ? 1 : 0;
    return v;
}

Value Value::fromInt(long long value)
{
    Value v;
    v.m_kind = Kind::Int;
    v.m_integer = value;
    return v;
}

Value Value::fromFloat(double value)
{
    Value v;
    v.m_kind = Kind::Float;
    v.m_float = value;
    return v;
}

Value Value::fromString(std::string value)
{
    Value v;
    v.m_kind = Kind::String;
    v.m_bytes = std::move(value);
    return v;
}

Value Value::fromId(long long value)
{
    Value v;
    v.m_kind = Kind::Id;
    v.m_integer = value;
    return v;
}

Value Value::fromData(std::vector<std::uint8_t> value)
{
    Value v;
    v.m_kind = Kind::Data;
    v.m_bytes.assign(value.begin(), value.end());
    return v;
}

Value Value::fromDate(const es::Date &value)
{
    Value v;
    if (!validDate(value))
        return v;
    v.m_kind = Kind::Date;
    v.m_integer = packDate(value);
    return v;
}

Value Value::fromTime(const es::Time &value)
{
    Value v;
    if (!validTime(value))
        return v;
    v.m_kind = Kind::Time;
    v.m_integer = packTime(value);
    return v;
}

Value Value::fromDateTime(const es::DateTime &value)
{
    Value v;
    if (!validDate(value.date) || !validTime(value.time))
        return v;
    v.m_kind = Kind::DateTime;
    v.m_integer = packDate(value.date) * kTimeScale + packTime(value.time);
    return v;
}

Value Value::fromTimestamp(long long millisecondsSinceEpoch)
{
    Value v;
    v.m_kind = Kind::Timestamp;
    v.m_integer = millisecondsSinceEpoch;
    return v;
}

Value::Kind Value::kind() const
{
    return m_kind;
}

bool Value::isNone() const
{
    return m_kind == Kind::None;
}

bool Value::toBool() const
{
    return m_kind == Kind::Bool && m_integer != 0;
}

long long Value::toInt() const
{
    return m_kind == Kind::Int ? m_integer : 0;
}

double Value::toFloat() const
{
    return m_kind == Kind::Float ? m_float : 0.0;
}

long long Value::toId() const
{
    return m_kind == Kind::Id ? m_integer : 0;
}

std::vector<std::uint8_t> Value::toData() const
{
    if (m_kind != Kind::Data)
        return {};
    return std::vector<std::uint8_t>(m_bytes.begin(), m_bytes.end());
}

es::Date Value::toDate() const
{
    if (m_kind == Kind::Date)
        return unpackDate(m_integer);
    if (m_kind == Kind::DateTime)
        return unpackDate(m_integer / kTimeScale);
    return es::Date{};
}

es::Time Value::toTime() const
{
    if (m_kind == Kind::Time)
        return unpackTime(m_integer);
    if (m_kind == Kind::DateTime)
        return unpackTime(m_integer % kTimeScale);
    return es::Time{};
}

es::DateTime Value::toDateTime() const
{
    if (m_kind != Kind::DateTime)
        return es::DateTime{};
    return es::DateTime{toDate(), toTime()};
}

long long Value::toTimestamp() const
{
    return m_kind == Kind::Timestamp ? m_integer : 0;
}

std::string Value::toString() const
{
    switch (m_kind) {
    case Kind::None:
        return std::string();
    case Kind::Bool:
        return m_integer ? "true" : "false";
    case Kind::Int:
    case Kind::Id:
        return std::to_string(m_integer);
    case Kind::Float: {
        std::ostringstream out;
        out.imbue(std::locale::classic());
        out << m_float;
        return out.str();
    }
    case Kind::String:
        return m_bytes;
    case Kind::Data:
        return text::toBase64(m_bytes);
    case Kind::Date:
        return text::formatDate(toDate());
    case Kind::Time:
        return text::formatTime(toTime());
    case Kind::DateTime:
        return text::formatDate(toDate()) + 'T' + text::formatTime(toTime());
    case Kind::Timestamp:
        return text::formatTimestamp(m_integer);
    }
    return std::string();
}

bool Value::operator==(const Value &other) const
{
    if (m_kind != other.m_kind)
        return false;
    switch (m_kind) {
    case Kind::None:
        return true;
    case Kind::Float:
        return m_float == other.m_float;
    case Kind::String:
    case Kind::Data:
        return m_bytes == other.m_bytes;
    default:
        return m_integer == other.m_integer;
    }
}

const char *Value::kindName(Kind kind)
{
    switch (kind) {
    case Kind::None:
        return "none";
    case Kind::Bool:
        return "bool";
    case Kind::Int:
        return "int";
    case Kind::Float:
        return "float";
    case Kind::String:
        return "string";
    case Kind::Id:
        return "id";
    case Kind::Data:
        return "data";
    case Kind::Date:
        return "date";
    case Kind::Time:
        return "time";
    case Kind::DateTime:
        return "dateTime";
    case Kind::Timestamp:
        return "timestamp";
    }
    return "none";
}

// ---------------------------------------------------------------------------

NameValueMap::NameValueMap() = default;

void NameValueMap::set(const std::string &name, Value value)
{
    for (auto &entry : m_entries) {
        if (entry.first == name) {
            entry.second = std::move(value);
            return;
        }
    }
    m_entries.emplace_back(name, std::move(value));
}

bool NameValueMap::contains(const std::string &name) const
{
    for (const auto &entry : m_entries) {
        if (entry.first == name)
            return true;
    }
    return false;
}

std::size_t NameValueMap::size() const
{
    return m_entries.size();
}

bool NameValueMap::empty() const
{
    return m_entries.empty();
}

std::vector<std::string> NameValueMap::names() const
{
    std::vector<std::string> result;
    result.reserve(m_entries.size());
    for (const auto &entry : m_entries)
        result.push_back(entry.first);
    return result;
}

Value NameValueMap::value(const std::string &name) const
{
    for (const auto &entry : m_entries) {
        if (entry.first == name)
            return entry.second;
    }
    return Value();
}

const std::vector<std::pair<std::string, Value>> &NameValueMap::entries() const
{
    return m_entries;
}

} // namespace korvu::es
