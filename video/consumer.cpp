#include "video/consumer.h"

#include "defish/defishfilter.h"
#include "defish/defishremap.h"
#include "video/heaptrim.h"
#include "video/pipelinegeneration.h"
#include "video/producer.h"
#include "video/videologging.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <cstring>
#include <gst/app/gstappsrc.h>
#include <gst/gl/gstglmemory.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <memory>
#include <mutex>

namespace {
const char *const kHead = "appsrc name=appsrc is-live=true format=time ! queue name=q ! glupload ! glcolorconvert";
const char *const kRgba = " ! video/x-raw(memory:GLMemory),format=RGBA";
const char *const kTee = " ! tee name=t t. ! queue name=qdefish";
const char *const kShader = " ! glshader name=defish";
// The sinks show each frame as it comes: the producer paces them (a file at its frame rate, a live source
// as it sends). Frames keep the producer's timestamps, so a sink that waited for them would show nothing
// for as long as the producer had run before this pipeline started.
const char *const kSink = " ! qmlglsink name=qmlglsink sync=false";
const char *const kRawBranch = " t. ! queue name=qraw ! qmlglsink name=rawsink sync=false";
// On the lookup path both panes are drawn on the one streaming thread that uploads the frame (each
// draw is small, and a queue's thread hand-over per pane cost more than the draws). The sinks then
// must not hold that thread in preroll until the pipeline plays: async=false lets it play without
// waiting for a frame in every sink.
const char *const kLookupTee = " ! tee name=t t.";
const char *const kLookupDefish = " ! quillondefish name=defish ! capsfilter name=size";
const char *const kLookupSink = " ! qmlglsink name=qmlglsink sync=false async=false";
const char *const kLookupRaw = " t. ! quillondefish name=raw defish=false ! capsfilter name=rawsize"
                               " ! qmlglsink name=rawsink sync=false async=false";
// On the CPU path the frame stays in memory: each pane is dewarped or scaled down to its size on the
// CPU, on a thread of its own, and only that small picture goes up to GL.
const char *const kCpuHead = "appsrc name=appsrc is-live=true format=time ! queue name=q ! tee name=t";
const char *const kCpuDefish = " t. ! queue name=qdefish max-size-buffers=2 leaky=downstream ! quillonremap name=defish"
                               " ! capsfilter name=size ! glupload ! glcolorconvert"
                               " ! qmlglsink name=qmlglsink sync=false async=false";
const char *const kCpuRaw = " t. ! queue name=qraw max-size-buffers=2 leaky=downstream ! quillonremap name=raw defish=false"
                            " ! capsfilter name=rawsize ! glupload ! glcolorconvert"
                            " ! qmlglsink name=rawsink sync=false async=false";
// The queues whose streaming threads enter the GL elements, upstream first.
const char *const kQueues[] = {"q", "qdefish", "qraw"};

// The size to draw a frameWidth x frameHeight picture at in item, keeping the frame's shape (the
// item shows it letterboxed, as it would the full frame); empty while either size is unknown.
QSize drawingSize(QQuickItem *item, int frameWidth, int frameHeight)
{
    if (!item || frameWidth <= 0 || frameHeight <= 0 || item->width() < 1 || item->height() < 1)
        return {};
    const qreal dpr = item->window() ? item->window()->effectiveDevicePixelRatio() : 1.0;
    const qreal scale = qMin(item->width() * dpr / frameWidth, item->height() * dpr / frameHeight);
    return {qMax(1, qRound(frameWidth * scale)), qMax(1, qRound(frameHeight * scale))};
}

// Which way a dewarping pipeline goes, with the log line saying why: the lookup element where GL runs
// it on a GPU, the CPU where GL draws in software (uploading whole frames there costs more than
// dewarping pane-sized pictures on the CPU), the plain shader where the lookup element does not run.
// QUILLON_DEFISH_PATH=lookup, cpu or shader picks one.
Consumer::DewarpPath choosePath(const QString &name)
{
    const QByteArray forced = qgetenv("QUILLON_DEFISH_PATH");
    if (forced == "shader") {
        qCInfo(lcConsumer, "%s: dewarping with the plain shader at the frame's size (QUILLON_DEFISH_PATH=shader)",
               qUtf8Printable(name));
        return Consumer::ShaderPath;
    }
    if (forced == "cpu" && DefishRemap::registerElement()) {
        qCInfo(lcConsumer, "%s: dewarping on the CPU at the pane's size (QUILLON_DEFISH_PATH=cpu)",
               qUtf8Printable(name));
        return Consumer::CpuPath;
    }
    QString why;
    if (!DefishFilter::works(&why)) {
        qCWarning(lcConsumer,
                  "%s: dewarping with the plain shader at the frame's size: the lookup element does not "
                  "run here: %s",
                  qUtf8Printable(name), qUtf8Printable(why));
        return Consumer::ShaderPath;
    }
    const QString renderer = DefishFilter::renderer();
    if (forced != "lookup" && DefishFilter::isSoftwareRenderer(renderer) && DefishRemap::registerElement()) {
        qCInfo(lcConsumer, "%s: dewarping on the CPU at the pane's size: GL draws in software here (%s)",
               qUtf8Printable(name), qUtf8Printable(renderer));
        return Consumer::CpuPath;
    }
    qCInfo(lcConsumer, "%s: dewarping through the lookup texture at the pane's size", qUtf8Printable(name));
    return Consumer::LookupPath;
}

// Stops a queue's streaming thread before the GL elements go down.
//
// The GL elements set up their contexts and buffer pools while the first caps and
// the allocation query pass through them, on the queue's thread. A pipeline goes
// to NULL from the sink upwards, so the sink gives up its GL context before the
// queue's thread is stopped; were the thread still in that set-up, a buffer pool
// would get a null context and GStreamer GL aborts. On a loaded machine with a
// cold shader cache the set-up takes seconds. A flush wakes the thread from any
// clock or preroll wait in the sink; stopping the queue then waits, however long,
// for whatever it still does in the GL elements.
void stopGlStreamingThread(GstElement *queue)
{
    GstPad *src = gst_element_get_static_pad(queue, "src");
    if (src) {
        gst_pad_push_event(src, gst_event_new_flush_start());
        gst_object_unref(src);
    }
    gst_element_set_state(queue, GST_STATE_NULL);
}
} // namespace

