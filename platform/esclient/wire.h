#pragma once

// Wire protocol between the client library and an event server.
//
// A connection carries frames in both directions. A frame is a 4-byte unsigned
// big-endian payload length followed by that many bytes of UTF-8 JSON holding
// one object; its member "t" names the message. Frames of 0 bytes or above the
// receiver's size limit end the connection. The messages are listed in
// platform/esclient/README.md.

#include "es/korvues.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvu::es::wire {

constexpr int kProtocolVersion = 1;
constexpr std::size_t kHeaderSize = 4;

std::string encodeFrame(const std::string &payload);
std::string encodeFrame(const nlohmann::json &message);

// Splits a byte stream into frame payloads. Bytes may arrive in any pieces.
class FrameDecoder
{
public:
    enum class Status { NeedMore, Frame, Error };

    explicit FrameDecoder(std::size_t maxFrameSize);

    void feed(const char *data, std::size_t size);
    // Room for `size` more bytes, to be filled by the caller and then committed:
    // lets a socket read straight into the decoder.
    char *prepare(std::size_t size);
    void commit(std::size_t size);
    // Frame: *payload holds the next frame. Error: the stream is unusable from
    // here on (see error()). NeedMore: wait for more bytes.
    Status next(std::string *payload);
    // The same without a copy: the view stays valid until the next feed or prepare.
    Status next(std::string_view *payload);

    const std::string &error() const { return m_error; }
    int errorCode() const { return m_errorCode; }
    // Bytes received but not yet returned as a frame.
    std::size_t buffered() const { return m_size - m_offset; }

private:
    std::size_t m_maxFrameSize;
    std::string m_buffer;
    std::size_t m_size = 0;   // bytes of m_buffer in use
    std::size_t m_offset = 0; // start of the first unreturned byte
    std::string m_error;
    int m_errorCode = 0;
};

// Parses one payload as a JSON object with a string member "t". False (and
// *error set) on anything else.
bool parseMessage(std::string_view payload, nlohmann::json *message, std::string *error);

// Settings values travel as [name, kind, value]; objects as
// {"id","parent","type","name","class","serial","settings"}.
nlohmann::json encodeValue(const Value &value);
bool decodeValue(const nlohmann::json &kind, const nlohmann::json &value, Value *out, std::string *error);
bool decodeValueOfKind(const std::string &kind, const nlohmann::json &value, Value *out, std::string *error);
nlohmann::json encodeObject(const Object &object);
bool decodeObject(const nlohmann::json &json, Object *out, std::string *error);
nlohmann::json encodeEvent(const Event &event);
bool decodeEvent(const nlohmann::json &json, Event *out, std::string *error);

// An "objects" frame decoded in one pass, straight into Objects (no JSON tree):
// the bulk of a large fetch. NotObjects: the frame is some other message (or
// not JSON at all) and goes through parseMessage(). Malformed: it is an
// "objects" message that breaks the protocol (*error says how).
enum class ObjectsFrame { NotObjects, Ok, Malformed };
ObjectsFrame decodeObjectsFrame(std::string_view payload, long long *requestId, std::vector<Object> *objects,
                                std::string *error);

// Typed member access that never throws.
bool getInt(const nlohmann::json &object, const char *name, long long *out);
bool getString(const nlohmann::json &object, const char *name, std::string *out);

} // namespace korvu::es::wire
