#include "support/appsrcprobe.h"

#include <algorithm>
#include <mutex>

struct AppSrcProbe::Record
{
    std::mutex mutex;
    QVector<Entry> entries;
};

namespace {

// What one probe holds: the record it writes to and the sink it writes for.
struct ProbeData
{
    std::shared_ptr<AppSrcProbe::Record> record;
    const void *sink;
};

const char kTag[] = "quillon-test-appsrc-probe";

} // namespace

AppSrcProbe::AppSrcProbe() : m_record(std::make_shared<Record>()) {}

AppSrcProbe::~AppSrcProbe() = default;

bool AppSrcProbe::attach(const void *sink, GstElement *pipeline)
{
    if (!pipeline || !GST_IS_BIN(pipeline))
        return false;
    GstElement *appsrc = gst_bin_get_by_name(GST_BIN(pipeline), "appsrc");
    if (!appsrc)
        return false;
    // The element remembers whose record it feeds, so that a new pipeline at the address of an old one
    // is still watched and one pipeline only once.
    bool attached = g_object_get_data(G_OBJECT(appsrc), kTag) == m_record.get();
    GstPad *pad = attached ? nullptr : gst_element_get_static_pad(appsrc, "src");
    if (pad) {
        auto *data = new ProbeData{m_record, sink};
        gst_pad_add_probe(
            pad, GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad *, GstPadProbeInfo *info, gpointer user_data) {
                const auto *data = static_cast<const ProbeData *>(user_data);
                const GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
                std::lock_guard<std::mutex> lock(data->record->mutex);
                data->record->entries.append({data->sink, buffer, GST_BUFFER_PTS(buffer)});
                return GST_PAD_PROBE_OK;
            },
            data, [](gpointer user_data) { delete static_cast<ProbeData *>(user_data); });
        g_object_set_data(G_OBJECT(appsrc), kTag, m_record.get());
        gst_object_unref(pad);
        attached = true;
    }
    gst_object_unref(appsrc);
    return attached;
}

int AppSrcProbe::count(const void *sink) const
{
    std::lock_guard<std::mutex> lock(m_record->mutex);
    return int(std::count_if(m_record->entries.begin(), m_record->entries.end(),
                             [sink](const Entry &entry) { return entry.sink == sink; }));
}

int AppSrcProbe::total() const
{
    std::lock_guard<std::mutex> lock(m_record->mutex);
    return m_record->entries.size();
}

QVector<AppSrcProbe::Entry> AppSrcProbe::entries() const
{
    std::lock_guard<std::mutex> lock(m_record->mutex);
    return m_record->entries;
}

void AppSrcProbe::clear()
{
    std::lock_guard<std::mutex> lock(m_record->mutex);
    m_record->entries.clear();
}
