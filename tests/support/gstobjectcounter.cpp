#include "gstobjectcounter.h"

#include <atomic>
#include <gst/gst.h>

namespace {
std::atomic<long> g_live{0};
GstTracer *g_tracer = nullptr;

struct QuillonObjectCounter
{
    GstTracer parent;
};

struct QuillonObjectCounterClass
{
    GstTracerClass parent_class;
};

G_DEFINE_TYPE(QuillonObjectCounter, quillon_object_counter, GST_TYPE_TRACER)

void objectCreated(GObject *, GstClockTime, GstObject *)
{
    ++g_live;
}

void objectDestroyed(GObject *, GstClockTime, GstObject *)
{
    --g_live;
}

void quillon_object_counter_class_init(QuillonObjectCounterClass *) {}

void quillon_object_counter_init(QuillonObjectCounter *self)
{
    gst_tracing_register_hook(GST_TRACER(self), "object-created", G_CALLBACK(objectCreated));
    gst_tracing_register_hook(GST_TRACER(self), "object-destroyed", G_CALLBACK(objectDestroyed));
}
} // namespace

void GstObjectCounter::install()
{
    if (g_tracer)
        return;
    g_tracer = GST_TRACER(g_object_new(quillon_object_counter_get_type(), nullptr));
    gst_object_ref_sink(g_tracer);
    // The tracer's own creation went by before its hooks were in place.
    g_live = 0;
}

long GstObjectCounter::live()
{
    return g_tracer ? g_live.load() : -1;
}
