#pragma once

#include <gst/gst.h>

// Registers zmqsrc and zmqsink with a plug-in. Used both by the loadable plug-in
// library (gstquillonzmq) and by programs that register the elements statically.
gboolean quillon_zmq_plugin_init(GstPlugin *plugin);

// Registers the plug-in "quillonzmq" with the running GStreamer, without any
// plug-in path; call after gst_init(). Returns false when registration fails.
gboolean quillon_zmq_register_static();
