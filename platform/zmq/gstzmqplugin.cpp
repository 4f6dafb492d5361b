// The loadable plug-in library: gst-inspect-1.0 and gst-launch-1.0 find it
// through GST_PLUGIN_PATH.
#include "platform/zmq/zmqelements.h"

static gboolean plugin_init(GstPlugin *plugin)
{
    return quillon_zmq_plugin_init(plugin);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, quillonzmq, "ZeroMQ source and sink elements", plugin_init,
                  "0.1", "Proprietary", "quillon", "https://quillon.invalid/")
