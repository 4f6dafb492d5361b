#include "repo/sourceaddress.h"

#include <algorithm>
#include <cctype>

namespace {

bool startsWith(const std::string &text, const char *prefix)
{
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Older addresses were cut with "remove every occurrence of the prefix"; stored addresses and
// objects written that way keep meaning what they meant.
std::string withoutEvery(std::string text, const std::string &prefix)
{
    for (std::string::size_type at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at))
        text.erase(at, prefix.size());
    return text;
}

// The scheme of an RFC 3986 URI, lower-cased; empty when the text has none. A single letter is
// taken for a drive letter, not a scheme.
std::string schemeOf(const std::string &uri)
{
    const auto colon = uri.find(':');
    if (colon == std::string::npos || colon < 2 || !std::isalpha(static_cast<unsigned char>(uri[0])))
        return std::string();
    std::string scheme = uri.substr(0, colon);
    for (char &c : scheme) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '+' && c != '-' && c != '.')
            return std::string();
        c = static_cast<char>(std::tolower(u));
    }
    return scheme;
}

bool isRealTimeScheme(const std::string &scheme)
{
    static const char *const kSchemes[] = {"rtsp", "rtsps", "rtspt", "rtspu", "rtp", "udp", "srt"};
    return std::any_of(std::begin(kSchemes), std::end(kSchemes), [&](const char *s) { return scheme == s; });
}

std::string quotedForMessage(const std::string &text)
{
    return "\"" + text + "\"";
}

} // namespace

SourceAddress SourceAddress::parse(const std::string &text)
{
    SourceAddress address;
    auto fail = [&](const std::string &why) {
        address = SourceAddress();
        address.m_error = quotedForMessage(text) + " " + why;
        return address;
    };
    // A property value ends at the first NUL: what follows would be dropped without a word.
    if (text.find('\0') != std::string::npos)
        return fail("holds a NUL character");

    if (startsWith(text, "testvideo")) {
        address.m_element = "videotestsrc";
        address.m_live = true;
    } else if (startsWith(text, "file:")) {
        const std::string path = withoutEvery(text, "file:");
        if (path.empty())
            return fail("names no file");
        address.m_element = "filesrc";
        address.m_properties.emplace_back("location", path);
    } else if (startsWith(text, "zmq:")) {
        const std::string endpoint = withoutEvery(text, "zmq:");
        if (endpoint.empty())
            return fail("names no ZeroMQ endpoint");
        address.m_element = "zmqsrc";
        address.m_live = true;
        address.m_properties.emplace_back("endpoint", endpoint);
    } else if (startsWith(text, "rtsp:")) {
        const std::string location = text.substr(5);
        if (!startsWith(location, "rtsp://") && !startsWith(location, "rtsps://"))
            return fail("holds no rtsp:// address");
        address.m_element = "rtspsrc";
        address.m_live = true;
        address.m_properties.emplace_back("location", location);
    } else if (startsWith(text, "uri:")) {
        const std::string uri = text.substr(4);
        const std::string scheme = schemeOf(uri);
        if (scheme.empty())
            return fail("holds no usable URI (it needs a scheme such as http:)");
        address.m_element = "urisourcebin";
        address.m_live = isRealTimeScheme(scheme);
        address.m_properties.emplace_back("uri", uri);
    } else {
        return fail("is not a video source address (testvideo, file:, zmq:, rtsp: or uri:)");
    }
    return address;
}

bool SourceAddress::isFilePath(const std::string &url)
{
    return startsWith(url, "/") || (url.size() >= 2 && url[1] == ':');
}

bool SourceAddress::isGatewayReference(const std::string &url)
{
    return startsWith(url, "ref://");
}

bool SourceAddress::isRtspUrl(const std::string &url)
{
    return startsWith(url, "rtsp://");
}

std::string SourceAddress::forStream(const std::string &url, const std::string &host, int zmqPort)
{
    if (isGatewayReference(url))
        return zmqPort > 0 ? forZmq(host, zmqPort) : std::string();
    if (isRtspUrl(url))
        return "rtsp:" + url;
    if (isFilePath(url))
        return "file:" + url;
    return "uri:" + url;
}

std::string SourceAddress::forZmq(const std::string &host, int port)
{
    return "zmq:tcp://" + host + ":" + std::to_string(port);
}