class ConsumerPriv
{
public:
    explicit ConsumerPriv(Consumer *owner) : q(owner) {}

    static void appsrc_need_data(GstAppSrc *appsrc, guint length, gpointer user_data);
    static void appsrc_enough_data(GstAppSrc *appsrc, gpointer user_data);

    void setWaitingForData(bool waiting);

    // The one hand-over from GStreamer's threads to the GUI thread (see PipelineGeneration).
    template<typename F> void handOver(unsigned reporting, F f) const
    {
        generation.handOver(q, reporting, std::move(f));
    }

    Consumer *q;
    QString name;
    std::atomic<int> state{Consumer::Null};
    QPointer<Producer> producer;
    QPointer<QQuickItem> widget;
    GstElement *pipeline = nullptr;
    // Read by the producer's streaming thread: guarded by appsrcMutex.
    mutable std::mutex appsrcMutex;
    GstAppSrc *appsrc = nullptr;
    // Borrowed: the pipeline holds them.
    GstElement *defish = nullptr; // glshader or quillondefish
    GstElement *qmlglsink = nullptr;
    GstElement *rawsink = nullptr;
    GstElement *size = nullptr;
    GstElement *rawSize = nullptr;
    QSize sizeSet;
    QSize rawSizeSet;
    QSize pictureSize;
    QTimer resizeTimer;
    QList<QMetaObject::Connection> itemConnections;
    bool usesLookup = false;
    Consumer::DewarpPath path = Consumer::ShaderPath;
    QPointer<QQuickItem> rawWidget;
    VideoInfo *videoInfo = nullptr;
    bool startPending = false;
    QMetaObject::Connection producerStateConnection;
    QMetaObject::Connection producerVideoInfoConnection;
    bool useShader = false;
    QString shader;
    // Read by the producer's fan-out on its streaming thread.
    std::atomic<bool> isWaitingForData{false};
    // Bumped whenever the pipeline is released: notices of an earlier one are dropped.
    PipelineGeneration generation;
};

