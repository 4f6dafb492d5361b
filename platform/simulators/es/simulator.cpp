#include "platform/simulators/es/simulator.h"

#include "platform/esclient/wire.h"

#include <asio.hpp>

#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace essim {

using nlohmann::json;
namespace wire = korvu::es::wire;

namespace {

// Requests from clients are small; anything bigger is a broken or hostile peer.
constexpr std::size_t kMaxRequestFrame = 1024 * 1024;

struct Controls
{
    bool refuse = false;
    int refuseCode = 503;
    std::string refuseMessage;
    bool silent = false;
    bool rejectSignIn = false;
    int signInCode = 0;
    std::string signInMessage;
    bool failGetObjects = false;
    int getObjectsCode = 0;
    std::string getObjectsMessage;
    int replyDelayMs = 0;
    int dropAfterObjectFrames = -1;
};

// The object set pre-encoded as the JSON arrays of the reply frames, so that a
// fetch costs a copy rather than a serialisation.
struct Encoded
{
    std::vector<std::string> chunks;
    std::size_t count = 0;
    long long rootId = 0;
};

} // namespace

struct Simulator::Impl
{
    struct Session;

    asio::io_context io;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    asio::ip::tcp::acceptor acceptor{io};
    std::thread thread;
    std::atomic<int> port{0};
    std::atomic<int> connections{0};
    std::atomic<int> signIns{0};

    mutable std::mutex mutex; // guards everything below
    Site site;
    int objectsPerFrame = 1000;
    std::shared_ptr<const Encoded> encoded;
    Controls controls;
    std::function<void(const std::string &)> logger;

    std::set<std::shared_ptr<Session>> sessions; // I/O thread only

    void log(const std::string &line)
    {
        std::function<void(const std::string &)> l;
        {
            std::lock_guard<std::mutex> lock(mutex);
            l = logger;
        }
        if (l)
            l(line);
    }

    Controls currentControls() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return controls;
    }

    std::shared_ptr<const Encoded> currentObjects()
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!encoded) {
            auto e = std::make_shared<Encoded>();
            e->rootId = site.rootId;
            e->count = site.objects.size();
            const std::size_t per = std::size_t(std::max(1, objectsPerFrame));
            for (std::size_t i = 0; i < site.objects.size(); i += per) {
                json chunk = json::array();
                for (std::size_t k = i; k < std::min(site.objects.size(), i + per); ++k)
                    chunk.push_back(wire::encodeObject(site.objects[k]));
                e->chunks.push_back(chunk.dump(-1, ' ', false, json::error_handler_t::replace));
            }
            encoded = std::move(e);
        }
        return encoded;
    }

    void accept();
};

struct Simulator::Impl::Session : std::enable_shared_from_this<Session>
{
    struct Outgoing
    {
        std::string bytes;
        bool closeAfter = false;
    };

    Session(Impl *owner_, asio::ip::tcp::socket socket_)
        : owner(owner_), socket(std::move(socket_)), decoder(kMaxRequestFrame)
    {
    }

    Impl *owner;
    asio::ip::tcp::socket socket;
    wire::FrameDecoder decoder;
    std::array<char, 16 * 1024> buffer{};
    std::deque<Outgoing> queue;
    bool writing = false;
    bool closed = false;
    bool handshaken = false;
    long long userId = 0;

    void start() { read(); }

    void close()
    {
        if (closed)
            return;
        closed = true;
        std::error_code ignored;
        socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket.close(ignored);
        owner->connections--;
        owner->sessions.erase(shared_from_this());
    }

    void read()
    {
        auto self = shared_from_this();
        socket.async_read_some(asio::buffer(buffer), [self](const std::error_code &ec, std::size_t n) {
            if (self->closed)
                return;
            if (ec) {
                self->close();
                return;
            }
            self->decoder.feed(self->buffer.data(), n);
            std::string payload;
            for (;;) {
                const auto status = self->decoder.next(&payload);
                if (status == wire::FrameDecoder::Status::NeedMore)
                    break;
                if (status == wire::FrameDecoder::Status::Error) {
                    self->owner->log("Closing a connection: " + self->decoder.error());
                    self->close();
                    return;
                }
                self->handle(payload);
                if (self->closed)
                    return;
            }
            self->read();
        });
    }

