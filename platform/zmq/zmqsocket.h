#pragma once

// The one ZeroMQ context and socket that each of the elements owns while it runs.
struct ZmqSocket
{
    void *context = nullptr;
    void *socket = nullptr;

    // Creates the context and a socket of `type` that drops unsent messages on
    // close, so stopping never waits for a peer. False, with nothing left open,
    // when either cannot be made.
    bool open(int type);
    // Closes the socket, then ends the context; safe when nothing is open.
    void close();
};
