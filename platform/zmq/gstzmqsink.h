#pragma once

#include <gst/base/gstbasesink.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_ZMQ_SINK (gst_zmq_sink_get_type())
G_DECLARE_FINAL_TYPE(GstZmqSink, gst_zmq_sink, GST, ZMQ_SINK, GstBaseSink)

G_END_DECLS
