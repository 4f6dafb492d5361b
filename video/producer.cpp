#include "video/producer.h"

#include "video/framesink.h"
#include "video/heaptrim.h"
#include "video/pipelinegeneration.h"
#include "repo/sourceaddress.h"
#include "video/videologging.h"

#include <QCoreApplication>
#include <QPointer>
#include <QQmlEngine>
#include <QTimer>
#include <QVector>
#include <atomic>
#include <cstring>
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <mutex>

namespace {

const char *const kTemplate = "%1 ! decodebin ! videoconvert ! video/x-raw,format=I420 ! typefind name=typefind"
                              " ! appsink name=appsink drop=true max-buffers=1";

// Logs the element an address asks for, as the operator's notes have always shown it.
void logSource(const QString &source, const SourceAddress &address)
{
    if (!address.isValid() || address.properties().empty()) {
        qCDebug(lcProducer, "source: %s", source.toLocal8Bit().constData());
        return;
    }
    qCDebug(lcProducer, "Use %s: %s", address.element().c_str(),
            QString::fromStdString(address.properties().front().second).toLocal8Bit().constData());
}

} // namespace

class ProducerPriv
{
public:
    explicit ProducerPriv(Producer *owner) : q(owner) {}

    static void typefind_have_type(GstElement *typefind, guint probability, GstCaps *caps, gpointer user_data);
    static GstFlowReturn appsink_new_preroll(GstAppSink *appsink, gpointer user_data);
    static GstFlowReturn appsink_new_sample(GstAppSink *appsink, gpointer user_data);
    static GstBusSyncReply bus_sync_message(GstBus *bus, GstMessage *message, gpointer user_data);
    static QImage lumaOf(GstSample *sample);

    // The one hand-over from GStreamer's threads to the GUI thread (see PipelineGeneration).
    template<typename F> void handOver(unsigned reporting, F f) const
    {
        generation.handOver(q, reporting, std::move(f));
    }

    Producer *q;
    QString source;
    std::atomic<int> state{Producer::Null};
    GstElement *pipeline = nullptr;
    GstElement *typefind = nullptr;
    GstElement *appsink = nullptr;
    VideoInfo *videoInfo = nullptr;
    std::mutex consumerMutex;
    QVector<FrameSink *> consumers;

    // Frames still to be copied for grabFrames().
    std::atomic<int> grabsPending{0};
    // When the last frame arrived (g_get_monotonic_time(), microseconds).
    std::atomic<gint64> lastFrameUs{0};

    // Bumped by every start() and stop(): a "now playing" notice posted by a
    // pipeline that has since been stopped or replaced is ignored.
    PipelineGeneration generation;

    QString errorText;
    QTimer restartTimer;
    QTimer firstFrameTimer;
    // Runs while playing: checkStall().
    QTimer stallTimer;
    int stallTimeoutMs = Producer::kDefaultStallTimeoutMs;
    int retryMs = Producer::kFirstRetryMs;
};

// What the bus handler of one pipeline needs; freed with the handler.
struct BusWatch
{
    ProducerPriv *d;
    unsigned generation;
};

// Runs on whatever thread posts; only errors matter, and nothing is left queued
// on the bus (nobody pops it). A sync handler that drops a message owns it: each
// one is unreffed here, or it would keep the elements that posted it, and with
// them the whole pipeline, alive.
GstBusSyncReply ProducerPriv::bus_sync_message(GstBus *, GstMessage *message, gpointer user_data)
{
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR) {
        gst_message_unref(message);
        return GST_BUS_DROP;
    }
    const auto *watch = static_cast<const BusWatch *>(user_data);
    GError *error = nullptr;
    g_autofree gchar *debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    const QString reason = QString::fromUtf8(error ? error->message : "unknown error");
    const QString detail = QString::fromUtf8(debug ? debug : "");
    g_clear_error(&error);
    Producer *producer = watch->d->q;
    watch->d->handOver(watch->generation, [producer, reason, detail] { producer->onPipelineFailed(reason, detail); });
    gst_message_unref(message);
    return GST_BUS_DROP;
}