    void send(std::string bytes, bool closeAfter = false)
    {
        if (closed)
            return;
        queue.push_back(Outgoing{std::move(bytes), closeAfter});
        if (!writing)
            writeNext();
    }

    void writeNext()
    {
        if (queue.empty() || closed) {
            writing = false;
            return;
        }
        writing = true;
        auto self = shared_from_this();
        asio::async_write(socket, asio::buffer(queue.front().bytes), [self](const std::error_code &ec, std::size_t) {
            if (self->closed)
                return;
            if (ec) {
                self->close();
                return;
            }
            const bool closeAfter = self->queue.front().closeAfter;
            self->queue.pop_front();
            if (closeAfter) {
                self->close();
                return;
            }
            self->writeNext();
        });
    }

    void handle(const std::string &payload)
    {
        const Controls c = owner->currentControls();
        if (c.silent)
            return;
        json message;
        std::string error;
        if (!wire::parseMessage(payload, &message, &error)) {
            owner->log("Closing a connection: " + error);
            close();
            return;
        }
        const std::string type = message["t"].get<std::string>();
        if (!handshaken) {
            if (type != "hello") {
                owner->log("Closing a connection that did not start with hello");
                close();
                return;
            }
            if (c.refuse) {
                send(wire::encodeFrame(json{{"t", "refused"}, {"code", c.refuseCode}, {"message", c.refuseMessage}}),
                     true);
                return;
            }
            handshaken = true;
            send(wire::encodeFrame(
                json{{"t", "welcome"}, {"protocol", wire::kProtocolVersion}, {"server", "quillon-es-sim"}}));
            return;
        }
        if (type == "ping") {
            send(wire::encodeFrame(json{{"t", "pong"}}));
            return;
        }
        if (type == "pong")
            return;
        long long id = 0;
        if (!wire::getInt(message, "id", &id)) {
            owner->log("Closing a connection: request without id");
            close();
            return;
        }
        if (type == "signIn")
            later(c, [self = shared_from_this(), id, message, c] { self->signIn(id, message, c); });
        else if (type == "getObjects")
            later(c, [self = shared_from_this(), id, c] { self->getObjects(id, c); });
        else
            send(failure(id, 400, "Unknown request " + type));
    }

    template<typename F> void later(const Controls &c, F f)
    {
        if (c.replyDelayMs <= 0) {
            f();
            return;
        }
        auto timer = std::make_shared<asio::steady_timer>(owner->io, std::chrono::milliseconds(c.replyDelayMs));
        timer->async_wait([timer, f, self = shared_from_this()](const std::error_code &ec) {
            if (!ec && !self->closed)
                f();
        });
    }

    static std::string failure(long long id, int code, const std::string &text)
    {
        return wire::encodeFrame(json{{"t", "reply"}, {"re", id}, {"ok", false}, {"code", code}, {"message", text}});
    }

    void signIn(long long id, const json &message, const Controls &c)
    {
        std::string user, password;
        wire::getString(message, "user", &user);
        wire::getString(message, "password", &password);
        owner->signIns++;
        if (c.rejectSignIn) {
            owner->log("Sign-in of \"" + user + "\" rejected on request");
            userId = 0;
            send(failure(id, c.signInCode, c.signInMessage));
            return;
        }
        long long found = 0;
        {
            std::lock_guard<std::mutex> lock(owner->mutex);
            for (const auto &u : owner->site.users) {
                if (u.name == user && u.password == password)
                    found = u.id;
            }
        }
        if (found == 0) {
            owner->log("Sign-in of \"" + user + "\" failed: wrong user name or password");
            userId = 0;
            send(failure(id, 401, "Invalid user name or password"));
            return;
        }
        owner->log("Signed in \"" + user + "\" as user " + std::to_string(found));
        userId = found;
        send(wire::encodeFrame(json{{"t", "reply"}, {"re", id}, {"ok", true}, {"userId", found}}));
    }

