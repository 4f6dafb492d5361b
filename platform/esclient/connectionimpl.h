#pragma once

#include "platform/esclient/contextimpl.h"
#include "platform/esclient/wire.h"

#include <array>
#include <chrono>
#include <deque>
#include <map>

namespace korvu::es::detail {

struct ClientCore;

// The network side of a connection. It lives on the I/O thread: every member
// below is touched there only, except `state`, `gate` and `nextRequestId`.
// Asynchronous operations hold it through shared_from_this(); each carries the
// generation it was started in and is ignored once the generation moved on.
// It holds no reference to the context, so the io_context, when destroyed,
// releases it together with its pending handlers.
struct ConnectionCore : std::enable_shared_from_this<ConnectionCore>
{
    enum class Phase { Idle, Resolving, Connecting, Handshaking, Open };
    using Clock = std::chrono::steady_clock;

    ConnectionCore(asio::io_context &io, std::shared_ptr<LoggerImpl> logger, const ContextOptions &options,
                   const ConnectionCallbacks &callbacks);

    void startOpen(const std::string &host, int port, std::shared_ptr<RequestState> request,
                   Connection::OpenSuccess onSuccess, Connection::OpenError onError);
    void close();
    void shutdown();

    void addClient(const std::weak_ptr<ClientCore> &client);
    void removeClient(const ClientCore *client);
    // Sends a request whose answer goes to `client`; false when not open.
    bool sendRequest(long long id, nlohmann::json message, const std::weak_ptr<ClientCore> &client);
    void finishRequest(long long id);
    bool isOpen() const { return m_phase == Phase::Open; }
    std::string peer() const;

    void log(LogLevel level, const std::string &message);

    asio::io_context &io;
    std::shared_ptr<LoggerImpl> logger;
    ContextOptions options;
    ConnectionCallbacks callbacks;
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    std::atomic<int> state{Connection::Disconnected};
    std::atomic<long long> nextRequestId{1};

private:
    void failOpen(int code, const std::string &message);
    void lose(int code, const std::string &message);
    void teardown();
    void startRead();
    void handleFrame(std::string_view payload);
    void handleHandshake(const nlohmann::json &message);
    void send(const nlohmann::json &message);
    void writeNext();
    void scheduleHeartbeat();
    void setState(Connection::State newState);

    asio::ip::tcp::resolver m_resolver;
    asio::ip::tcp::socket m_socket;
    asio::steady_timer m_deadline;
    asio::steady_timer m_heartbeat;
    Phase m_phase = Phase::Idle;
    unsigned long m_generation = 0;

    std::string m_host;
    int m_port = 0;
    std::shared_ptr<RequestState> m_openRequest;
    Connection::OpenSuccess m_onOpenSuccess;
    Connection::OpenError m_onOpenError;

    wire::FrameDecoder m_decoder;
    std::deque<std::string> m_writeQueue;
    bool m_writing = false;
    Clock::time_point m_lastReceived;
    Clock::time_point m_lastSent;

    std::vector<std::weak_ptr<ClientCore>> m_clients;
    std::map<long long, std::weak_ptr<ClientCore>> m_routes;
};

struct ConnectionImpl
{
    ~ConnectionImpl();

    std::shared_ptr<ContextImpl> context;
    std::shared_ptr<ConnectionCore> core;
};

// The request side of a client; lives on the I/O thread like ConnectionCore.
struct ClientCore : std::enable_shared_from_this<ClientCore>
{
    ClientCore(std::shared_ptr<ConnectionCore> connection, const ClientCallbacks &callbacks);

    void startSignIn(std::shared_ptr<RequestState> request, const std::string &user, const std::string &password,
                     Client::SignInSuccess onSuccess, Client::RequestError onError);
    void startGetObjects(std::shared_ptr<RequestState> request, Client::ObjectsSuccess onSuccess,
                         Client::RequestError onError);

    // Answers routed here by the connection. False: the message breaks the protocol.
    bool addObjects(long long id, std::vector<Object> objects, std::string *error);
    bool handleAnswer(long long id, const nlohmann::json &message, std::string *error);
    void handleNotification(const std::string &type, const nlohmann::json &message);
    void failAll(int code, const std::string &message);

    std::shared_ptr<ConnectionCore> connection;
    ClientCallbacks callbacks;
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    std::atomic<long long> userId{0};

private:
    struct Pending
    {
        std::shared_ptr<RequestState> request;
        Client::SignInSuccess onSignIn;
        Client::ObjectsSuccess onObjects;
        Client::RequestError onError;
        bool fetch = false;
        std::vector<Object> objects;
        std::size_t frames = 0;
        // Bounds the whole request, however busy the connection is meanwhile.
        std::shared_ptr<asio::steady_timer> deadline;
    };

    void track(long long id, Pending pending);
    void expire(long long id);
    void fail(Pending &pending, int code, const std::string &message);
    void log(LogLevel level, const std::string &message);

    std::map<long long, Pending> m_pending;
};

struct ClientImpl
{
    ~ClientImpl();

    std::shared_ptr<ConnectionImpl> connection;
    std::shared_ptr<ClientCore> core;
};

} // namespace korvu::es::detail
