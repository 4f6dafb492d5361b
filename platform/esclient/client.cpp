#include "platform/esclient/connectionimpl.h"

namespace korvu::es {

namespace detail {

using nlohmann::json;

ClientCore::ClientCore(std::shared_ptr<ConnectionCore> connection_, const ClientCallbacks &callbacks_)
    : connection(std::move(connection_)), callbacks(callbacks_)
{
}

void ClientCore::log(LogLevel level, const std::string &message)
{
    const auto &logger = connection->logger;
    if (!logger || !logger->callback || int(level) < int(logger->level))
        return;
    gate->run([&] { logger->callback(message, level); });
}

void ClientCore::startSignIn(std::shared_ptr<RequestState> request, const std::string &user,
                             const std::string &password, Client::SignInSuccess onSuccess, Client::RequestError onError)
{
    if (request->cancelled.load())
        return;
    const long long id = connection->nextRequestId++;
    Pending pending;
    pending.request = std::move(request);
    pending.onSignIn = std::move(onSuccess);
    pending.onError = std::move(onError);
    // The password goes into the frame and nowhere else: never into a log line.
    log(LogLevel::Debug, "Signing in as \"" + user + "\" (request " + std::to_string(id) + ")");
    if (!connection->sendRequest(id, json{{"t", "signIn"}, {"id", id}, {"user", user}, {"password", password}},
                                 weak_from_this())) {
        fail(pending, ErrorCode::NotConnected, "Not connected to the event server");
        return;
    }
    track(id, std::move(pending));
}

void ClientCore::startGetObjects(std::shared_ptr<RequestState> request, Client::ObjectsSuccess onSuccess,
                                 Client::RequestError onError)
{
    if (request->cancelled.load())
        return;
    const long long id = connection->nextRequestId++;
    Pending pending;
    pending.request = std::move(request);
    pending.fetch = true;
    pending.onObjects = std::move(onSuccess);
    pending.onError = std::move(onError);
    log(LogLevel::Debug, "Fetching the objects (request " + std::to_string(id) + ")");
    if (!connection->sendRequest(id, json{{"t", "getObjects"}, {"id", id}}, weak_from_this())) {
        fail(pending, ErrorCode::NotConnected, "Not connected to the event server");
        return;
    }
    track(id, std::move(pending));
}

// A server that keeps the connection alive (heartbeats) but never answers would
// otherwise leave the request, and whoever waits on it, pending for ever.
void ClientCore::track(long long id, Pending pending)
{
    const int timeoutMs = connection->options.requestTimeoutMs;
    pending.deadline = std::make_shared<asio::steady_timer>(connection->io, std::chrono::milliseconds(timeoutMs));
    pending.deadline->async_wait([weak = weak_from_this(), id](const std::error_code &ec) {
        auto self = weak.lock();
        if (!ec && self)
            self->expire(id);
    });
    m_pending.emplace(id, std::move(pending));
}

void ClientCore::expire(long long id)
{
    auto it = m_pending.find(id);
    if (it == m_pending.end())
        return;
    Pending done = std::move(it->second);
    m_pending.erase(it);
    connection->finishRequest(id);
    const std::string message =
        "No answer from the event server within " + std::to_string(connection->options.requestTimeoutMs) + " ms";
    log(LogLevel::Warning, "Request " + std::to_string(id) + " failed: " + message);
    fail(done, ErrorCode::RequestTimeout, message);
}

void ClientCore::fail(Pending &pending, int code, const std::string &message)
{
    if (pending.request->claim() && pending.onError)
        gate->run([&] { pending.onError(HandlerError(message, code)); });
}

bool ClientCore::addObjects(long long id, std::vector<Object> objects, std::string *error)
{
    auto it = m_pending.find(id);
    if (it == m_pending.end())
        return true;
    Pending &pending = it->second;
    if (!pending.fetch) {
        *error = "objects sent in answer to a sign-in";
        return false;
    }
    if (pending.objects.empty())
        pending.objects = std::move(objects);
    else
        pending.objects.insert(pending.objects.end(), std::make_move_iterator(objects.begin()),
                               std::make_move_iterator(objects.end()));
    ++pending.frames;
    return true;
}

bool ClientCore::handleAnswer(long long id, const json &message, std::string *error)
{
    auto it = m_pending.find(id);
    if (it == m_pending.end())
        return true;
    Pending &pending = it->second;

    // A reply ends the request, successful or not.
    Pending done = std::move(pending);
    m_pending.erase(it);
    connection->finishRequest(id);
    done.deadline->cancel();
    auto okIt = message.find("ok");
    if (okIt == message.end() || !okIt->is_boolean()) {
        *error = "reply without an outcome";
        fail(done, ErrorCode::ProtocolError, "Malformed reply from the server");
        return false;
    }
    if (!okIt->get<bool>()) {
        long long code = 0;
        std::string text;
        if (!wire::getInt(message, "code", &code) || code < -2147483647LL - 1 || code > 2147483647LL ||
            !wire::getString(message, "message", &text)) {
            *error = "failure reply without code and message";
            fail(done, ErrorCode::ProtocolError, "Malformed reply from the server");
            return false;
        }
        log(LogLevel::Debug, "Request " + std::to_string(id) + " failed with code " + std::to_string(code));
        fail(done, int(code), text);
        return true;
    }
    if (!done.fetch) {
        long long user = 0;
        if (!wire::getInt(message, "userId", &user)) {
            *error = "sign-in reply without a user id";
            fail(done, ErrorCode::ProtocolError, "Malformed reply from the server");
            return false;
        }
        userId.store(user);
        log(LogLevel::Debug, "Signed in as user " + std::to_string(user));
        if (done.request->claim() && done.onSignIn)
            gate->run([&] { done.onSignIn(user); });
        return true;
    }
    long long rootId = 0, count = 0;
    if (!wire::getInt(message, "rootId", &rootId) || !wire::getInt(message, "count", &count) ||
        count != (long long)done.objects.size()) {
        *error = "object set reply without root id, or with a count that does not match";
        fail(done, ErrorCode::ProtocolError, "Incomplete object set from the server");
        return false;
    }
    log(LogLevel::Debug, "Fetched " + std::to_string(count) + " objects in " + std::to_string(done.frames) + " frames");
    if (done.request->claim() && done.onObjects)
        gate->run([&] { done.onObjects(done.objects, rootId); });
    return true;
}

void ClientCore::handleNotification(const std::string &type, const json &message)
{
    std::string error;
    if (type == "objectsChanged") {
        gate->run([&] {
            if (callbacks.onObjectsChanged)
                callbacks.onObjectsChanged();
        });
    } else if (type == "event" || type == "eventUpdated") {
        Event event;
        auto e = message.find("event");
        if (e == message.end() || !wire::decodeEvent(*e, &event, &error)) {
            log(LogLevel::Warning, "Ignoring a malformed " + type + " notification");
            return;
        }
        const auto &callback = type == "event" ? callbacks.onEvent : callbacks.onEventUpdated;
        gate->run([&] {
            if (callback)
                callback(event);
        });
    } else if (type == "objectState" || type == "objectValue") {
        long long objectId = 0;
        auto v = message.find("value");
        auto k = message.find("kind");
        Value value;
        if (!wire::getInt(message, "object", &objectId) || v == message.end() || k == message.end() ||
            !wire::decodeValue(*k, *v, &value, &error)) {
            log(LogLevel::Warning, "Ignoring a malformed " + type + " notification");
            return;
        }
        auto shared = std::make_shared<const Value>(std::move(value));
        const auto &callback = type == "objectState" ? callbacks.onObjectStateChanged : callbacks.onObjectValueChanged;
        gate->run([&] {
            if (callback)
                callback(objectId, shared);
        });
    } else {
        log(LogLevel::Debug, "Ignoring an unknown " + type + " message");
    }
}

void ClientCore::failAll(int code, const std::string &message)
{
    userId.store(0);
    auto pending = std::move(m_pending);
    m_pending.clear();
    for (auto &entry : pending) {
        entry.second.deadline->cancel();
        fail(entry.second, code, message);
    }
}

ClientImpl::~ClientImpl()
{
    core->gate->close();
    asio::post(core->connection->io, [core = core] {
        core->connection->removeClient(core.get());
        core->failAll(ErrorCode::Closed, "The client was released");
    });
}

} // namespace detail

// ---------------------------------------------------------------------------

Client::Client() = default;

Client::Client(const ClientCallbacks &callbacks, const Connection &connection)
{
    if (!connection.m_d)
        return;
    auto impl = std::make_shared<detail::ClientImpl>();
    impl->connection = connection.m_d;
    impl->core = std::make_shared<detail::ClientCore>(connection.m_d->core, callbacks);
    asio::post(impl->core->connection->io, [core = impl->core] { core->connection->addClient(core); });
    m_d = std::move(impl);
}

bool Client::isNull() const
{
    return !m_d;
}

Request Client::signIn(const std::string &user, const std::string &password, SignInSuccess onSuccess,
                       RequestError onError)
{
    auto request = std::make_shared<detail::RequestState>();
    if (!m_d) {
        request->done.store(true);
        return Request(request);
    }
    asio::post(m_d->core->connection->io, [core = m_d->core, request, user, password, onSuccess = std::move(onSuccess),
                                           onError = std::move(onError)]() mutable {
        core->startSignIn(request, user, password, std::move(onSuccess), std::move(onError));
    });
    return Request(request);
}

Request Client::getObjects(ObjectsSuccess onSuccess, RequestError onError)
{
    auto request = std::make_shared<detail::RequestState>();
    if (!m_d) {
        request->done.store(true);
        return Request(request);
    }
    asio::post(m_d->core->connection->io,
               [core = m_d->core, request, onSuccess = std::move(onSuccess), onError = std::move(onError)]() mutable {
                   core->startGetObjects(request, std::move(onSuccess), std::move(onError));
               });
    return Request(request);
}

long long Client::userId() const
{
    return m_d ? m_d->core->userId.load() : 0;
}

} // namespace korvu::es
