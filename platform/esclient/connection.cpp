#include "platform/esclient/connectionimpl.h"

#include <algorithm>

namespace korvu::es {

namespace detail {

using nlohmann::json;

namespace {

int errorCodeOf(const std::error_code &ec)
{
    if (ec == asio::error::connection_refused)
        return ErrorCode::ConnectionRefused;
    if (ec == asio::error::host_not_found || ec == asio::error::host_not_found_try_again ||
        ec == asio::error::no_data || ec == asio::error::service_not_found)
        return ErrorCode::HostNotFound;
    if (ec == asio::error::eof || ec == asio::error::connection_reset || ec == asio::error::broken_pipe ||
        ec == asio::error::connection_aborted)
        return ErrorCode::ConnectionLost;
    return ErrorCode::NetworkError;
}

} // namespace

ConnectionCore::ConnectionCore(asio::io_context &io_, std::shared_ptr<LoggerImpl> logger_,
                               const ContextOptions &options_, const ConnectionCallbacks &callbacks_)
    : io(io_), logger(std::move(logger_)), options(options_), callbacks(callbacks_), m_resolver(io_), m_socket(io_),
      m_deadline(io_), m_heartbeat(io_), m_decoder(options_.maxFrameSize)
{
}

std::string ConnectionCore::peer() const
{
    return m_host + ':' + std::to_string(m_port);
}

void ConnectionCore::log(LogLevel level, const std::string &message)
{
    if (!logger || !logger->callback || int(level) < int(logger->level))
        return;
    gate->run([&] { logger->callback(message, level); });
}

void ConnectionCore::startOpen(const std::string &host, int port, std::shared_ptr<RequestState> request,
                               Connection::OpenSuccess onSuccess, Connection::OpenError onError)
{
    auto reject = [&](int code, const std::string &message) {
        log(LogLevel::Warning, "Cannot open a connection to " + host + ':' + std::to_string(port) + ": " + message);
        if (request->claim() && onError)
            gate->run([&] { onError(ConnectionError(message, code)); });
    };
    if (m_phase != Phase::Idle) {
        reject(ErrorCode::AlreadyOpen,
               m_phase == Phase::Open ? "The connection is already open" : "The connection is already being opened");
        return;
    }
    if (host.empty() || port < 1 || port > 65535) {
        reject(ErrorCode::InvalidArgument, host.empty() ? "No host given" : "Port out of range");
        return;
    }
    if (request->cancelled.load())
        return;

    const unsigned long generation = ++m_generation;
    m_host = host;
    m_port = port;
    m_openRequest = std::move(request);
    m_onOpenSuccess = std::move(onSuccess);
    m_onOpenError = std::move(onError);
    m_phase = Phase::Resolving;
    log(LogLevel::Debug, "Connecting to " + peer());

    auto self = shared_from_this();
    m_deadline.expires_after(std::chrono::milliseconds(options.connectTimeoutMs));
    m_deadline.async_wait([self, generation](const std::error_code &ec) {
        if (ec || generation != self->m_generation || self->m_phase == Phase::Open || self->m_phase == Phase::Idle)
            return;
        self->failOpen(ErrorCode::ConnectTimeout, "No answer from " + self->peer() + " within " +
                                                      std::to_string(self->options.connectTimeoutMs) + " ms");
    });

    m_resolver.async_resolve(
        host, std::to_string(port),
        [self, generation](const std::error_code &ec, const asio::ip::tcp::resolver::results_type &results) {
            if (generation != self->m_generation)
                return;
            if (self->m_openRequest->cancelled.load()) {
                self->failOpen(ErrorCode::Closed, "Opening was cancelled");
                return;
            }
            if (ec) {
                self->failOpen(errorCodeOf(ec) == ErrorCode::NetworkError ? ErrorCode::HostNotFound : errorCodeOf(ec),
                               "Cannot resolve " + self->m_host + ": " + ec.message());
                return;
            }
            self->m_phase = Phase::Connecting;
            asio::async_connect(self->m_socket, results,
                                [self, generation](const std::error_code &ec, const asio::ip::tcp::endpoint &) {
                                    if (generation != self->m_generation)
                                        return;
                                    if (self->m_openRequest->cancelled.load()) {
                                        self->failOpen(ErrorCode::Closed, "Opening was cancelled");
                                        return;
                                    }
                                    if (ec) {
                                        self->failOpen(errorCodeOf(ec),
                                                       "Cannot connect to " + self->peer() + ": " + ec.message());
                                        return;
                                    }
                                    std::error_code ignored;
                                    self->m_socket.set_option(asio::ip::tcp::no_delay(true), ignored);
                                    self->m_phase = Phase::Handshaking;
                                    self->m_decoder = wire::FrameDecoder(self->options.maxFrameSize);
                                    self->m_lastReceived = self->m_lastSent = Clock::now();
                                    self->startRead();
                                    self->send(json{{"t", "hello"},
                                                    {"protocol", wire::kProtocolVersion},
                                                    {"client", "korvu-es"},
                                                    {"heartbeatMs", self->options.heartbeatIntervalMs}});
                                });
        });
}

void ConnectionCore::teardown()
{
    ++m_generation;
    std::error_code ignored;
    m_resolver.cancel();
    m_deadline.cancel();
    m_heartbeat.cancel();
    m_socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    m_socket.close(ignored);
    m_writeQueue.clear();
    m_writing = false;
    m_phase = Phase::Idle;
}

void ConnectionCore::failOpen(int code, const std::string &message)
{
    teardown();
    log(LogLevel::Warning, "Opening the connection to " + peer() + " failed: " + message);
    auto request = std::move(m_openRequest);
    auto onError = std::move(m_onOpenError);
    m_onOpenSuccess = nullptr;
    if (request && request->claim() && onError)
        gate->run([&] { onError(ConnectionError(message, code)); });
}

void ConnectionCore::setState(Connection::State newState)
{
    const auto oldState = Connection::State(state.exchange(newState));
    if (oldState == newState)
        return;
    gate->run([&] {
        if (callbacks.onStateChanged)
            callbacks.onStateChanged(newState, oldState);
    });
}

// An open connection ends: the state callback, the error callback, then every
// request still waiting fails with the same reason.
void ConnectionCore::lose(int code, const std::string &message)
{
    if (m_phase != Phase::Open) {
        failOpen(code, message);
        return;
    }
    teardown();
    log(code == ErrorCode::Closed ? LogLevel::Debug : LogLevel::Warning,
        "Connection to " + peer() + " ended: " + message);
    setState(Connection::Disconnected);
    gate->run([&] {
        if (callbacks.onError)
            callbacks.onError(ConnectionError(message, code));
    });
    m_routes.clear();
    auto clients = m_clients;
    for (const auto &weak : clients) {
        if (auto client = weak.lock())
            client->failAll(code, message);
    }
}

void ConnectionCore::close()
{
    if (m_phase == Phase::Idle)
        return;
    lose(ErrorCode::Closed, m_phase == Phase::Open ? "The connection was closed" : "Opening was cancelled");
}

void ConnectionCore::shutdown()
{
    if (m_phase != Phase::Idle)
        teardown();
    state.store(Connection::Disconnected);
    m_routes.clear();
    m_clients.clear();
}

void ConnectionCore::startRead()
{
    auto self = shared_from_this();
    const unsigned long generation = m_generation;
    constexpr std::size_t kReadSize = 256 * 1024;
    // The socket reads straight into the decoder's buffer.
    char *room = m_decoder.prepare(kReadSize);
    if (!room) {
        lose(m_decoder.errorCode(), m_decoder.error());
        return;
    }
    m_socket.async_read_some(
        asio::buffer(room, kReadSize), [self, generation](const std::error_code &ec, std::size_t n) {
            if (generation != self->m_generation)
                return;
            if (ec) {
                if (ec == asio::error::eof)
                    self->lose(ErrorCode::ConnectionLost, "The server closed the connection");
                else
                    self->lose(errorCodeOf(ec) == ErrorCode::NetworkError ? ErrorCode::ConnectionLost : errorCodeOf(ec),
                               "Connection error: " + ec.message());
                return;
            }
            self->m_lastReceived = Clock::now();
            self->m_decoder.commit(n);
            std::string_view payload;
            for (;;) {
                const auto status = self->m_decoder.next(&payload);
                if (status == wire::FrameDecoder::Status::NeedMore)
                    break;
                if (status == wire::FrameDecoder::Status::Error) {
                    self->lose(self->m_decoder.errorCode(), self->m_decoder.error());
                    return;
                }
                self->handleFrame(payload);
                if (generation != self->m_generation)
                    return; // the frame ended the connection
            }
            self->startRead();
        });
}

void ConnectionCore::handleFrame(std::string_view payload)
{
    json message;
    std::string error;
    if (m_phase == Phase::Open) {
        // The frames of a large fetch skip the JSON tree.
        long long id = 0;
        std::vector<Object> objects;
        switch (wire::decodeObjectsFrame(payload, &id, &objects, &error)) {
        case wire::ObjectsFrame::Ok: {
            auto route = m_routes.find(id);
            auto client = route == m_routes.end() ? nullptr : route->second.lock();
            if (!client) {
                log(LogLevel::Debug, "Ignoring objects for request " + std::to_string(id) + ", which nobody awaits");
                return;
            }
            if (!client->addObjects(id, std::move(objects), &error))
                lose(ErrorCode::ProtocolError, "Protocol error: " + error);
            return;
        }
        case wire::ObjectsFrame::Malformed:
            lose(ErrorCode::ProtocolError, "Protocol error: " + error);
            return;
        case wire::ObjectsFrame::NotObjects:
            break;
        }
    }
    if (!wire::parseMessage(payload, &message, &error)) {
        lose(ErrorCode::ProtocolError, "Protocol error: " + error);
        return;
    }
    if (m_phase == Phase::Handshaking) {
        handleHandshake(message);
        return;
    }
    const std::string &type = message["t"].get_ref<const std::string &>();
    if (type == "pong")
        return;
    if (type == "ping") {
        send(json{{"t", "pong"}});
        return;
    }
    if (type == "reply") {
        long long id = 0;
        if (!wire::getInt(message, "re", &id)) {
            lose(ErrorCode::ProtocolError, "Protocol error: answer without request id");
            return;
        }
        auto route = m_routes.find(id);
        auto client = route == m_routes.end() ? nullptr : route->second.lock();
        if (!client) {
            log(LogLevel::Debug, "Ignoring an answer to request " + std::to_string(id) + ", which nobody awaits");
            return;
        }
        if (!client->handleAnswer(id, message, &error))
            lose(ErrorCode::ProtocolError, "Protocol error: " + error);
        return;
    }
    auto clients = m_clients;
    for (const auto &weak : clients) {
        if (auto client = weak.lock())
            client->handleNotification(type, message);
    }
}

void ConnectionCore::handleHandshake(const json &message)
{
    const std::string &type = message["t"].get_ref<const std::string &>();
    if (type == "welcome") {
        long long protocol = 0;
        if (!wire::getInt(message, "protocol", &protocol) || protocol != wire::kProtocolVersion) {
            failOpen(ErrorCode::ProtocolError, "The server at " + peer() + " speaks another protocol version");
            return;
        }
        m_deadline.cancel();
        m_phase = Phase::Open;
        log(LogLevel::Info, "Connected to " + peer());
        setState(Connection::Connected);
        scheduleHeartbeat();
        auto request = std::move(m_openRequest);
        auto onSuccess = std::move(m_onOpenSuccess);
        m_onOpenError = nullptr;
        if (request && request->claim() && onSuccess)
            gate->run([&] { onSuccess(); });
        return;
    }
    if (type == "refused") {
        long long code = 0;
        std::string text;
        wire::getInt(message, "code", &code);
        wire::getString(message, "message", &text);
        failOpen(int(code), text);
        return;
    }
    failOpen(ErrorCode::ProtocolError, "Unexpected " + type + " message during the handshake");
}

void ConnectionCore::send(const json &message)
{
    m_writeQueue.push_back(wire::encodeFrame(message));
    if (!m_writing)
        writeNext();
}

void ConnectionCore::writeNext()
{
    if (m_writeQueue.empty()) {
        m_writing = false;
        return;
    }
    m_writing = true;
    m_lastSent = Clock::now();
    auto self = shared_from_this();
    const unsigned long generation = m_generation;
    asio::async_write(m_socket, asio::buffer(m_writeQueue.front()),
                      [self, generation](const std::error_code &ec, std::size_t) {
                          if (generation != self->m_generation)
                              return;
                          if (ec) {
                              self->lose(ErrorCode::ConnectionLost, "Connection error: " + ec.message());
                              return;
                          }
                          self->m_writeQueue.pop_front();
                          self->writeNext();
                      });
}

// Sends a ping whenever nothing went out for a heartbeat interval, and ends the
// connection once nothing came in for the heartbeat time-out.
void ConnectionCore::scheduleHeartbeat()
{
    auto self = shared_from_this();
    const unsigned long generation = m_generation;
    const int tick = std::max(5, std::min(options.heartbeatIntervalMs, options.heartbeatTimeoutMs) / 2);
    m_heartbeat.expires_after(std::chrono::milliseconds(tick));
    m_heartbeat.async_wait([self, generation](const std::error_code &ec) {
        if (ec || generation != self->m_generation || self->m_phase != Phase::Open)
            return;
        const auto now = Clock::now();
        if (now - self->m_lastReceived >= std::chrono::milliseconds(self->options.heartbeatTimeoutMs)) {
            self->lose(ErrorCode::ConnectionLost,
                       "No heartbeat from the server for " + std::to_string(self->options.heartbeatTimeoutMs) + " ms");
            return;
        }
        if (now - self->m_lastSent >= std::chrono::milliseconds(self->options.heartbeatIntervalMs) && !self->m_writing)
            self->send(json{{"t", "ping"}});
        self->scheduleHeartbeat();
    });
}

void ConnectionCore::addClient(const std::weak_ptr<ClientCore> &client)
{
    m_clients.push_back(client);
}

void ConnectionCore::removeClient(const ClientCore *client)
{
    m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(),
                                   [client](const std::weak_ptr<ClientCore> &weak) {
                                       auto locked = weak.lock();
                                       return !locked || locked.get() == client;
                                   }),
                    m_clients.end());
}

