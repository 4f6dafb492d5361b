// zmqsrc: receives a byte stream from a ZeroMQ publisher.
//
// A SUB socket subscribed to everything is connected to "endpoint"; every
// message part becomes one buffer, unchanged, so any publisher of a byte stream
// (MPEG-TS from ffmpeg's zmq output, our own zmqsink) can feed decodebin.
// ZeroMQ reconnects by itself after a lost connection, so a publisher that
// restarts is picked up again; after a message above "max-message-size" it does
// not (libzmq ends that session for good), so the element watches the socket's
// disconnections and connects again itself.
//
// The streaming thread waits in zmq_poll() with a short time-out and checks the
// flushing flag in between, so unlock() (and with it every state change towards
// NULL) returns within one poll period even when no publisher ever appears.
//
// Memory is bounded: ZeroMQ queues at most "queue-length" messages while the
// streaming thread is not reading (a pipeline that failed on garbage, say), and
// a publisher that sends a message above "max-message-size" is disconnected (and
// connected again, so a well-behaved one is picked up again).
#include "platform/zmq/gstzmqsrc.h"

#include "platform/zmq/zmqsocket.h"

#include <cstdint>
#include <cstring>
#include <zmq.h>

GST_DEBUG_CATEGORY_STATIC(gst_zmq_src_debug);
#define GST_CAT_DEFAULT gst_zmq_src_debug

namespace {
constexpr int kPollIntervalMs = 50;
// MPEG-TS publishers send a few KiB per message, ffmpeg's zmq output at most
// 128 KiB; 2 MiB leaves room for a whole unmuxed key frame. With the queue
// length this bounds what a hostile publisher can make us hold to 128 MiB.
constexpr gint64 kDefaultMaxMessageSize = 2 * 1024 * 1024;
constexpr int kDefaultQueueLength = 64;
constexpr int kReconnectIntervalMs = 100;
constexpr const char *kDefaultEndpoint = "tcp://127.0.0.1:5555";
// Each element has a context of its own, so one name serves every monitor.
constexpr const char *kMonitorAddress = "inproc://zmqsrc-monitor";
} // namespace

struct _GstZmqSrc
{
    GstPushSrc parent;

    // Properties, guarded by the object lock.
    gchar *endpoint;
    gboolean isLive;
    gint64 maxMessageSize;
    gint queueLength;

    // Owned by the streaming side between start() and stop().
    ZmqSocket zmq;
    void *monitor;         // PAIR socket receiving zmq's disconnection events
    gchar *activeEndpoint; // what zmq is connected to
    gint flushing;         // atomic
};

enum {
    PROP_0,
    PROP_ENDPOINT,
    PROP_IS_LIVE,
    PROP_MAX_MESSAGE_SIZE,
    PROP_QUEUE_LENGTH,
};

static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

G_DEFINE_TYPE(GstZmqSrc, gst_zmq_src, GST_TYPE_PUSH_SRC)

static void gst_zmq_src_set_property(GObject *object, guint prop_id, const GValue *value, GParamSpec *pspec)
{
    GstZmqSrc *self = GST_ZMQ_SRC(object);
    switch (prop_id) {
    case PROP_ENDPOINT:
        GST_OBJECT_LOCK(self);
        g_free(self->endpoint);
        self->endpoint = g_value_dup_string(value);
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_IS_LIVE: {
        gboolean live = g_value_get_boolean(value);
        GST_OBJECT_LOCK(self);
        self->isLive = live;
        GST_OBJECT_UNLOCK(self);
        gst_base_src_set_live(GST_BASE_SRC(self), live);
        break;
    }
    case PROP_MAX_MESSAGE_SIZE:
        GST_OBJECT_LOCK(self);
        self->maxMessageSize = g_value_get_int64(value);
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_QUEUE_LENGTH:
        GST_OBJECT_LOCK(self);
        self->queueLength = g_value_get_int(value);
        GST_OBJECT_UNLOCK(self);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        break;
    }
}

