#include "platform/ostrevan/requestguard.h"

#include "platform/ostrevan/serverlogging.h"

#include <atomic>

#undef signals
#include <gst/rtsp-server/rtsp-server.h>
#define signals Q_SIGNALS

#include <cstddef>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace {

constexpr const char *kGuardKey = "quillon-request-guard";
// What the kernel queues for a connection beyond what the server has taken: with the sweep's
// period, how much of a flood can still reach the server after the guard closed the connection.
constexpr int kReceiveBuffer = 32 * 1024;

struct Guard
{
    GSocket *socket = nullptr; // a reference of ours
    bool tls = false;
    bool refused = false; // sweep's thread only
    std::atomic<quint64> answeredAt{0};
    std::atomic<qint64> answeredUs{0};
};

void freeGuard(gpointer data)
{
    auto *guard = static_cast<Guard *>(data);
    g_object_unref(guard->socket);
    delete guard;
}

// The socket's descriptor while it is open, -1 once the connection closed it.
int openDescriptor(GSocket *socket)
{
    return g_socket_is_closed(socket) ? -1 : g_socket_get_fd(socket);
}

// Bytes the server has read from the connection so far: received by the kernel, less still queued.
bool bytesTaken(int fd, quint64 *taken)
{
    tcp_info info = {};
    socklen_t size = sizeof info;
    int queued = 0;
    if (fd < 0 || ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 ||
        size < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received ||
        ::ioctl(fd, SIOCINQ, &queued) != 0)
        return false;
    *taken = info.tcpi_bytes_received - quint64(qMax(0, queued));
    return true;
}

// Runs on the connection's thread as each answer goes out: that request was whole.
void onSendMessage(GstRTSPClient *, GstRTSPSession *, gpointer, gpointer data)
{
    auto *guard = static_cast<Guard *>(data);
    quint64 taken = 0;
    if (bytesTaken(openDescriptor(guard->socket), &taken))
        guard->answeredAt = taken;
    guard->answeredUs = g_get_monotonic_time();
}

GstRTSPFilterResult refuseOverBound(GstRTSPServer *, GstRTSPClient *client, gpointer data)
{
    auto *guard = static_cast<Guard *>(g_object_get_data(G_OBJECT(client), kGuardKey));
    const int fd = guard && !guard->refused ? openDescriptor(guard->socket) : -1;
    quint64 taken = 0;
    if (fd < 0 || !bytesTaken(fd, &taken))
        return GST_RTSP_FILTER_KEEP;
    const quint64 sinceAnswer = taken - qMin(taken, guard->answeredAt.load());
    if (!RequestGuard::overBound(sinceAnswer, g_get_monotonic_time() - guard->answeredUs.load()))
        return GST_RTSP_FILTER_KEEP;
    guard->refused = true;
    ++*static_cast<int *>(data);
    GstRTSPConnection *connection = gst_rtsp_client_get_connection(client);
    qCWarning(lcServer,
              "Client %s sent %llu bytes without a whole request (a head may have %llu bytes, a body %llu): "
              "answered \"400 Bad Request\" and closed the connection",
              connection ? gst_rtsp_connection_get_ip(connection) : "?", static_cast<unsigned long long>(sinceAnswer),
              static_cast<unsigned long long>(RequestGuard::kMaxHead),
              static_cast<unsigned long long>(RequestGuard::kMaxBody));
    if (!guard->tls) {
        static const char kAnswer[] = "RTSP/1.0 400 Bad Request\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
        const ssize_t sent = ::send(fd, kAnswer, sizeof kAnswer - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
        (void)sent; // a client that reads nothing gets the close alone
    }
    // The connection's own thread then reads the end of the stream and closes it as any other.
    ::shutdown(fd, SHUT_RDWR);
    return GST_RTSP_FILTER_KEEP;
}

} // namespace

void RequestGuard::watch(GstRTSPClient *client, bool tls)
{
    GstRTSPConnection *connection = gst_rtsp_client_get_connection(client);
    GSocket *socket = connection ? gst_rtsp_connection_get_read_socket(connection) : nullptr;
    if (!socket)
        return;
    // A longer body is refused with the connection, before it is read.
    gst_rtsp_connection_set_content_length_limit(connection, guint(kMaxBody));
    const int receiveBuffer = kReceiveBuffer;
    ::setsockopt(g_socket_get_fd(socket), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    auto *guard = new Guard;
    guard->socket = G_SOCKET(g_object_ref(socket));
    guard->tls = tls;
    guard->answeredUs = g_get_monotonic_time();
    g_object_set_data_full(G_OBJECT(client), kGuardKey, guard, freeGuard);
    g_signal_connect(client, "send-message", G_CALLBACK(onSendMessage), guard);
}

int RequestGuard::sweep(GstRTSPServer *server)
{
    int refused = 0;
    GList *none = gst_rtsp_server_client_filter(server, refuseOverBound, &refused);
    g_list_free_full(none, g_object_unref);
    return refused;
}

bool RequestGuard::overBound(quint64 taken, qint64 quietUs)
{
    const quint64 allowance = kQuietAllowance * quint64(qMax<qint64>(0, quietUs)) / 1000000u;
    return taken > kMaxHead + kMaxBody + allowance;
}
