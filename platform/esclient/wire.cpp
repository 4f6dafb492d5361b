#include "platform/esclient/wire.h"

#include "platform/esclient/textcodec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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
    char *room = prepare(size);
    if (room)
        std::memcpy(room, data, size);
    commit(size);
}

char *FrameDecoder::prepare(std::size_t size)
{
    if (m_errorCode != 0)
        return nullptr;
    // Drop what was consumed once it dominates the buffer, so a long stream of
    // small frames neither grows the buffer nor moves it for every frame.
    if (m_offset > 0 && m_offset >= m_size / 2) {
        std::memmove(&m_buffer[0], m_buffer.data() + m_offset, m_size - m_offset);
        m_size -= m_offset;
        m_offset = 0;
    }
    if (m_buffer.size() < m_size + size)
        m_buffer.resize(std::max(m_size + size, m_buffer.size() * 2));
    return &m_buffer[m_size];
}

void FrameDecoder::commit(std::size_t size)
{
    if (m_errorCode != 0)
        return;
    m_size = std::min(m_size + size, m_buffer.size());
}

FrameDecoder::Status FrameDecoder::next(std::string *payload)
{
    std::string_view view;
    const Status status = next(&view);
    if (status == Status::Frame)
        payload->assign(view.data(), view.size());
    return status;
}

FrameDecoder::Status FrameDecoder::next(std::string_view *payload)
{
    if (m_errorCode != 0)
        return Status::Error;
    const std::size_t available = m_size - m_offset;
    if (available < kHeaderSize) {
        if (available == 0)
            m_size = m_offset = 0;
        return Status::NeedMore;
    }
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
    *payload = std::string_view(m_buffer.data() + m_offset + kHeaderSize, n);
    m_offset += kHeaderSize + n;
    return Status::Frame;
}

bool parseMessage(std::string_view payload, json *message, std::string *error)
{
    json parsed = json::parse(payload.begin(), payload.end(), nullptr, false);
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
    return decodeValueOfKind(kind.get_ref<const std::string &>(), v, out, error);
}