static void gst_zmq_src_get_property(GObject *object, guint prop_id, GValue *value, GParamSpec *pspec)
{
    GstZmqSrc *self = GST_ZMQ_SRC(object);
    switch (prop_id) {
    case PROP_ENDPOINT:
        GST_OBJECT_LOCK(self);
        g_value_set_string(value, self->endpoint);
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_IS_LIVE:
        GST_OBJECT_LOCK(self);
        g_value_set_boolean(value, self->isLive);
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_MAX_MESSAGE_SIZE:
        GST_OBJECT_LOCK(self);
        g_value_set_int64(value, self->maxMessageSize);
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_QUEUE_LENGTH:
        GST_OBJECT_LOCK(self);
        g_value_set_int(value, self->queueLength);
        GST_OBJECT_UNLOCK(self);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        break;
    }
}

// The monitor goes first: the context ends only once every socket in it is closed.
static void gst_zmq_src_close(GstZmqSrc *self)
{
    if (self->monitor) {
        zmq_close(self->monitor);
        self->monitor = nullptr;
    }
    self->zmq.close();
    g_clear_pointer(&self->activeEndpoint, g_free);
}

// Reads one event from the monitor; after a disconnection, connects again.
static void gst_zmq_src_handle_monitor_event(GstZmqSrc *self)
{
    zmq_msg_t frame;
    zmq_msg_init(&frame);
    uint16_t event = 0;
    // An event is two frames: its number and value, then the peer's address.
    if (zmq_msg_recv(&frame, self->monitor, ZMQ_DONTWAIT) >= 0 && zmq_msg_size(&frame) >= sizeof event)
        std::memcpy(&event, zmq_msg_data(&frame), sizeof event);
    while (zmq_msg_more(&frame) && zmq_msg_recv(&frame, self->monitor, ZMQ_DONTWAIT) >= 0) {
    }
    zmq_msg_close(&frame);
    if (event != ZMQ_EVENT_DISCONNECTED)
        return;
    GST_ELEMENT_WARNING(self, RESOURCE, READ,
                        ("Lost the ZeroMQ publisher at \"%s\"; connecting again.", self->activeEndpoint),
                        ("disconnected (a message above max-message-size ends the connection)"));
    zmq_disconnect(self->zmq.socket, self->activeEndpoint);
    if (zmq_connect(self->zmq.socket, self->activeEndpoint) != 0)
        GST_WARNING_OBJECT(self, "zmq_connect %s: %s", self->activeEndpoint, zmq_strerror(zmq_errno()));
}

