#include "platform/simulators/gateway/gatewaysim.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace gatewaysim {

namespace {

using json = nlohmann::json;

bool readGateway(const json &entry, GatewayConfig &gateway, std::string &error)
{
    if (!entry.is_object()) {
        error = "a gateway entry is not an object";
        return false;
    }
    if (!entry.contains("serial") || !entry["serial"].is_string()) {
        error = "a gateway entry has no text \"serial\"";
        return false;
    }
    gateway.serial = entry["serial"].get<std::string>();
    gateway.name = entry.value("name", gateway.serial);
    gateway.host = entry.value("host", std::string("127.0.0.1"));
    if (!entry.contains("port") || !entry["port"].is_number_integer()) {
        error = "gateway " + gateway.serial + " has no integer \"port\"";
        return false;
    }
    gateway.port = entry["port"].get<int>();
    if (gateway.port < 0 || gateway.port > 65535) {
        error = "gateway " + gateway.serial + " has port " + std::to_string(gateway.port);
        return false;
    }
    if (entry.contains("streams")) {
        if (!entry["streams"].is_array()) {
            error = "gateway " + gateway.serial + ": \"streams\" is not an array";
            return false;
        }
        for (const json &s : entry["streams"]) {
            if (!s.is_object() || !s.contains("serial") || !s["serial"].is_string() || !s.contains("zmqPort") ||
                !s["zmqPort"].is_number_integer()) {
                error = "gateway " + gateway.serial + ": a stream needs a text \"serial\" and an integer \"zmqPort\"";
                return false;
            }
            gateway.streams.push_back({s["serial"].get<std::string>(), s["zmqPort"].get<int>()});
        }
    }
    return true;
}

} // namespace

bool parseSite(const std::string &text, std::vector<GatewayConfig> &gateways, std::string &error)
{
    const json site = json::parse(text, nullptr, false);
    if (site.is_discarded() || !site.is_object()) {
        error = "the site file is not a JSON object";
        return false;
    }
    gateways.clear();
    if (!site.contains("gateways"))
        return true;
    if (!site["gateways"].is_array()) {
        error = "\"gateways\" is not an array";
        return false;
    }
    for (const json &entry : site["gateways"]) {
        GatewayConfig gateway;
        if (!readGateway(entry, gateway, error))
            return false;
        gateways.push_back(std::move(gateway));
    }
    return true;
}

bool loadSite(const std::string &path, std::vector<GatewayConfig> &gateways, std::string &error)
{
    std::ifstream file(path);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    std::stringstream text;
    text << file.rdbuf();
    return parseSite(text.str(), gateways, error);
}

std::string streamsBody(const GatewayConfig &gateway)
{
    json streams = json::array();
    for (const StreamEntry &stream : gateway.streams)
        streams.push_back({{"serial", stream.serial}, {"zmq_port", stream.zmqPort}});
    json body = json::array();
    body.push_back({{"name", gateway.name}, {"serial", gateway.serial}, {"streams", streams}});
    return body.dump();
}

bool faultFromName(const std::string &name, Fault &fault)
{
    static const std::pair<const char *, Fault> names[] = {
        {"none", Fault::None},
        {"http-error", Fault::HttpError},
        {"malformed", Fault::Malformed},
        {"not-array", Fault::NotArray},
        {"wrong-port-types", Fault::WrongPortTypes},
        {"unknown-serials", Fault::UnknownSerials},
        {"oversize", Fault::Oversize},
    };
    for (const auto &entry : names) {
        if (name == entry.first) {
            fault = entry.second;
            return true;
        }
    }
    return false;
}

struct GatewaySim::Private
{
    GatewayConfig config;
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::string error;

    mutable std::mutex mutex; // guards the fields below, read by the server's threads
    std::condition_variable stopping;
    bool stopped = false;
    Fault fault = Fault::None;
    int httpStatus = 500;
    std::chrono::milliseconds delay{0};
    std::size_t oversizeBytes = 8 * 1024 * 1024;
    std::atomic<int> requests{0};

    void answer(httplib::Response &response);
    std::string body(Fault fault, std::size_t oversizeBytes) const;
};