    void getObjects(long long id, const Controls &c)
    {
        if (userId == 0) {
            send(failure(id, 403, "Sign in first"));
            return;
        }
        if (c.failGetObjects) {
            send(failure(id, c.getObjectsCode, c.getObjectsMessage));
            return;
        }
        const auto objects = owner->currentObjects();
        const std::string head = "{\"t\":\"objects\",\"re\":" + std::to_string(id) + ",\"objects\":";
        int frames = 0;
        for (const auto &chunk : objects->chunks) {
            if (c.dropAfterObjectFrames >= 0 && frames >= c.dropAfterObjectFrames)
                break;
            // Header and payload written in one go: no second copy of a large chunk.
            const std::uint32_t n = std::uint32_t(head.size() + chunk.size() + 1);
            std::string frame;
            frame.reserve(wire::kHeaderSize + n);
            frame += char(n >> 24 & 0xff);
            frame += char(n >> 16 & 0xff);
            frame += char(n >> 8 & 0xff);
            frame += char(n & 0xff);
            frame += head;
            frame += chunk;
            frame += '}';
            ++frames;
            const bool last = c.dropAfterObjectFrames >= 0 && frames == c.dropAfterObjectFrames;
            send(std::move(frame), last);
            if (last)
                return;
        }
        if (c.dropAfterObjectFrames >= 0) {
            send(std::string(), true); // fewer frames than the limit: drop before the final reply
            return;
        }
        send(wire::encodeFrame(
            json{{"t", "reply"}, {"re", id}, {"ok", true}, {"rootId", objects->rootId}, {"count", objects->count}}));
    }
};

void Simulator::Impl::accept()
{
    // Handlers hold plain pointers to the Impl: it owns the io_context and stops
    // its thread before it goes.
    Impl *self = this;
    acceptor.async_accept([self](const std::error_code &ec, asio::ip::tcp::socket socket) {
        if (ec) {
            if (ec != asio::error::operation_aborted && self->acceptor.is_open())
                self->accept();
            return;
        }
        std::error_code ignored;
        socket.set_option(asio::ip::tcp::no_delay(true), ignored);
        auto session = std::make_shared<Session>(self, std::move(socket));
        self->sessions.insert(session);
        self->connections++;
        session->start();
        self->accept();
    });
}

// ---------------------------------------------------------------------------

Simulator::Simulator(Site site) : m_d(std::make_shared<Impl>())
{
    m_d->site = std::move(site);
}

Simulator::~Simulator()
{
    stop();
}

int Simulator::start(const std::string &address, int port, std::string *error)
{
    stop();
    auto setError = [&](const std::string &text) {
        if (error)
            *error = text;
        return 0;
    };
    std::error_code ec;
    const auto ip = asio::ip::make_address(address, ec);
    if (ec)
        return setError("Bad listen address " + address + ": " + ec.message());
    if (port < 0 || port > 65535)
        return setError("Port out of range: " + std::to_string(port));
    m_d->io.restart();
    const asio::ip::tcp::endpoint endpoint(ip, (unsigned short)port);
    m_d->acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        m_d->acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        m_d->acceptor.bind(endpoint, ec);
    if (!ec)
        m_d->acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        std::error_code ignored;
        m_d->acceptor.close(ignored);
        return setError("Cannot listen on " + address + ':' + std::to_string(port) + ": " + ec.message());
    }
    m_d->port = m_d->acceptor.local_endpoint().port();
    m_d->work.emplace(m_d->io.get_executor());
    m_d->accept();
    m_d->thread = std::thread([d = m_d.get()] { d->io.run(); });
    return m_d->port;
}

void Simulator::stop()
{
    if (!m_d->thread.joinable())
        return;
    m_d->work.reset();
    m_d->io.stop();
    m_d->thread.join();
    // With the thread gone, close everything here and let the aborted handlers run.
    m_d->io.restart();
    {
        std::error_code ignored;
        m_d->acceptor.close(ignored);
        auto sessions = m_d->sessions;
        for (const auto &s : sessions)
            s->close();
    }
    m_d->io.poll();
    m_d->port = 0;
}

