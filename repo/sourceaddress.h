#pragma once

#include <string>
#include <utility>
#include <vector>

// A video source address, as the program's producer and the streaming server both read it:
//
//   testvideo...       videotestsrc (anything after the word is ignored)
//   file:PATH          filesrc location=PATH
//   zmq:ENDPOINT       zmqsrc endpoint=ENDPOINT
//   rtsp:URL           rtspsrc location=URL (rtsp:// or rtsps://)
//   uri:URI            urisourcebin uri=URI
//
// The prefixes are case-sensitive. The result names the first element of a pipeline and the
// values to set on it as properties: a value is never written into a launch line, so no
// address can add or change elements. Free of Qt and GStreamer so that the server can use it
// on its own.
class SourceAddress
{
public:
    using Property = std::pair<std::string, std::string>;

    static SourceAddress parse(const std::string &text);

    // The address for a stream's url: "rtsp://..." as rtsp:, an absolute path ("/..." or a
    // drive letter) as file:, a gateway reference ("ref://...") as zmq: to the host's ZeroMQ
    // port (empty while that port is unknown), anything else as uri:.
    static std::string forStream(const std::string &url, const std::string &host, int zmqPort);

    // The address of a gateway's ZeroMQ publisher.
    static std::string forZmq(const std::string &host, int port);

    // The url forms forStream() tells apart.
    static bool isFilePath(const std::string &url);
    static bool isGatewayReference(const std::string &url);
    static bool isRtspUrl(const std::string &url);

    bool isValid() const { return m_error.empty(); }
    // Why the text is no usable address; empty for a valid one.
    const std::string &error() const { return m_error; }
    // The GStreamer element factory to create.
    const std::string &element() const { return m_element; }
    // Its string properties, in the order to set them.
    const std::vector<Property> &properties() const { return m_properties; }
    // The source delivers in real time (a camera, a network stream, the test pattern): frames
    // are handed on as soon as decoded, and its end means a lost source, not a file to replay.
    bool isLive() const { return m_live; }

private:
    std::string m_error;
    std::string m_element;
    std::vector<Property> m_properties;
    bool m_live = false;
};
