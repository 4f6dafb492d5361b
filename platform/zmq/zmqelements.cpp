#include "platform/zmq/zmqelements.h"

#include "platform/zmq/gstzmqsink.h"
#include "platform/zmq/gstzmqsrc.h"

gboolean quillon_zmq_plugin_init(GstPlugin *plugin)
{
    return gst_element_register(plugin, "zmqsrc", GST_RANK_NONE, GST_TYPE_ZMQ_SRC) &&
           gst_element_register(plugin, "zmqsink", GST_RANK_NONE, GST_TYPE_ZMQ_SINK);
}

gboolean quillon_zmq_register_static()
{
    return gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "quillonzmq",
                                      "ZeroMQ source and sink elements", quillon_zmq_plugin_init, "0.1", "Proprietary",
                                      "quillon", "Quillon", "https://quillon.invalid/");
}