void ProducerPriv::typefind_have_type(GstElement *, guint, GstCaps *caps, gpointer user_data)
{
    auto *d = static_cast<ProducerPriv *>(user_data);
    GstVideoInfo info;
    gst_video_info_init(&info);
    if (!gst_video_info_from_caps(&info, caps))
        return;

    const char *format = gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info));
    const int width = GST_VIDEO_INFO_WIDTH(&info);
    const int height = GST_VIDEO_INFO_HEIGHT(&info);
    qCInfo(lcProducer, "Producer got video info:");
    qCInfo(lcProducer, "  width : %d", width);
    qCInfo(lcProducer, "  height: %d", height);
    qCInfo(lcProducer, "  format: %s", format ? format : "");
    qCInfo(lcProducer, "  desc  : %s", info.finfo && info.finfo->description ? info.finfo->description : "");

    Producer *producer = d->q;
    const QString formatName = QString::fromLatin1(format ? format : "");
    d->handOver(d->generation.current(),
                [producer, width, height, formatName] { producer->onVideoInfo(width, height, formatName); });
}

GstFlowReturn ProducerPriv::appsink_new_preroll(GstAppSink *appsink, gpointer)
{
    GstSample *sample = gst_app_sink_try_pull_preroll(appsink, 0);
    if (sample)
        gst_sample_unref(sample);
    return GST_FLOW_OK;
}

// The luma plane of an I420 sample, copied.
QImage ProducerPriv::lumaOf(GstSample *sample)
{
    GstVideoInfo info;
    GstCaps *caps = gst_sample_get_caps(sample);
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps) ||
        GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_I420)
        return {};
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ))
        return {};
    const int width = GST_VIDEO_FRAME_WIDTH(&frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    const auto *luma = static_cast<const uchar *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    QImage grey(width, height, QImage::Format_Grayscale8);
    if (!grey.isNull()) {
        for (int y = 0; y < height; ++y)
            memcpy(grey.scanLine(y), luma + size_t(y) * size_t(stride), size_t(width));
    }
    gst_video_frame_unmap(&frame);
    return grey;
}