bool decodeValueOfKind(const std::string &k, const json &v, Value *out, std::string *error)
{
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

namespace {

// SAX handler for {"t": "objects", "re": N, "objects": [object, ...]} in any
// member order, unknown members skipped. It stops at the first violation.
class ObjectsSax
{
public:
    using number_integer_t = json::number_integer_t;
    using number_unsigned_t = json::number_unsigned_t;
    using number_float_t = json::number_float_t;
    using string_t = json::string_t;
    using binary_t = json::binary_t;

    std::string type;
    bool haveRequestId = false;
    long long requestId = 0;
    bool haveObjects = false;
    std::vector<Object> *objects = nullptr;
    std::string error;

    bool null() { return scalar(json()); }
    bool boolean(bool v) { return scalar(json(v)); }
    bool number_integer(number_integer_t v) { return scalar(json(v)); }
    bool number_unsigned(number_unsigned_t v) { return scalar(json(v)); }
    bool number_float(number_float_t v, const string_t &) { return scalar(json(v)); }
    bool binary(binary_t &) { return fail("binary value"); }

    bool string(string_t &v)
    {
        if (m_skip > 0)
            return true;
        switch (m_state) {
        case State::Top:
            if (m_key == "t") {
                type = v;
                if (type != "objects")
                    return false; // another message: not ours to decode
            }
            return true;
        case State::Object:
            if (m_key == "name")
                return setText(&m_name, &m_haveName, v);
            if (m_key == "class")
                return setText(&m_className, &m_haveClass, v);
            if (m_key == "serial")
                return setText(&m_serial, nullptr, v);
            if (m_key == "id" || m_key == "parent" || m_key == "type" || m_key == "settings")
                return fail("object member \"" + m_key + "\" has the wrong type");
            return true;
        case State::Setting:
            if (m_index == 0)
                m_settingName = std::move(v);
            else if (m_index == 1)
                m_settingKind = v;
            else if (m_index == 2)
                return scalar(json(std::move(v)));
            else
                return fail("object setting is not [name, kind, value]");
            ++m_index;
            return true;
        default:
            return fail("unexpected text");
        }
    }

    bool start_object(std::size_t)
    {
        if (m_skip > 0 || (m_state == State::Top && m_depth > 0) || (m_state == State::Object)) {
            if (m_state == State::Object && (m_key == "id" || m_key == "parent" || m_key == "type" || m_key == "name" ||
                                             m_key == "class" || m_key == "settings"))
                return fail("object member \"" + m_key + "\" has the wrong type");
            ++m_skip;
            return true;
        }
        if (m_state == State::Top) {
            m_depth = 1;
            return true;
        }
        if (m_state == State::List) {
            m_state = State::Object;
            m_id = m_parent = m_type = 0;
            m_haveId = m_haveParent = m_haveType = m_haveName = m_haveClass = false;
            m_name.clear();
            m_className.clear();
            m_serial.clear();
            m_settings = NameValueMap();
            return true;
        }
        return fail("unexpected object");
    }

    bool end_object()
    {
        if (m_skip > 0) {
            --m_skip;
            return true;
        }
        if (m_state == State::Object) {
            if (!m_haveId || !m_haveParent || !m_haveType || !m_haveName || !m_haveClass)
                return fail("object lacks id, parent, type, name or class");
            objects->emplace_back(m_id, m_parent, int(m_type), std::move(m_name), std::move(m_className),
                                  std::move(m_serial), std::move(m_settings));
            m_state = State::List;
            return true;
        }
        if (m_state == State::Top) {
            m_depth = 0;
            return true;
        }
        return fail("unexpected end of object");
    }

    bool start_array(std::size_t)
    {
        if (m_skip > 0) {
            ++m_skip;
            return true;
        }
        switch (m_state) {
        case State::Top:
            if (m_depth == 0)
                return fail("not an object");
            if (m_key == "objects") {
                if (haveObjects)
                    return fail("two object lists");
                haveObjects = true;
                m_state = State::List;
                return true;
            }
            if (m_key == "t" || m_key == "re")
                return fail("member \"" + m_key + "\" has the wrong type");
            ++m_skip;
            return true;
        case State::Object:
            if (m_key == "settings") {
                m_state = State::Settings;
                return true;
            }
            if (m_key == "id" || m_key == "parent" || m_key == "type" || m_key == "name" || m_key == "class")
                return fail("object member \"" + m_key + "\" has the wrong type");
            ++m_skip;
            return true;
        case State::Settings:
            m_state = State::Setting;
            m_index = 0;
            m_settingName.clear();
            m_settingKind.clear();
            return true;
        default:
            return fail("unexpected list");
        }
    }

    bool end_array()
    {
        if (m_skip > 0) {
            --m_skip;
            return true;
        }
        switch (m_state) {
        case State::List:
            m_state = State::Top;
            return true;
        case State::Settings:
            m_state = State::Object;
            return true;
        case State::Setting:
            if (m_index != 3)
                return fail("object setting is not [name, kind, value]");
            m_settings.set(m_settingName, std::move(m_settingValue));
            m_state = State::Settings;
            return true;
        default:
            return fail("unexpected end of list");
        }
    }

    bool key(string_t &k)
    {
        if (m_skip == 0)
            m_key = k;
        return true;
    }

    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &)
    {
        m_parseError = true;
        return false;
    }

    bool parseError() const { return m_parseError; }

private:
    enum class State { Top, List, Object, Settings, Setting };

    bool fail(const std::string &why)
    {
        error = why;
        return false;
    }

    bool setText(std::string *out, bool *have, std::string &v)
    {
        *out = std::move(v);
        if (have)
            *have = true;
        return true;
    }

    bool scalar(const json &v)
    {
        if (m_skip > 0)
            return true;
        long long n = 0;
        switch (m_state) {
        case State::Top:
            if (m_depth == 0)
                return fail("not an object");
            if (m_key == "re") {
                if (!integerOf(v, &n))
                    return fail("request id is not an integer");
                requestId = n;
                haveRequestId = true;
            } else if (m_key == "t") {
                return fail("message type is not a text");
            }
            return true;
        case State::Object:
            if (m_key == "id" || m_key == "parent" || m_key == "type") {
                if (!integerOf(v, &n))
                    return fail("object " + m_key + " is not a 64-bit integer");
                if (m_key == "id") {
                    m_id = n;
                    m_haveId = true;
                } else if (m_key == "parent") {
                    m_parent = n;
                    m_haveParent = true;
                } else {
                    if (n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
                        return fail("object type out of range");
                    m_type = n;
                    m_haveType = true;
                }
                return true;
            }
            if (m_key == "name" || m_key == "class" || m_key == "serial" || m_key == "settings")
                return fail("object member \"" + m_key + "\" has the wrong type");
            return true;
        case State::Setting:
            if (m_index != 2)
                return fail("object setting is not [name, kind, value]");
            if (!decodeValueOfKind(m_settingKind, v, &m_settingValue, &error))
                return false;
            ++m_index;
            return true;
        default:
            return fail("unexpected value");
        }
    }

    State m_state = State::Top;
    int m_depth = 0;
    int m_skip = 0; // nesting inside a member that is skipped
    std::string m_key;
    bool m_parseError = false;

    long long m_id = 0, m_parent = 0, m_type = 0;
    bool m_haveId = false, m_haveParent = false, m_haveType = false, m_haveName = false, m_haveClass = false;
    std::string m_name, m_className, m_serial;
    NameValueMap m_settings;

    int m_index = 0;
    std::string m_settingName, m_settingKind;
    Value m_settingValue;
};

} // namespace

ObjectsFrame decodeObjectsFrame(std::string_view payload, long long *requestId, std::vector<Object> *objects,
                                std::string *error)
{
    std::vector<Object> decoded;
    ObjectsSax sax;
    sax.objects = &decoded;
    const bool complete = json::sax_parse(payload.begin(), payload.end(), &sax, json::input_format_t::json, true);
    if (sax.type != "objects" || sax.parseError())
        return ObjectsFrame::NotObjects; // parseMessage() says what is wrong with it
    if (!complete || !sax.haveRequestId || !sax.haveObjects) {
        *error = !sax.error.empty()   ? sax.error
                 : !sax.haveRequestId ? "answer without request id"
                                      : "objects message without an object list";
        return ObjectsFrame::Malformed;
    }
    *requestId = sax.requestId;
    *objects = std::move(decoded);
    return ObjectsFrame::Ok;
}

} // namespace korvu::es::wire
