#pragma once

#include <QVector>
#include <gst/gst.h>
#include <memory>

// What reaches the app sources of consumers' pipelines, seen from outside the producer: a buffer probe
// on the source pad of the element named "appsrc" records each buffer that leaves it (its address and
// time stamp), with the sink it was attached for. The probes carry a share of the record, so a
// pipeline may outlive this object and this object its pipelines. Thread-safe.
class AppSrcProbe
{
public:
    struct Entry
    {
        const void *sink; // compared by address only
        const GstBuffer *buffer;
        GstClockTime pts;
    };

    AppSrcProbe();
    ~AppSrcProbe();
    AppSrcProbe(const AppSrcProbe &) = delete;
    AppSrcProbe &operator=(const AppSrcProbe &) = delete;

    // Watches the app source of pipeline for sink; true once it watches (now or from an earlier call),
    // false while there is no pipeline or it has no app source.
    bool attach(const void *sink, GstElement *pipeline);

    // Buffers seen for sink, or for every sink.
    int count(const void *sink) const;
    int total() const;
    QVector<Entry> entries() const;
    void clear();

    // What the probes write to; each holds a share.
    struct Record;

private:
    std::shared_ptr<Record> m_record;
};
