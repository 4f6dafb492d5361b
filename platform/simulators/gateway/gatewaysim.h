#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// Simulated gateways: each one answers GET /streams on its own HTTP port with the
// list of its streams and the ZeroMQ port each is published on.
namespace gatewaysim {

struct StreamEntry
{
    std::string serial;
    int zmqPort = 0;
};

struct GatewayConfig
{
    std::string serial;
    std::string name; // defaults to the serial
    std::string host = "127.0.0.1";
    int port = 0; // 0: any free port
    std::vector<StreamEntry> streams;
};

// How a gateway misbehaves, for exercising the program's discovery.
enum class Fault {
    None,
    HttpError,      // answers with an HTTP error status
    Malformed,      // a body that is not JSON
    NotArray,       // a JSON object where an array belongs
    WrongPortTypes, // zmq_port as text, fraction, null and boolean
    UnknownSerials, // serials no event server knows
    Oversize,       // a valid but very large body
};

// Reads the "gateways" section of a site file. Returns false with a message in
// error when the file cannot be read or the section is malformed.
bool loadSite(const std::string &path, std::vector<GatewayConfig> &gateways, std::string &error);
bool parseSite(const std::string &json, std::vector<GatewayConfig> &gateways, std::string &error);

// The JSON a well-behaved gateway answers with.
std::string streamsBody(const GatewayConfig &gateway);

// Parses a fault name as used on the command line ("http-error", "malformed", ...).
bool faultFromName(const std::string &name, Fault &fault);

class GatewaySim
{
public:
    explicit GatewaySim(GatewayConfig config);
    ~GatewaySim();

    GatewaySim(const GatewaySim &) = delete;
    GatewaySim &operator=(const GatewaySim &) = delete;

    // Binds the configured host and port (an ephemeral one when the port is 0)
    // and serves on a thread of its own. False with error() set when binding fails.
    bool start();
    // Stops serving; an answer held back by a delay is cut short.
    void stop();

    int port() const;
    const GatewayConfig &config() const;
    std::string error() const;
    int requestCount() const;

    void setFault(Fault fault, int httpStatus = 500);
    void setDelay(std::chrono::milliseconds delay);
    void setOversizeBytes(std::size_t bytes);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace gatewaysim
