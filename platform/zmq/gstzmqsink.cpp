// zmqsink: publishes every buffer as one ZeroMQ message on a PUB socket bound
// to "endpoint". A port of 0 or "*" lets the system choose one; the address
// actually bound is readable from "bound-endpoint" once the element is started.
// PUB never blocks: a subscriber that cannot keep up loses messages instead of
// stalling the pipeline.
#include "platform/zmq/gstzmqsink.h"

#include "platform/zmq/zmqsocket.h"

#include <zmq.h>

GST_DEBUG_CATEGORY_STATIC(gst_zmq_sink_debug);
#define GST_CAT_DEFAULT gst_zmq_sink_debug

namespace {
constexpr int kSendHighWaterMark = 100000;
constexpr const char *kDefaultEndpoint = "tcp://127.0.0.1:5555";
} // namespace

struct _GstZmqSink
{
    GstBaseSink parent;

    gchar *endpoint;      // guarded by the object lock
    gchar *boundEndpoint; // guarded by the object lock

    ZmqSocket zmq;
};

enum {
    PROP_0,
    PROP_ENDPOINT,
    PROP_BOUND_ENDPOINT,
};

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

G_DEFINE_TYPE(GstZmqSink, gst_zmq_sink, GST_TYPE_BASE_SINK)

static void gst_zmq_sink_set_property(GObject *object, guint prop_id, const GValue *value, GParamSpec *pspec)
{
    GstZmqSink *self = GST_ZMQ_SINK(object);
    switch (prop_id) {
    case PROP_ENDPOINT:
        GST_OBJECT_LOCK(self);
        g_free(self->endpoint);
        self->endpoint = g_value_dup_string(value);
        GST_OBJECT_UNLOCK(self);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        break;
    }
}

static void gst_zmq_sink_get_property(GObject *object, guint prop_id, GValue *value, GParamSpec *pspec)
{
    GstZmqSink *self = GST_ZMQ_SINK(object);
    switch (prop_id) {
    case PROP_ENDPOINT:
        GST_OBJECT_LOCK(self);
        g_value_set_string(value, self->endpoint);
        GST_OBJECT_UNLOCK(self);
        break;
    case PROP_BOUND_ENDPOINT:
        GST_OBJECT_LOCK(self);
        g_value_set_string(value, self->boundEndpoint);
        GST_OBJECT_UNLOCK(self);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        break;
    }
}

static gboolean gst_zmq_sink_start(GstBaseSink *basesink)
{
    GstZmqSink *self = GST_ZMQ_SINK(basesink);

    GST_OBJECT_LOCK(self);
    gchar *endpoint = g_strdup(self->endpoint);
    GST_OBJECT_UNLOCK(self);

    if (!endpoint || !*endpoint) {
        GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND, ("No ZeroMQ endpoint given."), ("the endpoint property is empty"));
        g_free(endpoint);
        return FALSE;
    }

    const int hwm = kSendHighWaterMark;
    if (!self->zmq.open(ZMQ_PUB) || zmq_setsockopt(self->zmq.socket, ZMQ_SNDHWM, &hwm, sizeof hwm) != 0) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE, ("Could not create a ZeroMQ socket."),
                          ("zmq: %s", zmq_strerror(zmq_errno())));
        self->zmq.close();
        g_free(endpoint);
        return FALSE;
    }
    if (zmq_bind(self->zmq.socket, endpoint) != 0) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE, ("Could not bind to ZeroMQ endpoint \"%s\".", endpoint),
                          ("zmq_bind: %s", zmq_strerror(zmq_errno())));
        self->zmq.close();
        g_free(endpoint);
        return FALSE;
    }
    char bound[256] = {0};
    size_t boundSize = sizeof bound;
    if (zmq_getsockopt(self->zmq.socket, ZMQ_LAST_ENDPOINT, bound, &boundSize) != 0)
        g_strlcpy(bound, endpoint, sizeof bound);
    GST_OBJECT_LOCK(self);
    g_free(self->boundEndpoint);
    self->boundEndpoint = g_strdup(bound);
    GST_OBJECT_UNLOCK(self);
    GST_DEBUG_OBJECT(self, "publishing on %s", bound);
    g_free(endpoint);
    g_object_notify(G_OBJECT(self), "bound-endpoint");
    return TRUE;
}

static gboolean gst_zmq_sink_stop(GstBaseSink *basesink)
{
    GST_ZMQ_SINK(basesink)->zmq.close();
    return TRUE;
}

static GstFlowReturn gst_zmq_sink_render(GstBaseSink *basesink, GstBuffer *buffer)
{
    GstZmqSink *self = GST_ZMQ_SINK(basesink);
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("Could not read a buffer."), ("gst_buffer_map failed"));
        return GST_FLOW_ERROR;
    }
    int sent = zmq_send(self->zmq.socket, map.data, map.size, ZMQ_DONTWAIT);
    int err = sent < 0 ? zmq_errno() : 0;
    gst_buffer_unmap(buffer, &map);
    // EAGAIN means the message was dropped at the high-water mark: subscribers
    // miss data, the publisher carries on.
    if (sent < 0 && err != EAGAIN) {
        GST_ELEMENT_ERROR(self, RESOURCE, WRITE, ("Could not publish on the ZeroMQ endpoint."),
                          ("zmq_send: %s", zmq_strerror(err)));
        return GST_FLOW_ERROR;
    }
    return GST_FLOW_OK;
}

static void gst_zmq_sink_finalize(GObject *object)
{
    GstZmqSink *self = GST_ZMQ_SINK(object);
    self->zmq.close();
    g_free(self->endpoint);
    g_free(self->boundEndpoint);
    G_OBJECT_CLASS(gst_zmq_sink_parent_class)->finalize(object);
}

static void gst_zmq_sink_class_init(GstZmqSinkClass *klass)
{
    GObjectClass *gobject_class = G_OBJECT_CLASS(klass);
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
    GstBaseSinkClass *basesink_class = GST_BASE_SINK_CLASS(klass);

    GST_DEBUG_CATEGORY_INIT(gst_zmq_sink_debug, "zmqsink", 0, "ZeroMQ publisher sink");

    gobject_class->set_property = gst_zmq_sink_set_property;
    gobject_class->get_property = gst_zmq_sink_get_property;
    gobject_class->finalize = gst_zmq_sink_finalize;

    g_object_class_install_property(
        gobject_class, PROP_ENDPOINT,
        g_param_spec_string("endpoint", "Endpoint", "ZeroMQ endpoint to bind and publish on, e.g. tcp://127.0.0.1:5555",
                            kDefaultEndpoint,
                            GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY)));
    g_object_class_install_property(
        gobject_class, PROP_BOUND_ENDPOINT,
        g_param_spec_string("bound-endpoint", "Bound endpoint",
                            "The endpoint actually bound (with the chosen port), once started", nullptr,
                            GParamFlags(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_set_static_metadata(element_class, "ZeroMQ sink", "Sink/Network",
                                          "Publishes every buffer as one ZeroMQ message", "Quillon developers");

    basesink_class->start = gst_zmq_sink_start;
    basesink_class->stop = gst_zmq_sink_stop;
    basesink_class->render = gst_zmq_sink_render;
}

static void gst_zmq_sink_init(GstZmqSink *self)
{
    self->endpoint = g_strdup(kDefaultEndpoint);
    self->boundEndpoint = nullptr;
}
