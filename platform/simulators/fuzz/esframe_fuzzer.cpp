// libFuzzer target: arbitrary bytes from a peer through the frame decoder and the
// message, object, value and event decoders, fed in pieces of varying size.

#include "platform/esclient/wire.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace korvu::es;

namespace {

void decodePayload(std::string_view payload)
{
    nlohmann::json message;
    std::string error;
    long long requestId = 0;
    std::vector<Object> fast;
    if (wire::decodeObjectsFrame(payload, &requestId, &fast, &error) == wire::ObjectsFrame::Ok) {
        for (const Object &object : fast) {
            for (const std::string &name : object.settings().names())
                (void)object.settings().value(name).toString();
        }
    }
    if (!wire::parseMessage(payload, &message, &error))
        return;
    long long number = 0;
    std::string text;
    wire::getInt(message, "re", &number);
    wire::getString(message, "message", &text);
    auto objects = message.find("objects");
    if (objects != message.end() && objects->is_array()) {
        for (const auto &item : *objects) {
            Object object;
            if (wire::decodeObject(item, &object, &error)) {
                for (const std::string &name : object.settings().names())
                    (void)object.settings().value(name).toString();
                (void)object.toDevice().serialNumber();
                (void)object.toStream().serialNumber();
            }
        }
    }
    auto event = message.find("event");
    if (event != message.end()) {
        Event e;
        wire::decodeEvent(*event, &e, &error);
    }
    auto kind = message.find("kind");
    auto value = message.find("value");
    if (kind != message.end() && value != message.end()) {
        Value v;
        if (wire::decodeValue(*kind, *value, &v, &error))
            (void)v.toString();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses the piece size, so splits at every position get tried.
    const std::size_t piece = std::size_t(data[0] % 64) + 1;
    ++data;
    --size;
    wire::FrameDecoder decoder(64 * 1024);
    std::string_view payload;
    for (std::size_t offset = 0; offset < size; offset += piece) {
        decoder.feed(reinterpret_cast<const char *>(data) + offset, std::min(piece, size - offset));
        for (;;) {
            const auto status = decoder.next(&payload);
            if (status != wire::FrameDecoder::Status::Frame)
                break;
            decodePayload(payload);
        }
        if (decoder.errorCode() != 0)
            break;
    }
    return 0;
}