// Called on the app source's threads. The flag changes at once, for the fan-out;
// the signal is handed over.
void ConsumerPriv::setWaitingForData(bool waiting)
{
    bool expected = !waiting;
    if (!isWaitingForData.compare_exchange_strong(expected, waiting))
        return;
    Consumer *consumer = q;
    handOver(generation.current(), [consumer] { emit consumer->isWaitingForDataChanged(); });
}

void ConsumerPriv::appsrc_need_data(GstAppSrc *, guint, gpointer user_data)
{
    static_cast<ConsumerPriv *>(user_data)->setWaitingForData(true);
}

void ConsumerPriv::appsrc_enough_data(GstAppSrc *, gpointer user_data)
{
    qCDebug(lcConsumer, "%s enter", "static void ConsumerPriv::appsrc_enough_data(GstAppSrc*, gpointer)");
    static_cast<ConsumerPriv *>(user_data)->setWaitingForData(false);
}

Consumer::Consumer(QObject *parent) : QObject(parent), d(new ConsumerPriv(this))
{
    d->videoInfo = new VideoInfo();
    QQmlEngine::setObjectOwnership(d->videoInfo, QQmlEngine::CppOwnership);
    // A resize redraws at the new size once the item has settled, not at every step of a drag.
    d->resizeTimer.setSingleShot(true);
    d->resizeTimer.setInterval(120);
    connect(&d->resizeTimer, &QTimer::timeout, this, &Consumer::updateOutputSizes);
}

Consumer::~Consumer()
{
    // Unregistering waits for a frame being handed out; after it the producer
    // never reaches this consumer again. Then the pipeline goes, which joins the
    // app source's thread, and only then the private part.
    if (d->producer) {
        QObject::disconnect(d->producerStateConnection);
        QObject::disconnect(d->producerVideoInfoConnection);
        d->producer->unregisterConsumer(this);
        d->producer = nullptr;
    }
    releasePipeline();
    delete d->videoInfo;
    delete d;
}

QString Consumer::name() const
{
    return d->name;
}

void Consumer::setName(const QString &name)
{
    if (d->name == name)
        return;
    d->name = name;
    emit nameChanged();
}

Consumer::ConsumerState Consumer::state() const
{
    return static_cast<ConsumerState>(d->state.load());
}

void Consumer::setState(ConsumerState state)
{
    if (d->state.load() == state)
        return;
    d->state.store(state);
    emit stateChanged();
}

Producer *Consumer::producer() const
{
    return d->producer;
}

void Consumer::setProducer(Producer *producer)
{
    if (d->producer == producer)
        return;
    QObject::disconnect(d->producerStateConnection);
    QObject::disconnect(d->producerVideoInfoConnection);
    d->producerStateConnection = {};
    d->producerVideoInfoConnection = {};
    if (d->producer)
        d->producer->unregisterConsumer(this);
    if (producer) {
        producer->registerConsumer(this);
        d->producerStateConnection =
            connect(producer, &Producer::stateChanged, this, &Consumer::onProducerStateChanged);
        d->producerVideoInfoConnection =
            connect(producer, &Producer::videoInfoChanged, this, &Consumer::onProducerVideoInfoChanged);
    }
    d->producer = producer;
    emit producerChanged();
}

