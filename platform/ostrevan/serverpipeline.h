#pragma once

#include <QMetaObject>
#include <QPointer>
#include <gst/gst.h>

// What every pipeline the server builds goes through: its bus handed to its owner, and its release.

// Hands the messages of pipeline's bus whose type is one of types to (owner->*handle)(generation,
// message) on the owner's thread, queued; the generation lets the owner ignore those of a pipeline it
// has since replaced. Every message is dropped from the bus (nobody pops it). The owner outlives the
// pipeline's streaming threads (releasePipeline() joins them); one that went meanwhile gets nothing.
template<typename Owner>
void forwardBusMessages(GstElement *pipeline, Owner *owner, quint64 generation, GstMessageType types,
                        void (Owner::*handle)(quint64, GstMessage *))
{
    struct Forward
    {
        QPointer<Owner> owner;
        quint64 generation;
        GstMessageType types;
        void (Owner::*handle)(quint64, GstMessage *);
    };
    GstBus *bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(
        bus,
        [](GstBus *, GstMessage *message, gpointer data) -> GstBusSyncReply {
            const auto *forward = static_cast<const Forward *>(data);
            QPointer<Owner> owner = forward->owner;
            if ((GST_MESSAGE_TYPE(message) & forward->types) && owner) {
                const quint64 generation = forward->generation;
                const auto handle = forward->handle;
                gst_message_ref(message);
                QMetaObject::invokeMethod(
                    owner.data(),
                    [owner, generation, handle, message] {
                        if (owner)
                            (owner.data()->*handle)(generation, message);
                        gst_message_unref(message);
                    },
                    Qt::QueuedConnection);
            }
            // Dropping a message hands its reference to this handler.
            gst_message_unref(message);
            return GST_BUS_DROP;
        },
        new Forward{owner, generation, types, handle}, [](gpointer data) { delete static_cast<Forward *>(data); });
    gst_object_unref(bus);
}

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
