#pragma once

// Simulated event server: serves a Site over the client library's wire protocol
// on one TCP port, with switches that make it misbehave for tests.
//
// It runs on a thread of its own; every method is safe from any thread. The
// switches apply to what happens after the call (new connections, requests that
// arrive later).

#include "platform/simulators/es/site.h"

#include <functional>
#include <memory>
#include <string>

namespace essim {

class Simulator
{
public:
    explicit Simulator(Site site = Site());
    ~Simulator();

    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Listens on address:port (port 0 picks a free one). Returns the port, or 0
    // with *error set.
    int start(const std::string &address = "127.0.0.1", int port = 0, std::string *error = nullptr);
    // Closes the listener and every connection; idempotent.
    void stop();
    int port() const;

    void setSite(Site site);
    // Objects per "objects" frame of a reply (at least 1).
    void setObjectsPerFrame(int count);

    // Handshakes are answered with a refusal carrying this code and message.
    void setRefuseConnections(bool refuse, int code = 503, const std::string &message = "Service unavailable");
    // Reads but never writes: no handshake, no pong, no replies.
    void setSilent(bool silent);
    // Closes every open connection now.
    void dropConnections();
    // Every sign-in fails with this code and message (which may be empty).
    void setSignInRejection(bool reject, int code = 0, const std::string &message = std::string());
    // Every object fetch fails with this code and message.
    void setGetObjectsFailure(bool fail, int code = 0, const std::string &message = std::string());
    // Replies to requests leave this many milliseconds late.
    void setReplyDelay(int milliseconds);
    // After this many "objects" frames of a reply the connection is closed
    // (negative: never).
    void setDropAfterObjectFrames(int frames);

    // Notifications to every signed-in connection.
    void sendObjectsChanged();
    void sendEvent(const korvu::es::Event &event, bool updated = false);
    void sendObjectValue(long long objectId, const korvu::es::Value &value, bool state = false);
    // Raw bytes to every connection that finished its handshake.
    void sendRaw(const std::string &bytes);

    int connectionCount() const;
    int signInCount() const;

    // Log lines of the simulator (never a password). Default: none.
    void setLogger(std::function<void(const std::string &)> logger);

private:
    struct Impl;
    std::shared_ptr<Impl> m_d;
};

} // namespace essim