static gboolean gst_zmq_src_start(GstBaseSrc *basesrc)
{
    GstZmqSrc *self = GST_ZMQ_SRC(basesrc);

    GST_OBJECT_LOCK(self);
    gchar *endpoint = g_strdup(self->endpoint);
    gboolean live = self->isLive;
    const int64_t maxMessageSize = self->maxMessageSize;
    const int hwm = self->queueLength;
    GST_OBJECT_UNLOCK(self);

    if (!endpoint || !*endpoint) {
        GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("No ZeroMQ endpoint given."), ("the endpoint property is empty"));
        g_free(endpoint);
        return FALSE;
    }

    // A live source time-stamps buffers on arrival, like udpsrc; a non-live one
    // is a plain byte stream.
    gst_base_src_set_format(basesrc, live ? GST_FORMAT_TIME : GST_FORMAT_BYTES);
    gst_base_src_set_do_timestamp(basesrc, live);

    const int reconnect = kReconnectIntervalMs;
    if (!self->zmq.open(ZMQ_SUB) || zmq_setsockopt(self->zmq.socket, ZMQ_RCVHWM, &hwm, sizeof hwm) != 0 ||
        zmq_setsockopt(self->zmq.socket, ZMQ_MAXMSGSIZE, &maxMessageSize, sizeof maxMessageSize) != 0 ||
        zmq_setsockopt(self->zmq.socket, ZMQ_RECONNECT_IVL, &reconnect, sizeof reconnect) != 0 ||
        zmq_setsockopt(self->zmq.socket, ZMQ_SUBSCRIBE, "", 0) != 0) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("Could not create a ZeroMQ socket."),
                          ("zmq: %s", zmq_strerror(zmq_errno())));
        self->zmq.close();
        g_free(endpoint);
        return FALSE;
    }
    if (zmq_connect(self->zmq.socket, endpoint) != 0) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("Could not connect to ZeroMQ endpoint \"%s\".", endpoint),
                          ("zmq_connect: %s", zmq_strerror(zmq_errno())));
        self->zmq.close();
        g_free(endpoint);
        return FALSE;
    }
    const int linger = 0;
    if (zmq_socket_monitor(self->zmq.socket, kMonitorAddress, ZMQ_EVENT_DISCONNECTED) != 0 ||
        !(self->monitor = zmq_socket(self->zmq.context, ZMQ_PAIR)) ||
        zmq_setsockopt(self->monitor, ZMQ_LINGER, &linger, sizeof linger) != 0 ||
        zmq_connect(self->monitor, kMonitorAddress) != 0) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ, ("Could not create a ZeroMQ socket."),
                          ("zmq monitor: %s", zmq_strerror(zmq_errno())));
        gst_zmq_src_close(self);
        g_free(endpoint);
        return FALSE;
    }
    GST_DEBUG_OBJECT(self, "subscribed to %s (live: %d, at most %d messages of %" G_GINT64_FORMAT " bytes queued)",
                     endpoint, live, hwm, maxMessageSize);
    self->activeEndpoint = endpoint;
    g_atomic_int_set(&self->flushing, 0);
    return TRUE;
}

static gboolean gst_zmq_src_stop(GstBaseSrc *basesrc)
{
    gst_zmq_src_close(GST_ZMQ_SRC(basesrc));
    return TRUE;
}

static gboolean gst_zmq_src_unlock(GstBaseSrc *basesrc)
{
    g_atomic_int_set(&GST_ZMQ_SRC(basesrc)->flushing, 1);
    return TRUE;
}

static gboolean gst_zmq_src_unlock_stop(GstBaseSrc *basesrc)
{
    g_atomic_int_set(&GST_ZMQ_SRC(basesrc)->flushing, 0);
    return TRUE;
}

static gboolean gst_zmq_src_is_seekable(GstBaseSrc *)
{
    return FALSE;
}

static void gst_zmq_src_free_message(gpointer data)
{
    auto *msg = static_cast<zmq_msg_t *>(data);
    zmq_msg_close(msg);
    g_free(msg);
}

static GstFlowReturn gst_zmq_src_create(GstPushSrc *pushsrc, GstBuffer **outbuf)
{
    GstZmqSrc *self = GST_ZMQ_SRC(pushsrc);

    for (;;) {
        if (g_atomic_int_get(&self->flushing))
            return GST_FLOW_FLUSHING;

        zmq_pollitem_t items[] = {{self->zmq.socket, 0, ZMQ_POLLIN, 0}, {self->monitor, 0, ZMQ_POLLIN, 0}};
        const zmq_pollitem_t &item = items[0];
        int ready = zmq_poll(items, 2, kPollIntervalMs);
        if (ready < 0) {
            if (zmq_errno() == EINTR)
                continue;
            GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Could not read from the ZeroMQ endpoint."),
                              ("zmq_poll: %s", zmq_strerror(zmq_errno())));
            return GST_FLOW_ERROR;
        }
        if (items[1].revents & ZMQ_POLLIN)
            gst_zmq_src_handle_monitor_event(self);
        if (ready == 0 || !(item.revents & ZMQ_POLLIN))
            continue;

        auto *msg = static_cast<zmq_msg_t *>(g_malloc(sizeof(zmq_msg_t)));
        zmq_msg_init(msg);
        if (zmq_msg_recv(msg, self->zmq.socket, ZMQ_DONTWAIT) < 0) {
            int err = zmq_errno();
            gst_zmq_src_free_message(msg);
            if (err == EAGAIN || err == EINTR)
                continue;
            GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Could not read from the ZeroMQ endpoint."),
                              ("zmq_msg_recv: %s", zmq_strerror(err)));
            return GST_FLOW_ERROR;
        }
        gsize size = zmq_msg_size(msg);
        if (size == 0) {
            gst_zmq_src_free_message(msg);
            continue;
        }
        // The buffer wraps the message's memory; the message is closed when
        // the last reference to the buffer goes.
        *outbuf = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, zmq_msg_data(msg), size, 0, size, msg,
                                              gst_zmq_src_free_message);
        return GST_FLOW_OK;
    }
}