GstFlowReturn ProducerPriv::appsink_new_sample(GstAppSink *appsink, gpointer user_data)
{
    auto *d = static_cast<ProducerPriv *>(user_data);
    GstSample *sample = gst_app_sink_try_pull_sample(appsink, 0);
    if (!sample)
        return GST_FLOW_EOS;

    d->lastFrameUs.store(g_get_monotonic_time());
    int pending = d->grabsPending.load();
    while (pending > 0 && !d->grabsPending.compare_exchange_weak(pending, pending - 1)) {
    }
    if (pending > 0) {
        const QImage grey = lumaOf(sample);
        if (!grey.isNull()) {
            Producer *producer = d->q;
            d->handOver(d->generation.current(), [producer, grey] { emit producer->frameGrabbed(grey); });
        }
    }

    if (d->state.load() != Producer::Playing) {
        Producer *producer = d->q;
        d->handOver(d->generation.current(), [producer] { producer->onFirstFrame(); });
    }

    std::lock_guard<std::mutex> lock(d->consumerMutex);
    for (int i = 0; i < d->consumers.size(); ++i) {
        FrameSink *consumer = d->consumers.at(i);
        if (!consumer->isWaitingForData())
            continue;
        // A new reference: a consumer that stops meanwhile releases its own,
        // and pushing into a stopping app source is harmless.
        GstAppSrc *appsrc = consumer->appSrcRef();
        if (!appsrc)
            continue;
        if (i == 0) {
            gst_app_src_push_sample(appsrc, sample);
        } else {
            GstSample *copy = gst_sample_copy(sample);
            GstFlowReturn ret = gst_app_src_push_sample(appsrc, copy);
            if (ret != GST_FLOW_OK)
                qCWarning(lcProducer, "push sample return: %d instead of OK", ret);
            gst_sample_unref(copy);
        }
        gst_object_unref(appsrc);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

Producer::Producer(QObject *parent) : QObject(parent), d(new ProducerPriv(this))
{
    d->videoInfo = new VideoInfo();
    QQmlEngine::setObjectOwnership(d->videoInfo, QQmlEngine::CppOwnership);
    d->restartTimer.setSingleShot(true);
    connect(&d->restartTimer, &QTimer::timeout, this, &Producer::buildPipeline);
    d->firstFrameTimer.setSingleShot(true);
    d->firstFrameTimer.setInterval(kDefaultFirstFrameTimeoutMs);
    connect(&d->firstFrameTimer, &QTimer::timeout, this, [this] {
        onPipelineFailed(tr("nothing that decodes arrived within %1 s").arg(d->firstFrameTimer.interval() / 1000.0),
                         QString());
    });
    connect(&d->stallTimer, &QTimer::timeout, this, &Producer::checkStall);
    setStallTimeout(kDefaultStallTimeoutMs);
}

int Producer::stallTimeout() const
{
    return d->stallTimeoutMs;
}

void Producer::setStallTimeout(int milliseconds)
{
    d->stallTimeoutMs = qMax(1, milliseconds);
    d->stallTimer.setInterval(qBound(1, d->stallTimeoutMs / 4, 500));
}

int Producer::firstFrameTimeout() const
{
    return d->firstFrameTimer.interval();
}

void Producer::setFirstFrameTimeout(int milliseconds)
{
    d->firstFrameTimer.setInterval(milliseconds);
}

Producer::~Producer()
{
    // The callbacks receive the private part: the pipeline is stopped (which
    // joins its streaming threads) before anything goes.
    releasePipeline();

    QVector<FrameSink *> consumers;
    {
        std::lock_guard<std::mutex> lock(d->consumerMutex);
        consumers.swap(d->consumers);
    }
    for (FrameSink *consumer : consumers)
        consumer->detachFromProducer(this);

    delete d->videoInfo;
    delete d;
}

QString Producer::source() const
{
    return d->source;
}

void Producer::setSource(const QString &source)
{
    if (d->source == source)
        return;
    d->source = source;
    emit sourceChanged();
}

Producer::ProducerState Producer::state() const
{
    return static_cast<ProducerState>(d->state.load());
}

void Producer::setState(ProducerState state)
{
    if (d->state.load() == state)
        return;
    d->state.store(state);
    emit stateChanged();
}

VideoInfo *Producer::videoInfo() const
{
    return d->videoInfo;
}

QString Producer::errorText() const
{
    return d->errorText;
}

void Producer::setErrorText(const QString &text)
{
    if (d->errorText == text)
        return;
    d->errorText = text;
    emit errorTextChanged();
}

GstElement *Producer::pipeline() const
{
    return d->pipeline;
}

void Producer::releasePipeline()
{
    d->firstFrameTimer.stop();
    d->stallTimer.stop();
    d->generation.next();
    if (!d->pipeline)
        return;
    gst_element_set_state(d->pipeline, GST_STATE_NULL);
    GstBus *bus = gst_element_get_bus(d->pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(d->pipeline);
    d->pipeline = nullptr;
    d->typefind = nullptr;
    d->appsink = nullptr;
    HeapTrim::schedule();
}

bool Producer::start()
{
    d->restartTimer.stop();
    d->retryMs = kFirstRetryMs;
    setErrorText(QString());
    buildPipeline();
    return true;
}

void Producer::buildPipeline()
{
    // A pipeline from an earlier start() is stopped and released first: its
    // callbacks share the private part with the new one.
    releasePipeline();

    const SourceAddress address = SourceAddress::parse(d->source.toStdString());
    logSource(d->source, address);
    GstElement *pipeline = nullptr;
    if (!address.isValid()) {
        reportBuildError(QString::fromStdString(address.error()));
    } else {
        // Only the factory and a fixed name go into the text; the values from the
        // address are set as properties below, so no address can add or change
        // elements.
        const QByteArray line = QString::fromLatin1(kTemplate)
                                    .arg(QString::fromStdString(address.element()) + QLatin1String(" name=source"))
                                    .toUtf8();
        GError *error = nullptr;
        pipeline = gst_parse_launch(line.constData(), &error);
        if (error) {
            reportBuildError(QString::fromUtf8(error->message));
            g_error_free(error);
            if (pipeline) {
                gst_object_unref(pipeline);
                pipeline = nullptr;
            }
        }
    }

    if (pipeline) {
        gst_object_ref_sink(pipeline);
        d->pipeline = pipeline;
        GstElement *src = gst_bin_get_by_name(GST_BIN(pipeline), "source");
        if (src) {
            if (address.isLive()) {
                if (g_object_class_find_property(G_OBJECT_GET_CLASS(src), "is-live"))
                    g_object_set(src, "is-live", TRUE, nullptr);
                // Frames of a live network source are handed on as soon as they
                // are decoded: waiting for the clock would only add the
                // demuxer's and decoder's latency (most of a second for MPEG-TS).
                GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "appsink");
                if (sink) {
                    g_object_set(sink, "sync", FALSE, nullptr);
                    gst_object_unref(sink);
                }
            }
            for (const SourceAddress::Property &property : address.properties())
                g_object_set(src, property.first.c_str(), property.second.c_str(), nullptr);
            gst_object_unref(src);
        }

        // The pipeline holds the elements; the stored references are borrowed.
        d->typefind = gst_bin_get_by_name(GST_BIN(pipeline), "typefind");
        if (d->typefind) {
            g_signal_connect(d->typefind, "have-type", G_CALLBACK(ProducerPriv::typefind_have_type), d);
            gst_object_unref(d->typefind);
        }
        d->appsink = gst_bin_get_by_name(GST_BIN(pipeline), "appsink");
        if (d->appsink) {
            GstAppSinkCallbacks callbacks = {};
            callbacks.new_preroll = ProducerPriv::appsink_new_preroll;
            callbacks.new_sample = ProducerPriv::appsink_new_sample;
            gst_app_sink_set_callbacks(GST_APP_SINK(d->appsink), &callbacks, d, nullptr);
            gst_object_unref(d->appsink);
        }

        GstBus *bus = gst_element_get_bus(pipeline);
        gst_bus_set_sync_handler(bus, ProducerPriv::bus_sync_message, new BusWatch{d, d->generation.current()},
                                 [](gpointer data) { delete static_cast<BusWatch *>(data); });
        gst_object_unref(bus);
    }

    setState(Ready);
    if (!d->pipeline)
        return;
    d->firstFrameTimer.start();
    // A failure to start also posts an error, which schedules the next try.
    if (gst_element_set_state(d->pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        qCWarning(lcProducer, "the pipeline for source \"%s\" did not start", d->source.toLocal8Bit().constData());
}

void Producer::reportBuildError(const QString &message)
{
    // Reported as the operation the caller asked for, also when a retry builds it.
    qCWarning(lcProducer, "At: %s", "bool Producer::start()");
    qCWarning(lcProducer, "  Error: %s", qUtf8Printable(message));
    qCWarning(lcProducer, "  Source: %s", d->source.toLocal8Bit().constData());
    setErrorText(tr("No picture: %1").arg(message));
}

void Producer::stop()
{
    d->restartTimer.stop();
    d->firstFrameTimer.stop();
    d->stallTimer.stop();
    if (d->pipeline)
        gst_element_set_state(d->pipeline, GST_STATE_NULL);
    d->generation.next();
    setState(Null);
    setErrorText(QString());
}

void Producer::onFirstFrame()
{
    d->firstFrameTimer.stop();
    d->retryMs = kFirstRetryMs;
    if (!d->errorText.isEmpty())
        qCInfo(lcProducer, "Video source \"%s\" sends frames again", qUtf8Printable(d->source));
    setErrorText(QString());
    setState(Playing);
    d->stallTimer.start();
}

void Producer::checkStall()
{
    if (state() != Playing)
        return;
    const gint64 quietMs = (g_get_monotonic_time() - d->lastFrameUs.load()) / 1000;
    if (quietMs < d->stallTimeoutMs)
        return;
    d->stallTimer.stop();
    qCWarning(lcProducer, "Video source \"%s\" stopped: no frame for %lld ms", qUtf8Printable(d->source),
              static_cast<long long>(quietMs));
    // Ready: the next frame is a first frame again, which clears the text.
    setState(Ready);
    setErrorText(tr("Source stopped: no new picture for %1 s; the last one received is shown")
                     .arg(QString::number(quietMs / 1000.0, 'f', 1)));
}

void Producer::grabFrames(int count)
{
    d->grabsPending.store(qMax(0, count));
}

void Producer::onVideoInfo(int width, int height, const QString &format)
{
    d->videoInfo->setWidth(width);
    d->videoInfo->setHeight(height);
    d->videoInfo->setFormat(format);
    emit videoInfoChanged();
}

void Producer::onPipelineFailed(const QString &reason, const QString &detail)
{
    if (!d->pipeline)
        return;
    const int waitMs = d->retryMs;
    d->retryMs = qMin(waitMs * 2, kMaxRetryMs);
    qCWarning(lcProducer, "Video source \"%s\" failed: %s; trying again in %d ms", qUtf8Printable(d->source),
              qUtf8Printable(reason), waitMs);
    if (!detail.isEmpty())
        qCDebug(lcProducer, "  %s", qUtf8Printable(detail));
    releasePipeline();
    setState(Ready);
    setErrorText(tr("No picture: %1\nTrying again in %2 s").arg(reason).arg(waitMs / 1000));
    d->restartTimer.start(waitMs);
}

void Producer::registerConsumer(FrameSink *consumer)
{
    if (!consumer)
        return;
    qCDebug(lcProducer, "Registering consumer: %s", consumer->sinkName().toLocal8Bit().constData());
    std::lock_guard<std::mutex> lock(d->consumerMutex);
    d->consumers.append(consumer);
}

void Producer::unregisterConsumer(FrameSink *consumer)
{
    if (!consumer)
        return;
    qCDebug(lcProducer, "UnRegistering consumer: %s", consumer->sinkName().toLocal8Bit().constData());
    std::lock_guard<std::mutex> lock(d->consumerMutex);
    d->consumers.removeOne(consumer);
}
