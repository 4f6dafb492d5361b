#include "client/wire.h"

#include "client/textcodec.h"

#include <cmath>
#include <limits>

namespace korvu::es::wire {

using nlohmann::json;

std::string encodeFrame(const std::string &payload)
{
    const std::uint32_t n = std::uint32_t(payload.size());
    std::string frame;
    frame.reserve(kHeaderSize + payload.size());
    frame += char(n >> 24 & 0xff);
    frame += char(n >> 16 & 0xff);
    frame += char(n >> 8 & 0xff);
    frame += char(n & 0xff);
    frame += payload;
    return frame;
}

std::string encodeFrame(const json &message)
{
    // Invalid UTF-8 in a text is replaced rather than thrown about.
    return encodeFrame(message.dump(-1, ' ', false, json::error_handler_t::replace));
}

FrameDecoder::FrameDecoder(std::size_t maxFrameSize) : m_maxFrameSize(maxFrameSize) {}

void FrameDecoder::feed(const char *data, std::size_t size)
{
    if (m_errorCode != 0)
        return;
    // Drop what was consumed once it dominates the buffer, so a long stream of
    // small frames neither grows the buffer nor copies it for every frame.
    if (m_offset > 0 && m_offset >= m_buffer.size() / 2) {
        m_buffer.erase(0, m_offset);
        m_offset = 0;
    }
    m_buffer.append(data, size);
}

FrameDecoder::Status FrameDecoder::next(std::string *payload)
{
    if (m_errorCode != 0)
        return Status::Error;
    const std::size_t available = m_buffer.size() - m_offset;
    if (available < kHeaderSize)
        return Status::NeedMore;
    const auto *p = reinterpret_cast<const unsigned char *>(m_buffer.data() + m_offset);
    const std::uint32_t n = std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
    if (n == 0) {
        m_error = "Empty frame";
        m_errorCode = ErrorCode::ProtocolError;
        return Status::Error;
    }
    if (n > m_maxFrameSize) {
        m_error = "Frame of " + std::to_string(n) + " bytes exceeds the limit of " + std::to_string(m_maxFrameSize) +
                  " bytes";
        m_errorCode = ErrorCode::FrameTooLarge;
        return Status::Error;
    }
    if (available - kHeaderSize < n)
        return Status::NeedMore;
    payload->assign(m_buffer, m_offset + kHeaderSize, n);
    m_offset += kHeaderSize + n;
    if (m_offset == m_buffer.size()) {
        m_buffer.clear();
        m_offset = 0;
    }
    return Status::Frame;
}

bool parseMessage(const std::string &payload, json *message, std::string *error)
{
    json parsed = json::parse(payload, nullptr, false);
    if (parsed.is_discarded()) {
        *error = "Frame is not valid JSON";
        return false;
    }
    if (!parsed.is_object()) {
        *error = "Frame is not a JSON object";
        return false;
    }
    auto t = parsed.find("t");
    if (t == parsed.end() || !t->is_string()) {
        *error = "Frame has no message type";
        return false;
    }
    *message = std::move(parsed);
    return true;
}

namespace {

// nlohmann reports unsigned numbers as integers too, so unsigned goes first.
bool integerOf(const json &v, long long *out)
{
    if (v.is_number_unsigned()) {
        const auto u = v.get<std::uint64_t>();
        if (u > std::uint64_t(std::numeric_limits<long long>::max()))
            return false;
        *out = (long long)u;
        return true;
    }
    if (v.is_number_integer()) {
        *out = v.get<long long>();
        return true;
    }
    return false;
}

} // namespace

bool getInt(const json &object, const char *name, long long *out)
{
    if (!object.is_object())
        return false;
    auto it = object.find(name);
    return it != object.end() && integerOf(*it, out);
}

bool getString(const json &object, const char *name, std::string *out)
{
    if (!object.is_object())
        return false;
    auto it = object.find(name);
    if (it == object.end() || !it->is_string())
        return false;
    *out = it->get<std::string>();
    return true;
}

json encodeValue(const Value &value)
{
    switch (value.kind()) {
    case Value::Kind::None:
        return nullptr;
    case Value::Kind::Bool:
        return value.toBool();
    case Value::Kind::Int:
        return value.toInt();
    case Value::Kind::Id:
        return value.toId();
    case Value::Kind::Timestamp:
        return value.toTimestamp();
    case Value::Kind::Float: {
        const double f = value.toFloat();
        if (std::isnan(f))
            return "nan";
        if (std::isinf(f))
            return f > 0 ? "inf" : "-inf";
        return f;
    }
    case Value::Kind::String:
    case Value::Kind::Data:
    case Value::Kind::Date:
    case Value::Kind::Time:
    case Value::Kind::DateTime:
        return value.toString();
    }
    return nullptr;
}

bool decodeValue(const json &kind, const json &v, Value *out, std::string *error)
{
    if (!kind.is_string()) {
        *error = "Setting kind is not a text";
        return false;
    }
    const std::string &k = kind.get_ref<const std::string &>();
    long long i = 0;
    if (k == "none") {
        if (!v.is_null()) {
            *error = "None setting with a value";
            return false;
        }
        *out = Value();
        return true;
    }
    if (k == "bool") {
        if (!v.is_boolean()) {
            *error = "Bool setting is not a boolean";
            return false;
        }
        *out = Value::fromBool(v.get<bool>());
        return true;
    }
    if (k == "int" || k == "id" || k == "timestamp") {
        if (!integerOf(v, &i)) {
            *error = "Setting of kind " + k + " is not a 64-bit integer";
            return false;
        }
        *out = k == "int" ? Value::fromInt(i) : k == "id" ? Value::fromId(i) : Value::fromTimestamp(i);
        return true;
    }
    if (k == "float") {
        if (v.is_number()) {
            *out = Value::fromFloat(v.get<double>());
            return true;
        }
        if (v.is_string()) {
            const std::string &s = v.get_ref<const std::string &>();
            if (s == "nan" || s == "inf" || s == "-inf") {
                *out = Value::fromFloat(s == "nan"   ? std::numeric_limits<double>::quiet_NaN()
                                        : s == "inf" ? std::numeric_limits<double>::infinity()
                                                     : -std::numeric_limits<double>::infinity());
                return true;
            }
        }
        *error = "Float setting is not a number";
        return false;
    }
    if (!v.is_string()) {
        *error = "Setting of kind " + k + " is not a text";
        return false;
    }
    const std::string &s = v.get_ref<const std::string &>();
    if (k == "string") {
        *out = Value::fromString(s);
        return true;
    }
    if (k == "data") {
        std::string bytes;
        if (!text::fromBase64(s, &bytes)) {
            *error = "Data setting is not base64";
            return false;
        }
        *out = Value::fromData(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
        return true;
    }
    Value parsed;
    if (k == "date") {
        Date d;
        if (text::parseDate(s, &d))
            parsed = Value::fromDate(d);
    } else if (k == "time") {
        Time t;
        if (text::parseTime(s, &t))
            parsed = Value::fromTime(t);
    } else if (k == "dateTime") {
        DateTime dt;
        if (text::parseDateTime(s, &dt))
            parsed = Value::fromDateTime(dt);
    } else {
        *error = "Unknown setting kind " + k;
        return false;
    }
    if (parsed.isNone()) {
        *error = "Setting of kind " + k + " has a bad value";
        return false;
    }
    *out = parsed;
    return true;
}

json encodeObject(const Object &object)
{
    json settings = json::array();
    for (const auto &entry : object.settings().entries())
        settings.push_back(json::array({entry.first, Value::kindName(entry.second.kind()), encodeValue(entry.second)}));
    const std::string &serial = object.type() == Object::Device   ? object.toDevice().serialNumber()
                                : object.type() == Object::Stream ? object.toStream().serialNumber()
                                                                  : std::string();
    return json{{"id", object.id()},
                {"parent", object.parent()},
                {"type", int(object.type())},
                {"name", object.name()},
                {"class", object.className()},
                {"serial", serial},
                {"settings", std::move(settings)}};
}

bool decodeObject(const json &j, Object *out, std::string *error)
{
    if (!j.is_object()) {
        *error = "Object is not a JSON object";
        return false;
    }
    long long id = 0, parent = 0, type = 0;
    std::string name, className, serial;
    if (!getInt(j, "id", &id) || !getInt(j, "parent", &parent) || !getInt(j, "type", &type)) {
        *error = "Object lacks a numeric id, parent or type";
        return false;
    }
    if (type < std::numeric_limits<int>::min() || type > std::numeric_limits<int>::max()) {
        *error = "Object type out of range";
        return false;
    }
    if (!getString(j, "name", &name) || !getString(j, "class", &className)) {
        *error = "Object lacks a name or class";
        return false;
    }
    getString(j, "serial", &serial);
    NameValueMap settings;
    auto s = j.find("settings");
    if (s != j.end()) {
        if (!s->is_array()) {
            *error = "Object settings are not a list";
            return false;
        }
        for (const auto &entry : *s) {
            if (!entry.is_array() || entry.size() != 3 || !entry[0].is_string()) {
                *error = "Object setting is not [name, kind, value]";
                return false;
            }
            Value value;
            if (!decodeValue(entry[1], entry[2], &value, error))
                return false;
            settings.set(entry[0].get<std::string>(), std::move(value));
        }
    }
    *out = Object(id, parent, int(type), std::move(name), std::move(className), std::move(serial), std::move(settings));
    return true;
}

json encodeEvent(const Event &event)
{
    return json{{"id", event.id},
                {"object", event.objectId},
                {"type", event.type},
                {"time", event.timestamp},
                {"text", event.text}};
}

bool decodeEvent(const json &j, Event *out, std::string *error)
{
    Event e;
    long long type = 0;
    if (!getInt(j, "id", &e.id) || !getInt(j, "object", &e.objectId) || !getInt(j, "type", &type) ||
        !getInt(j, "time", &e.timestamp) || !getString(j, "text", &e.text) || type < 0 || type > 0x7fffffff) {
        *error = "Malformed event";
        return false;
    }
    e.type = int(type);
    *out = std::move(e);
    return true;
}

} // namespace korvu::es::wire