void Consumer::detachFromProducer(Producer *producer)
{
    if (d->producer != producer && d->producer)
        return;
    QObject::disconnect(d->producerStateConnection);
    QObject::disconnect(d->producerVideoInfoConnection);
    d->producerStateConnection = {};
    d->producerVideoInfoConnection = {};
    d->producer = nullptr;
    emit producerChanged();
}

QQuickItem *Consumer::widget() const
{
    return d->widget;
}

void Consumer::setWidget(QQuickItem *widget)
{
    if (d->widget == widget)
        return;
    d->widget = widget;
    emit widgetChanged();
}

VideoInfo *Consumer::videoInfo() const
{
    return d->videoInfo;
}

void Consumer::setVideoInfo(VideoInfo *)
{
    // The consumer's VideoInfo is its own; writes are ignored.
}

bool Consumer::useShader() const
{
    return d->useShader;
}

void Consumer::setUseShader(bool useShader)
{
    if (d->useShader == useShader)
        return;
    d->useShader = useShader;
    emit useShaderChanged();
}

QString Consumer::shader() const
{
    return d->shader;
}

void Consumer::setShader(const QString &shader)
{
    if (d->shader == shader)
        return;
    d->shader = shader;
    emit shaderChanged();
}

QQuickItem *Consumer::rawWidget() const
{
    return d->rawWidget;
}

void Consumer::setRawWidget(QQuickItem *widget)
{
    if (d->rawWidget == widget)
        return;
    d->rawWidget = widget;
    emit rawWidgetChanged();
}

bool Consumer::usesLookup() const
{
    return d->usesLookup;
}

bool Consumer::isWaitingForData() const
{
    return d->isWaitingForData.load();
}

GstAppSrc *Consumer::appSrcRef() const
{
    std::lock_guard<std::mutex> lock(d->appsrcMutex);
    return d->appsrc ? GST_APP_SRC(gst_object_ref(d->appsrc)) : nullptr;
}

GstElement *Consumer::pipeline() const
{
    return d->pipeline;
}

QString Consumer::cpuLaunchLine(bool raw)
{
    QString line = QLatin1String(kCpuHead) + QLatin1String(kCpuDefish);
    return raw ? line + QLatin1String(kCpuRaw) : line;
}

Consumer::DewarpPath Consumer::dewarpPath() const
{
    return d->path;
}

QString Consumer::launchLine(bool useShader, bool lookup, bool raw)
{
    QString line = QString::fromLatin1(kHead);
    if (useShader && lookup) {
        line += QLatin1String(kLookupTee) + QLatin1String(kLookupDefish) + QLatin1String(kLookupSink);
        return raw ? line + QLatin1String(kLookupRaw) : line;
    }
    line += QLatin1String(kRgba);
    if (raw)
        line += QLatin1String(kTee);
    if (useShader)
        line += QLatin1String(kShader);
    line += QLatin1String(kSink);
    return raw ? line + QLatin1String(kRawBranch) : line;
}