static void gst_zmq_src_finalize(GObject *object)
{
    GstZmqSrc *self = GST_ZMQ_SRC(object);
    gst_zmq_src_close(self);
    g_free(self->endpoint);
    G_OBJECT_CLASS(gst_zmq_src_parent_class)->finalize(object);
}

static void gst_zmq_src_class_init(GstZmqSrcClass *klass)
{
    GObjectClass *gobject_class = G_OBJECT_CLASS(klass);
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass *basesrc_class = GST_BASE_SRC_CLASS(klass);
    GstPushSrcClass *pushsrc_class = GST_PUSH_SRC_CLASS(klass);

    GST_DEBUG_CATEGORY_INIT(gst_zmq_src_debug, "zmqsrc", 0, "ZeroMQ subscriber source");

    gobject_class->set_property = gst_zmq_src_set_property;
    gobject_class->get_property = gst_zmq_src_get_property;
    gobject_class->finalize = gst_zmq_src_finalize;

    g_object_class_install_property(
        gobject_class, PROP_ENDPOINT,
        g_param_spec_string("endpoint", "Endpoint", "ZeroMQ endpoint to subscribe to, e.g. tcp://127.0.0.1:5555",
                            kDefaultEndpoint,
                            GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY)));
    g_object_class_install_property(
        gobject_class, PROP_IS_LIVE,
        g_param_spec_boolean("is-live", "Is live", "Act as a live source (time-stamp buffers on arrival)", FALSE,
                             GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY)));

    g_object_class_install_property(
        gobject_class, PROP_MAX_MESSAGE_SIZE,
        g_param_spec_int64("max-message-size", "Maximum message size",
                           "Largest message accepted, in bytes; a publisher that sends a larger one is disconnected", 1,
                           G_MAXINT64, kDefaultMaxMessageSize,
                           GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY)));
    g_object_class_install_property(
        gobject_class, PROP_QUEUE_LENGTH,
        g_param_spec_int("queue-length", "Queue length",
                         "Messages held while the pipeline does not read; newer ones are dropped beyond it", 1,
                         G_MAXINT, kDefaultQueueLength,
                         GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY)));

    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(element_class, "ZeroMQ source", "Source/Network",
                                          "Receives a byte stream from a ZeroMQ publisher, one buffer per message",
                                          "Quillon developers");

    basesrc_class->start = gst_zmq_src_start;
    basesrc_class->stop = gst_zmq_src_stop;
    basesrc_class->unlock = gst_zmq_src_unlock;
    basesrc_class->unlock_stop = gst_zmq_src_unlock_stop;
    basesrc_class->is_seekable = gst_zmq_src_is_seekable;
    pushsrc_class->create = gst_zmq_src_create;
}

static void gst_zmq_src_init(GstZmqSrc *self)
{
    self->endpoint = g_strdup(kDefaultEndpoint);
    self->isLive = FALSE;
    self->maxMessageSize = kDefaultMaxMessageSize;
    self->queueLength = kDefaultQueueLength;
    self->flushing = 0;
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_BYTES);
}
