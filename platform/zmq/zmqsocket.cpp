#include "platform/zmq/zmqsocket.h"

#include <cerrno>
#include <zmq.h>

bool ZmqSocket::open(int type)
{
    const int linger = 0;
    context = zmq_ctx_new();
    socket = context ? zmq_socket(context, type) : nullptr;
    if (!socket || zmq_setsockopt(socket, ZMQ_LINGER, &linger, sizeof linger) != 0) {
        // The caller reports zmq_errno(); closing must not replace it.
        const int error = errno;
        close();
        errno = error;
        return false;
    }
    return true;
}

void ZmqSocket::close()
{
    if (socket) {
        zmq_close(socket);
        socket = nullptr;
    }
    if (context) {
        zmq_ctx_term(context);
        context = nullptr;
    }
}