bool Consumer::start()
{
    if (!d->producer) {
        qCWarning(lcConsumer, "At: %s", Q_FUNC_INFO);
        qCWarning(lcConsumer, "  Error: consumer \"%s\" has no producer", d->name.toLocal8Bit().constData());
        return false;
    }
    qCDebug(lcConsumer, "Creating pipeline for: %s", d->name.toLocal8Bit().constData());

    // A second start() replaces the running pipeline.
    releasePipeline();

    d->path = d->useShader ? choosePath(d->name) : ShaderPath;
    const bool lookup = d->path == LookupPath;
    if (d->usesLookup != lookup) {
        d->usesLookup = lookup;
        emit usesLookupChanged();
    }
    const QByteArray line = (d->path == CpuPath ? cpuLaunchLine(!d->rawWidget.isNull())
                                                : launchLine(d->useShader, lookup, !d->rawWidget.isNull()))
                                .toLatin1();
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(line.constData(), &error);
    if (error) {
        qCWarning(lcConsumer, "display pipeline of \"%s\" does not parse: %s", d->name.toLocal8Bit().constData(),
                  error->message);
        g_error_free(error);
        if (pipeline) {
            gst_object_unref(pipeline);
            pipeline = nullptr;
        }
    }
    if (pipeline) {
        gst_object_ref_sink(pipeline);
        d->pipeline = pipeline;

        GstElement *appsrc = gst_bin_get_by_name(GST_BIN(pipeline), "appsrc");
        if (appsrc) {
            GstAppSrcCallbacks callbacks = {};
            callbacks.need_data = ConsumerPriv::appsrc_need_data;
            callbacks.enough_data = ConsumerPriv::appsrc_enough_data;
            gst_app_src_set_callbacks(GST_APP_SRC(appsrc), &callbacks, d, nullptr);
            std::lock_guard<std::mutex> lock(d->appsrcMutex);
            d->appsrc = GST_APP_SRC(appsrc); // keeps the reference from the lookup
        }
        const auto borrowed = [pipeline](const char *name) {
            GstElement *element = gst_bin_get_by_name(GST_BIN(pipeline), name);
            if (element)
                gst_object_unref(element);
            return element;
        };
        d->defish = borrowed("defish");
        d->qmlglsink = borrowed("qmlglsink");
        d->rawsink = borrowed("rawsink");
        d->size = borrowed("size");
        d->rawSize = borrowed("rawsize");
        for (QQuickItem *item : {d->widget.data(), d->rawWidget.data()}) {
            if (!item || !(d->size || d->rawSize))
                continue;
            const auto schedule = [this] { d->resizeTimer.start(); };
            d->itemConnections << connect(item, &QQuickItem::widthChanged, this, schedule)
                               << connect(item, &QQuickItem::heightChanged, this, schedule);
        }
    }

    setState(Ready);
    startPlaying();
    return true;
}