int Simulator::port() const
{
    return m_d->port;
}

void Simulator::setSite(Site site)
{
    std::lock_guard<std::mutex> lock(m_d->mutex);
    m_d->site = std::move(site);
    m_d->encoded.reset();
}

void Simulator::setObjectsPerFrame(int count)
{
    std::lock_guard<std::mutex> lock(m_d->mutex);
    m_d->objectsPerFrame = std::max(1, count);
    m_d->encoded.reset();
}

void Simulator::setRefuseConnections(bool refuse, int code, const std::string &message)
{
    std::lock_guard<std::mutex> lock(m_d->mutex);
    m_d->controls.refuse = refuse;
    m_d->controls.refuseCode = code;
    m_d->controls.refuseMessage = message;
}

void Simulator::setSilent(bool silent)
{
    std::lock_guard<std::mutex> lock(m_d->mutex);
    m_d->controls.silent = silent;
}

void Simulator::dropConnections()
{
    asio::post(m_d->io, [d = m_d.get()] {
        auto sessions = d->sessions;
        for (const auto &s : sessions)
            s->close();
    });
}

void Simulator::setSignInRejection(bool reject, int code, const std::string &message)
{
    std::lock_guard<std::mutex> lock(m_d->mutex);
    m_d->controls.rejectSignIn = reject;
    m_d->controls.signInCode = code;
    m_d->controls.signInMessage = message;
}

void Simulator::setGetObjectsFailure(bool fail, int code, const std::string &message)
{
    std::lock_guard<std::mutex> lock(m_d->mutex);
    m_d->controls.failGetObjects = fail;
    m_d->controls.getObjectsCode = code;
    m_d->controls.getObjectsMessage = message;
}

void Simulator::setReplyDelay(int milliseconds)
{
    std::lock_guard<std::mutex> lock(m_d->mutex);
    m_d->controls.replyDelayMs = milliseconds;
}

void Simulator::setDropAfterObjectFrames(int frames)
{
    std::lock_guard<std::mutex> lock(m_d->mutex);
    m_d->controls.dropAfterObjectFrames = frames;
}

void Simulator::sendObjectsChanged()
{
    asio::post(m_d->io, [d = m_d.get()] {
        const std::string frame = wire::encodeFrame(json{{"t", "objectsChanged"}});
        auto sessions = d->sessions;
        for (const auto &s : sessions) {
            if (s->userId != 0)
                s->send(frame);
        }
    });
}

void Simulator::sendEvent(const korvu::es::Event &event, bool updated)
{
    const std::string frame =
        wire::encodeFrame(json{{"t", updated ? "eventUpdated" : "event"}, {"event", wire::encodeEvent(event)}});
    asio::post(m_d->io, [d = m_d.get(), frame] {
        auto sessions = d->sessions;
        for (const auto &s : sessions) {
            if (s->userId != 0)
                s->send(frame);
        }
    });
}

void Simulator::sendObjectValue(long long objectId, const korvu::es::Value &value, bool state)
{
    const std::string frame = wire::encodeFrame(json{{"t", state ? "objectState" : "objectValue"},
                                                     {"object", objectId},
                                                     {"kind", korvu::es::Value::kindName(value.kind())},
                                                     {"value", wire::encodeValue(value)}});
    asio::post(m_d->io, [d = m_d.get(), frame] {
        auto sessions = d->sessions;
        for (const auto &s : sessions) {
            if (s->userId != 0)
                s->send(frame);
        }
    });
}

void Simulator::sendRaw(const std::string &bytes)
{
    asio::post(m_d->io, [d = m_d.get(), bytes] {
        auto sessions = d->sessions;
        for (const auto &s : sessions) {
            if (s->handshaken)
                s->send(bytes);
        }
    });
}

int Simulator::connectionCount() const
{
    return m_d->connections;
}

int Simulator::signInCount() const
{
    return m_d->signIns;
}

void Simulator::setLogger(std::function<void(const std::string &)> logger)
{
    std::lock_guard<std::mutex> lock(m_d->mutex);
    m_d->logger = std::move(logger);
}

} // namespace essim
