#pragma once

#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_ZMQ_SRC (gst_zmq_src_get_type())
G_DECLARE_FINAL_TYPE(GstZmqSrc, gst_zmq_src, GST, ZMQ_SRC, GstPushSrc)

G_END_DECLS