void Consumer::startPlaying()
{
    if (!d->pipeline)
        return;
    if (d->defish && d->path == ShaderPath)
        g_object_set(d->defish, "fragment", d->shader.toLocal8Bit().constData(), nullptr);
    if (d->qmlglsink)
        g_object_set(d->qmlglsink, "widget", static_cast<gpointer>(d->widget.data()), nullptr);
    if (d->rawsink)
        g_object_set(d->rawsink, "widget", static_cast<gpointer>(d->rawWidget.data()), nullptr);
    updateOutputSizes();

    VideoInfo *info = d->producer ? d->producer->videoInfo() : nullptr;
    if (info && info->width() != 0 && info->height() != 0) {
        if (d->startPending) {
            qCInfo(lcConsumer, "%s: Received producer's videoInfo, startPlaying ...",
                   d->name.toLocal8Bit().constData());
            d->startPending = false;
        }
        if (gst_element_set_state(d->pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
            qCWarning(lcConsumer, "display pipeline of \"%s\" did not start", d->name.toLocal8Bit().constData());
        // Started on a producer that already plays: no state change of the producer will tell.
        onProducerStateChanged();
    } else {
        qCInfo(lcConsumer, "Producer has no videoInfo!");
        qCInfo(lcConsumer, "%s: Scheduled startPlaying after receiving producer's videoInfo",
               d->name.toLocal8Bit().constData());
        d->startPending = true;
    }
}

void Consumer::onProducerVideoInfoChanged()
{
    qCDebug(lcConsumer, "Update caps: %s", d->name.toLocal8Bit().constData());
    if (!d->producer)
        return;
    VideoInfo *info = d->producer->videoInfo();
    const QString text = QStringLiteral("video/x-raw,format=%1,width=%2,height=%3")
                             .arg(info->format())
                             .arg(info->width())
                             .arg(info->height());
    GstAppSrc *appsrc = appSrcRef();
    if (appsrc) {
        GstCaps *caps = gst_caps_from_string(text.toLatin1().constData());
        if (caps) {
            g_object_set(appsrc, "caps", caps, nullptr);
            gst_caps_unref(caps);
        }
        gst_object_unref(appsrc);
    }
    updateOutputSizes();
    if (d->startPending)
        startPlaying();
}

void Consumer::updateOutputSizes()
{
    VideoInfo *info = d->producer ? d->producer->videoInfo() : nullptr;
    if (!info || !d->pipeline)
        return;
    const bool cpu = d->path == CpuPath;
    const auto apply = [cpu](GstElement *filter, QQuickItem *item, QSize picture, QSize *set) {
        QSize size = drawingSize(item, picture.width(), picture.height());
        // I420 in memory: even sizes.
        if (cpu)
            size = QSize(qMax(2, size.width() & ~1), qMax(2, size.height() & ~1));
        if (!filter || size.isEmpty() || size == *set)
            return;
        *set = size;
        GstCaps *caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, cpu ? "I420" : "RGBA", "width",
                                            G_TYPE_INT, size.width(), "height", G_TYPE_INT, size.height(), nullptr);
        if (!cpu)
            gst_caps_set_features(caps, 0, gst_caps_features_new(GST_CAPS_FEATURE_MEMORY_GL_MEMORY, nullptr));
        g_object_set(filter, "caps", caps, nullptr);
        gst_caps_unref(caps);
    };
    const QSize frame(info->width(), info->height());
    apply(d->size, d->widget, d->pictureSize.isEmpty() ? frame : d->pictureSize, &d->sizeSet);
    apply(d->rawSize, d->rawWidget, frame, &d->rawSizeSet);
}

void Consumer::onProducerStateChanged()
{
    // A consumer that was never started, or was stopped, has no pipeline and stays stopped.
    if (!d->producer || d->producer->state() != Producer::Playing || !d->pipeline)
        return;
    qCDebug(lcConsumer, "Producer start playing");
    if (state() != Playing)
        setState(Playing);
}

void Consumer::releasePipeline()
{
    d->generation.next();
    if (!d->pipeline)
        return;
    // The app source leaves the fan-out's reach first; a push already under
    // way holds its own reference and meets a flushing element.
    GstAppSrc *appsrc = nullptr;
    {
        std::lock_guard<std::mutex> lock(d->appsrcMutex);
        appsrc = d->appsrc;
        d->appsrc = nullptr;
    }
    for (const char *name : kQueues) {
        if (GstElement *queue = gst_bin_get_by_name(GST_BIN(d->pipeline), name)) {
            stopGlStreamingThread(queue);
            gst_object_unref(queue);
        }
    }
    gst_element_set_state(d->pipeline, GST_STATE_NULL);
    gst_object_unref(d->pipeline);
    if (appsrc)
        gst_object_unref(appsrc);
    for (const QMetaObject::Connection &c : qAsConst(d->itemConnections))
        disconnect(c);
    d->itemConnections.clear();
    d->resizeTimer.stop();
    d->pipeline = nullptr;
    d->defish = nullptr;
    d->qmlglsink = nullptr;
    d->rawsink = nullptr;
    d->size = nullptr;
    d->rawSize = nullptr;
    d->sizeSet = {};
    d->rawSizeSet = {};
    d->startPending = false;
    HeapTrim::schedule();
}

void Consumer::stop()
{
    if (state() == Null)
        return;
    if (d->isWaitingForData.exchange(false))
        emit isWaitingForDataChanged();
    qCDebug(lcConsumer, "Cleaning up pipeline: %s", d->name.toLocal8Bit().constData());
    releasePipeline();
    d->startPending = false;
    setState(Null);
}

void Consumer::setUniforms(const QVariantMap &uniforms)
{
    if (!d->defish)
        return;
    GstStructure *structure = gst_structure_new_empty("uniforms");
    for (auto it = uniforms.constBegin(); it != uniforms.constEnd(); ++it) {
        switch (static_cast<int>(it.value().type())) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Double:
        case QMetaType::Long:
        case QMetaType::Short:
        case QMetaType::ULong:
        case QMetaType::UShort:
        case QMetaType::Float:
            gst_structure_set(structure, it.key().toLocal8Bit().constData(), G_TYPE_FLOAT, it.value().toFloat(),
                              nullptr);
            break;
        default:
            break;
        }
    }
    g_object_set(d->defish, "uniforms", structure, nullptr);
    gst_structure_free(structure);
}

