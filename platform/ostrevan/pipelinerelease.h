#pragma once

#include <gst/gst.h>

// Stops a pipeline the server built and lets it go: NULL joins its streaming threads, so nothing
// runs on them afterwards, and the bus's sync handler goes before the last reference. Leaves
// pipeline null; does nothing where it is null already.
inline void releasePipeline(GstElement *&pipeline)
{
    if (!pipeline)
        return;
    gst_element_set_state(pipeline, GST_STATE_NULL);
    GstBus *bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(pipeline);
    pipeline = nullptr;
}