std::string GatewaySim::Private::body(Fault mode, std::size_t oversize) const
{
    switch (mode) {
    case Fault::None:
    case Fault::HttpError:
        return streamsBody(config);
    case Fault::Malformed:
        return "[{\"name\": \"" + config.name + "\", \"streams\": [{\"serial\": ";
    case Fault::NotArray: {
        json streams = json::array();
        for (const StreamEntry &stream : config.streams)
            streams.push_back({{"serial", stream.serial}, {"zmq_port", stream.zmqPort}});
        return json({{"name", config.name}, {"serial", config.serial}, {"streams", streams}}).dump();
    }
    case Fault::WrongPortTypes: {
        // Each stream gets a port of another wrong type, in turn.
        json streams = json::array();
        int i = 0;
        for (const StreamEntry &stream : config.streams) {
            json port;
            switch (i++ % 4) {
            case 0:
                port = std::to_string(stream.zmqPort);
                break;
            case 1:
                port = stream.zmqPort + 0.5;
                break;
            case 2:
                port = nullptr;
                break;
            default:
                port = true;
                break;
            }
            streams.push_back({{"serial", stream.serial}, {"zmq_port", port}});
        }
        return json::array({{{"name", config.name}, {"serial", config.serial}, {"streams", streams}}}).dump();
    }
    case Fault::UnknownSerials: {
        json streams = json::array();
        for (const StreamEntry &stream : config.streams)
            streams.push_back({{"serial", "unknown-" + stream.serial}, {"zmq_port", stream.zmqPort}});
        return json::array({{{"name", config.name}, {"serial", config.serial}, {"streams", streams}}}).dump();
    }
    case Fault::Oversize: {
        std::string text = streamsBody(config);
        // Valid JSON all the same: the padding is whitespace before the closing bracket.
        text.insert(text.size() - 1, std::string(oversize, ' '));
        return text;
    }
    }
    return {};
}

void GatewaySim::Private::answer(httplib::Response &response)
{
    ++requests;
    Fault mode;
    int status;
    std::size_t oversize;
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (delay.count() > 0)
            stopping.wait_for(lock, delay, [this] { return stopped; });
        mode = fault;
        status = httpStatus;
        oversize = oversizeBytes;
    }
    if (mode == Fault::HttpError) {
        response.status = status;
        response.set_content("simulated gateway failure\n", "text/plain");
        return;
    }
    response.status = 200;
    response.set_content(body(mode, oversize), "application/json");
}

GatewaySim::GatewaySim(GatewayConfig config) : d(std::make_unique<Private>())
{
    d->config = std::move(config);
    if (d->config.name.empty())
        d->config.name = d->config.serial;
    // One worker is enough for a gateway; a few hundred of them run side by side.
    d->server.new_task_queue = [] { return new httplib::ThreadPool(2); };
    d->server.set_keep_alive_max_count(1);
    d->server.Get("/streams", [this](const httplib::Request &, httplib::Response &response) { d->answer(response); });
}

GatewaySim::~GatewaySim()
{
    stop();
}

bool GatewaySim::start()
{
    if (d->thread.joinable())
        return true;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopped = false;
    }
    if (d->config.port == 0) {
        d->port = d->server.bind_to_any_port(d->config.host.c_str());
        if (d->port <= 0) {
            d->error = "cannot bind " + d->config.host;
            return false;
        }
    } else {
        if (!d->server.bind_to_port(d->config.host.c_str(), d->config.port)) {
            d->error = "cannot bind " + d->config.host + ":" + std::to_string(d->config.port);
            return false;
        }
        d->port = d->config.port;
    }
    d->thread = std::thread([this] { d->server.listen_after_bind(); });
    // The server only honours stop() once its loop runs, so wait for it.
    for (int i = 0; i < 2000 && !d->server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void GatewaySim::stop()
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopped = true;
    }
    d->stopping.notify_all();
    if (d->thread.joinable()) {
        d->server.stop();
        d->thread.join();
    }
}

int GatewaySim::port() const
{
    return d->port;
}

const GatewayConfig &GatewaySim::config() const
{
    return d->config;
}

std::string GatewaySim::error() const
{
    return d->error;
}

int GatewaySim::requestCount() const
{
    return d->requests;
}

void GatewaySim::setFault(Fault fault, int httpStatus)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->fault = fault;
    d->httpStatus = httpStatus;
}

void GatewaySim::setDelay(std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->delay = delay;
}

void GatewaySim::setOversizeBytes(std::size_t bytes)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->oversizeBytes = bytes;
}

} // namespace gatewaysim