QSize Consumer::pictureSize() const
{
    return d->pictureSize;
}

void Consumer::setPictureSize(const QSize &size)
{
    if (d->pictureSize == size)
        return;
    d->pictureSize = size;
    emit pictureSizeChanged();
    updateOutputSizes();
}

QImage Consumer::lastFrame() const
{
    if (d->path == CpuPath && d->defish && d->producer) {
        const VideoInfo *info = d->producer->videoInfo();
        return DefishRemap::render(d->defish,
                                   d->pictureSize.isEmpty() ? QSize(info->width(), info->height()) : d->pictureSize);
    }
    if (d->usesLookup && d->defish && d->producer) {
        const VideoInfo *info = d->producer->videoInfo();
        return DefishFilter::render(d->defish,
                                    d->pictureSize.isEmpty() ? QSize(info->width(), info->height()) : d->pictureSize);
    }
    if (!d->qmlglsink)
        return {};
    GstSample *sample = nullptr;
    g_object_get(d->qmlglsink, "last-sample", &sample, nullptr);
    if (!sample)
        return {};
    QImage image;
    GstVideoInfo info;
    GstCaps *caps = gst_sample_get_caps(sample);
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    GstVideoFrame frame;
    // Mapping GL memory for reading downloads it on the GL context's own thread.
    if (caps && buffer && gst_video_info_from_caps(&info, caps) &&
        GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_RGBA &&
        gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
        const int width = GST_VIDEO_FRAME_WIDTH(&frame);
        const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        const auto *pixels = static_cast<const uchar *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        image = QImage(width, height, QImage::Format_RGBA8888);
        for (int y = 0; !image.isNull() && y < height; ++y)
            memcpy(image.scanLine(y), pixels + size_t(y) * size_t(stride), size_t(width) * 4);
        gst_video_frame_unmap(&frame);
    }
    gst_sample_unref(sample);
    return image;
}

QVariantMap Consumer::saveSnapshot(const QString &path)
{
    const auto failed = [](const QString &why) { return QVariantMap{{QStringLiteral("error"), why}}; };
    QString file = path.startsWith(QLatin1String("file:")) ? QUrl(path).toLocalFile() : path;
    if (file.isEmpty()) {
        qCWarning(lcConsumer, "Snapshot not saved: no file name");
        return failed(tr("no file name"));
    }
    if (QFileInfo(file).suffix().isEmpty())
        file += QLatin1String(".png");
    const QImage image = lastFrame();
    if (image.isNull()) {
        qCWarning(lcConsumer, "Snapshot not saved: %s has no picture yet", qUtf8Printable(d->name));
        return failed(tr("there is no picture yet"));
    }
    const QFileInfo info(file);
    if (!QDir().mkpath(info.absolutePath()) || !image.save(file, "PNG")) {
        qCWarning(lcConsumer, "Snapshot not saved: could not write %s", qUtf8Printable(file));
        return failed(tr("could not write %1").arg(QDir::toNativeSeparators(file)));
    }
    qCInfo(lcConsumer, "Snapshot of %s (%dx%d) saved to %s", qUtf8Printable(d->name), image.width(), image.height(),
           qUtf8Printable(file));
    return {{QStringLiteral("path"), QDir::toNativeSeparators(info.absoluteFilePath())}};
}

QString Consumer::defaultSnapshotPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    const QString stem = QDir(folder).filePath(
        QStringLiteral("Quillon/defish-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QString path = stem + QLatin1String(".png");
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = stem + QStringLiteral("-%1.png").arg(n);
    return path;
}