bool ConnectionCore::sendRequest(long long id, json message, const std::weak_ptr<ClientCore> &client)
{
    if (m_phase != Phase::Open)
        return false;
    m_routes[id] = client;
    send(message);
    return true;
}

void ConnectionCore::finishRequest(long long id)
{
    m_routes.erase(id);
}

ConnectionImpl::~ConnectionImpl()
{
    // No callback of this connection runs after this line (one running now is waited for).
    core->gate->close();
    asio::post(core->io, [core = core] { core->shutdown(); });
}

} // namespace detail

// ---------------------------------------------------------------------------

Connection::Connection() = default;

Connection::Connection(const ConnectionCallbacks &callbacks, const Context &context)
{
    if (!context.m_d)
        return;
    auto impl = std::make_shared<detail::ConnectionImpl>();
    impl->context = context.m_d;
    impl->core = std::make_shared<detail::ConnectionCore>(context.m_d->io(), context.m_d->logger, context.m_d->options,
                                                          callbacks);
    m_d = std::move(impl);
}

bool Connection::isNull() const
{
    return !m_d;
}

Request Connection::open(const std::string &host, int port, OpenSuccess onSuccess, OpenError onError)
{
    auto request = std::make_shared<detail::RequestState>();
    if (!m_d) {
        // Nothing to call back on: an empty handle has no I/O thread.
        request->done.store(true);
        return Request(request);
    }
    asio::post(m_d->core->io, [core = m_d->core, host, port, request, onSuccess = std::move(onSuccess),
                               onError = std::move(onError)]() mutable {
        core->startOpen(host, port, request, std::move(onSuccess), std::move(onError));
    });
    return Request(request);
}

void Connection::close()
{
    if (m_d)
        asio::post(m_d->core->io, [core = m_d->core] { core->close(); });
}

Connection::State Connection::state() const
{
    return m_d ? State(m_d->core->state.load()) : Disconnected;
}

} // namespace korvu::es
