#pragma once

#include <QtGlobal>

typedef struct _GstRTSPClient GstRTSPClient;
typedef struct _GstRTSPServer GstRTSPServer;

// Bounds what one client connection may send the RTSP server between two of its answers.
//
// GStreamer's server reads a request's head without a limit: it cuts a long line short and reads
// on, so a header that never ends keeps the connection's thread reading for ever, and one header
// after another grows the request in memory until the process dies. A body over kMaxBody it refuses
// itself ("413 Request Entity Too Large", and the connection closed) before reading it.
//
// The guard counts the bytes that the server has taken from a connection's socket (the kernel's
// count of bytes received, less those still queued) since its last answer on that connection. A
// connection over kMaxHead + kMaxBody, plus kQuietAllowance bytes a second for the RTCP reports of
// a client that only watches, is answered "400 Bad Request" (in plain RTSP; TLS gets no answer)
// and closed. sweep() runs every kSweepMs on the server's thread, so a client that floods the
// connection gets that far and a little more; the other clients, on threads of their own, notice
// nothing.
class RequestGuard
{
public:
    static constexpr quint64 kMaxHead = 8 * 1024;
    static constexpr quint64 kMaxBody = 64 * 1024;
    static constexpr quint64 kQuietAllowance = 1024; // bytes per second between answers
    static constexpr int kSweepMs = 100;

    // For a new connection (the server's "client-connected"): the body limit, and the count of its
    // answers. tls: the connection speaks TLS, where a plain answer would be noise.
    static void watch(GstRTSPClient *client, bool tls);
    // Answers and closes the connections over their bound; how many it closed.
    static int sweep(GstRTSPServer *server);
    // Whether a connection that sent `taken` bytes in `quietUs` microseconds since the last answer
    // is over its bound.
    static bool overBound(quint64 taken, qint64 quietUs);
};
