#include "platform/ostrevan/ostrevanserver.h"

#include "defish/defishfilter.h"
#include "defish/slicepool.h"
#include "platform/ostrevan/configwatcher.h"
#include "platform/ostrevan/requestguard.h"
#include "platform/ostrevan/serverlogging.h"
#include "platform/ostrevan/statusserver.h"
#include "platform/ostrevan/streamsource.h"
#include "platform/ostrevan/viewpublisher.h"

#include "app/applogging.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QUrl>

#include <ctime>
#include <functional>
#include <utility>

// GIO's headers use "signals" as a name, which Qt defines as a keyword.
#undef signals
#include <gst/gl/gl.h>
#include <gst/gl/gstglfuncs.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <gst/video/video.h>
#define signals Q_SIGNALS

namespace {

// A view's media: as GStreamer's, with its errors kept as the view's last error (messages come on the
// media's own thread), and marked retired once its last client has left: from then on it is torn down
// and cannot serve anybody again.
struct ViewMedia
{
    GstRTSPMedia parent;
    gint retired;
};

struct ViewMediaClass
{
    GstRTSPMediaClass parent_class;
};

// A view's media factory: every request for the view, whatever its address (with a query, or a
// SETUP of the stream's own control address), shares the view's one media. GStreamer's default key
// is the whole request URL: a second address would build a second media, the view's frames would go
// to that one alone, and its end would leave the first client with nothing. A media that is being torn
// down (its last client left, the pipeline stops on the media's own thread) is not handed out again
// either: the next client gets a new one where it would get "503 Service Unavailable".
//
// Handing out a running media races with its last client leaving: the request prepares the media
// only after the factory has returned it, and a close in between would start tearing it down under
// the request (503 again). So the factory takes a preparation of its own before it hands the media
// out and drops it a moment later, when the request holds its own.
struct ViewFactory
{
    GstRTSPMediaFactory parent;
    GMutex lock;
    GWeakRef media; // the newest media
    guint generation;
};

struct ViewFactoryClass
{
    GstRTSPMediaFactoryClass parent_class;
};

G_DEFINE_TYPE(ViewFactory, view_factory, GST_TYPE_RTSP_MEDIA_FACTORY)

// Far longer than a request takes from the factory to its own preparation, short enough that a view
// nobody watches stops soon after its last client.
constexpr guint kHandOverHoldMs = 1000;

// Whether the factory may hand the media out again. A running one is kept prepared for a moment; a new
// one, not yet prepared by the request that built it, goes out as it is; one being torn down or failed
// does not. (Reading the status waits while the media is being prepared.)
bool keepForHandOver(GstRTSPMedia *media)
{
    // The status first: a retired media reads "unprepared" again once it is torn down, and is marked
    // retired before its status leaves "prepared".
    const GstRTSPMediaStatus status = gst_rtsp_media_get_status(media);
    if (g_atomic_int_get(&reinterpret_cast<ViewMedia *>(media)->retired))
        return false;
    if (status != GST_RTSP_MEDIA_STATUS_PREPARED && status != GST_RTSP_MEDIA_STATUS_SUSPENDED)
        return status == GST_RTSP_MEDIA_STATUS_UNPREPARED;
    // Serialised with a leaving client's unprepare: it either still finds the media prepared (and counts
    // this preparation) or fails because the teardown has begun.
    if (!gst_rtsp_media_prepare(media, nullptr))
        return false;
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, kHandOverHoldMs,
        [](gpointer held) -> gboolean {
            // The last preparation stops the pipeline: off the main loop, as a client's own would.
            GstRTSPMedia *media = GST_RTSP_MEDIA(held);
            GstElement *element = gst_rtsp_media_get_element(media);
            gst_element_call_async(
                element, [](GstElement *, gpointer data) { gst_rtsp_media_unprepare(GST_RTSP_MEDIA(data)); },
                g_object_ref(media), g_object_unref);
            gst_object_unref(element);
            return G_SOURCE_REMOVE;
        },
        g_object_ref(media), g_object_unref);
    return true;
}

gchar *view_factory_gen_key(GstRTSPMediaFactory *factory, const GstRTSPUrl *)
{
    auto *self = reinterpret_cast<ViewFactory *>(factory);
    g_mutex_lock(&self->lock);
    if (auto *media = static_cast<GstRTSPMedia *>(g_weak_ref_get(&self->media))) {
        if (!keepForHandOver(media)) {
            ++self->generation;
            g_weak_ref_set(&self->media, nullptr);
        }
        g_object_unref(media);
    }
    gchar *key = g_strdup_printf("%u", self->generation);
    g_mutex_unlock(&self->lock);
    return key;
}

void view_factory_finalize(GObject *object)
{
    auto *self = reinterpret_cast<ViewFactory *>(object);
    g_weak_ref_clear(&self->media);
    g_mutex_clear(&self->lock);
    G_OBJECT_CLASS(view_factory_parent_class)->finalize(object);
}

void view_factory_class_init(ViewFactoryClass *klass)
{
    G_OBJECT_CLASS(klass)->finalize = view_factory_finalize;
    GST_RTSP_MEDIA_FACTORY_CLASS(klass)->gen_key = view_factory_gen_key;
}

void view_factory_init(ViewFactory *self)
{
    g_mutex_init(&self->lock);
    g_weak_ref_init(&self->media, nullptr);
    self->generation = 0;
}

// What the media callbacks of one view reach: the view while it exists, and its stream's GL display.
struct MediaLink
{
    std::weak_ptr<ViewChannel> channel;
    GstElement *appsrc = nullptr;
    GstContext *gl = nullptr;
    QString streamSerial;
    QString viewName;
};

// Which view a media serves, kept on the media for the requests that reach it and its messages.
struct MediaView
{
    QString streamSerial;
    QString viewName;
    std::weak_ptr<ViewChannel> channel;
};
constexpr const char *kMediaViewKey = "quillon-view";

G_DEFINE_TYPE(ViewMedia, view_media, GST_TYPE_RTSP_MEDIA)

gboolean view_media_handle_message(GstRTSPMedia *media, GstMessage *message)
{
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        const auto *view = static_cast<const MediaView *>(g_object_get_data(G_OBJECT(media), kMediaViewKey));
        GError *error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        const QString text = QStringLiteral("%1: %2").arg(
            QString::fromUtf8(GST_MESSAGE_SRC(message) ? GST_OBJECT_NAME(GST_MESSAGE_SRC(message)) : "media"),
            QString::fromUtf8(error ? error->message : "error"));
        g_clear_error(&error);
        if (view) {
            qCWarning(lcView, "View \"%s\" of stream %s failed: %s", qUtf8Printable(view->viewName),
                      qUtf8Printable(view->streamSerial), qUtf8Printable(text));
            if (std::shared_ptr<ViewChannel> channel = view->channel.lock())
                channel->setLastError(text);
        }
    }
    return GST_RTSP_MEDIA_CLASS(view_media_parent_class)->handle_message(media, message);
}

// Runs with the media's state lock held, when its last preparation is dropped.
gboolean view_media_unprepare(GstRTSPMedia *media)
{
    g_atomic_int_set(&reinterpret_cast<ViewMedia *>(media)->retired, 1);
    return GST_RTSP_MEDIA_CLASS(view_media_parent_class)->unprepare(media);
}

void view_media_class_init(ViewMediaClass *klass)
{
    GST_RTSP_MEDIA_CLASS(klass)->handle_message = view_media_handle_message;
    GST_RTSP_MEDIA_CLASS(klass)->unprepare = view_media_unprepare;
}

void view_media_init(ViewMedia *self)
{
    self->retired = 0;
}

// The user a session was set up by (a QString, empty for none), on the session.
constexpr const char *kUserKey = "quillon-user";

// A client watching a view in one of its sessions, kept on the session: logged when the client starts,
// and when the session ends, whichever way it ends (TEARDOWN, the connection closed, timed out, removed).
struct Watch
{
    QString client;
    QString user;
    QString streamSerial;
    QString viewName;
};

QByteArray watchKey(const QString &streamSerial, const QString &viewName)
{
    return "quillon-watch/" + streamSerial.toUtf8() + '/' + viewName.toUtf8();
}

QString describeClient(const Watch &watch)
{
    return watch.user.isEmpty() ? watch.client : QStringLiteral("%1 (user %2)").arg(watch.client, watch.user);
}

void endWatch(gpointer data)
{
    auto *watch = static_cast<Watch *>(data);
    qCInfo(lcServer, "Client %s stopped watching view \"%s\" of stream %s", qUtf8Printable(describeClient(*watch)),
           qUtf8Printable(watch->viewName), qUtf8Printable(watch->streamSerial));
    delete watch;
}

void onMediaUnprepared(GstRTSPMedia *, gpointer data)
{
    auto *link = static_cast<MediaLink *>(data);
    if (std::shared_ptr<ViewChannel> channel = link->channel.lock())
        channel->detach(link->appsrc);
}

void freeMediaLink(gpointer data, GClosure *)
{
    auto *link = static_cast<MediaLink *>(data);
    if (link->appsrc)
        gst_object_unref(link->appsrc);
    if (link->gl)
        gst_context_unref(link->gl);
    delete link;
}

// Runs on an RTSP server thread when a client's request builds the view's media.
void onMediaConfigure(GstRTSPMediaFactory *factory, GstRTSPMedia *media, gpointer data)
{
    auto *view = reinterpret_cast<ViewFactory *>(factory);
    g_mutex_lock(&view->lock);
    g_weak_ref_set(&view->media, media);
    g_mutex_unlock(&view->lock);
    auto *factoryLink = static_cast<MediaLink *>(data);
    g_object_set_data_full(G_OBJECT(media), kMediaViewKey,
                           new MediaView{factoryLink->streamSerial, factoryLink->viewName, factoryLink->channel},
                           [](gpointer view) { delete static_cast<MediaView *>(view); });
    std::shared_ptr<ViewChannel> channel = factoryLink->channel.lock();
    if (!channel)
        return;
    GstElement *bin = gst_rtsp_media_get_element(media);
    GstElement *appsrc = gst_bin_get_by_name_recurse_up(GST_BIN(bin), "src");
    GstElement *shader = gst_bin_get_by_name_recurse_up(GST_BIN(bin), "dewarp");
    // The GL elements take the stream's display, and with it the stream's one GL context.
    if (factoryLink->gl)
        gst_element_set_context(bin, factoryLink->gl);
    gst_object_unref(bin);
    if (!appsrc) {
        if (shader)
            gst_object_unref(shader);
        return;
    }
    channel->attach(appsrc, shader);
    auto *link = new MediaLink{channel, GST_ELEMENT(gst_object_ref(appsrc)), nullptr, {}, {}};
    g_signal_connect_data(media, "unprepared", G_CALLBACK(onMediaUnprepared), link, freeMediaLink, GConnectFlags(0));
    gst_object_unref(appsrc);
    if (shader)
        gst_object_unref(shader);
}

// Runs on the RTSP server's thread once a client's PLAY went through. A view's media is shared: a
// client joining a running one would wait for the encoder's next periodic key frame, so the next
// frame is encoded as one, with its parameter sets, for everybody.
void onPlayRequest(GstRTSPClient *client, GstRTSPContext *context, gpointer)
{
    if (!context || !context->media)
        return;
    const auto *view = static_cast<const MediaView *>(g_object_get_data(G_OBJECT(context->media), kMediaViewKey));
    if (view && context->session) {
        const QByteArray key = watchKey(view->streamSerial, view->viewName);
        if (!g_object_get_data(G_OBJECT(context->session), key.constData())) {
            GstRTSPConnection *connection = gst_rtsp_client_get_connection(client);
            const auto *user = static_cast<const QString *>(g_object_get_data(G_OBJECT(context->session), kUserKey));
            auto *watch = new Watch{QString::fromUtf8(connection ? gst_rtsp_connection_get_ip(connection) : "?"),
                                    user ? *user : QString(), view->streamSerial, view->viewName};
            g_object_set_data_full(G_OBJECT(context->session), key.constData(), watch, endWatch);
            qCInfo(lcServer, "Client %s started watching view \"%s\" of stream %s",
                   qUtf8Printable(describeClient(*watch)), qUtf8Printable(view->viewName),
                   qUtf8Printable(view->streamSerial));
        }
    }
    GstElement *bin = gst_rtsp_media_get_element(context->media);
    GstElement *encoder = gst_bin_get_by_name_recurse_up(GST_BIN(bin), "encoder");
    gst_object_unref(bin);
    if (!encoder)
        return;
    if (GstPad *pad = gst_element_get_static_pad(encoder, "src")) {
        gst_pad_send_event(pad, gst_video_event_new_upstream_force_key_unit(GST_CLOCK_TIME_NONE, FALSE, 0));
        gst_object_unref(pad);
    }
    gst_object_unref(encoder);
    qCDebug(lcServer, "A client started playing; the next frame is a key frame");
}

// Runs once a SETUP went through, when its credentials have been checked (a PLAY's are not: it
// only names a session).
void onSetupRequest(GstRTSPClient *, GstRTSPContext *context, gpointer)
{
    if (!context || !context->session || g_object_get_data(G_OBJECT(context->session), kUserKey))
        return;
    g_object_set_data_full(G_OBJECT(context->session), kUserKey, new QString(AccessControl::userOf(context)),
                           [](gpointer user) { delete static_cast<QString *>(user); });
}

void onNewSession(GstRTSPClient *, GstRTSPSession *session, gpointer timeout)
{
    gst_rtsp_session_set_timeout(session, GPOINTER_TO_UINT(timeout));
}

// Each client connection is served on a thread of its own (up to this many, then they are shared),
// so that one that sends slowly, or endlessly, holds up no other.
constexpr gint kClientThreads = 256;

// What every new client connection is given.
struct ClientSettings
{
    guint sessionTimeout = 60;
    bool tls = false;
};

void onClientConnected(GstRTSPServer *, GstRTSPClient *client, gpointer data)
{
    const auto *settings = static_cast<const ClientSettings *>(data);
    RequestGuard::watch(client, settings->tls);
    g_signal_connect(client, "setup-request", G_CALLBACK(onSetupRequest), nullptr);
    g_signal_connect(client, "play-request", G_CALLBACK(onPlayRequest), nullptr);
    g_signal_connect(client, "new-session", G_CALLBACK(onNewSession), GUINT_TO_POINTER(settings->sessionTimeout));
}

// Sessions to end, chosen by a rule, removed from their clients.
struct SessionsToEnd
{
    std::function<bool(GstRTSPSession *)> ends;
    bool removed = false;
};

GstRTSPFilterResult removeChosenSession(GstRTSPClient *, GstRTSPSession *session, gpointer data)
{
    auto *sessions = static_cast<SessionsToEnd *>(data);
    if (!sessions->ends(session))
        return GST_RTSP_FILTER_KEEP;
    sessions->removed = true;
    return GST_RTSP_FILTER_REMOVE;
}

// Removes the chosen sessions of a client; a client left with no session is handed back to be closed.
GstRTSPFilterResult endClientSessions(GstRTSPServer *, GstRTSPClient *client, gpointer data)
{
    SessionsToEnd sessions{*static_cast<const std::function<bool(GstRTSPSession *)> *>(data)};
    gst_rtsp_client_session_filter(client, removeChosenSession, &sessions);
    if (!sessions.removed)
        return GST_RTSP_FILTER_KEEP;
    GList *left = gst_rtsp_client_session_filter(client, nullptr, nullptr);
    g_list_free_full(left, g_object_unref);
    return left ? GST_RTSP_FILTER_KEEP : GST_RTSP_FILTER_REF;
}

// Ends the chosen sessions: removed from their clients and from the pool (a UDP client's session
// outlives its connection). A player that ignored the end of the stream (RTCP BYE) would wait on its
// connection for ever: a client left with nothing to watch is closed.
void endSessions(GstRTSPServer *server, std::function<bool(GstRTSPSession *)> ends)
{
    GList *idle = gst_rtsp_server_client_filter(server, endClientSessions, &ends);
    for (GList *client = idle; client; client = client->next)
        gst_rtsp_client_close(GST_RTSP_CLIENT(client->data));
    g_list_free_full(idle, g_object_unref);
    GstRTSPSessionPool *pool = gst_rtsp_server_get_session_pool(server);
    GList *removed = gst_rtsp_session_pool_filter(
        pool,
        [](GstRTSPSessionPool *, GstRTSPSession *session, gpointer data) {
            return (*static_cast<std::function<bool(GstRTSPSession *)> *>(data))(session) ? GST_RTSP_FILTER_REMOVE
                                                                                          : GST_RTSP_FILTER_KEEP;
        },
        &ends);
    g_list_free_full(removed, g_object_unref);
    g_object_unref(pool);
}

} // namespace

OstrevanServer::OstrevanServer(const ServerOptions &options, QObject *parent) : QObject(parent), m_options(options)
{
    connect(&m_stats, &QTimer::timeout, this, &OstrevanServer::logStats);
    connect(&m_rateSampler, &QTimer::timeout, this, &OstrevanServer::sampleRates);
    m_uptime.start();
}

OstrevanServer::~OstrevanServer()
{
    // Views first (their workers stop and their media end), then the sources, then the port.
    const QStringList keys = m_views.keys();
    for (const QString &k : keys)
        removeView(k);
    qDeleteAll(m_sources);
    m_sources.clear();
    if (m_rtspSource)
        g_source_remove(m_rtspSource);
    if (m_rtsp)
        g_object_unref(m_rtsp);
}

QString OstrevanServer::key(const QString &streamSerial, const QString &viewName)
{
    return streamSerial + QLatin1Char('\n') + viewName;
}

QString OstrevanServer::mountPath(const QString &streamSerial, const QString &viewName)
{
    return QLatin1Char('/') + QString::fromLatin1(QUrl::toPercentEncoding(streamSerial)) + QLatin1Char('/') +
           QString::fromLatin1(QUrl::toPercentEncoding(viewName));
}

namespace {

void readRenderer(GstGLContext *context, gpointer data)
{
    const GstGLFuncs *gl = context->gl_vtable;
    const GLubyte *renderer = gl->GetString ? gl->GetString(GL_RENDERER) : nullptr;
    *static_cast<QString *>(data) = QString::fromLatin1(reinterpret_cast<const char *>(renderer));
}

} // namespace

bool OstrevanServer::isSoftwareRenderer(const QString &renderer)
{
    return DefishFilter::isSoftwareRenderer(renderer);
}

namespace {

// A start-up probe's pipeline, or null with *why.
GstElement *parseProbe(const char *launch, QString *why)
{
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(launch, &error);
    if (!pipeline || error) {
        *why = QString::fromUtf8(error ? error->message : "the GL elements are missing");
        g_clear_error(&error);
        if (pipeline)
            gst_object_unref(pipeline);
        return nullptr;
    }
    return pipeline;
}

// Plays a pipeline of finite sources to its end: true at end of stream; false, with *why, on an
// error or when the end has not come within seconds (late says so). The caller stops the pipeline.
bool playToEnd(GstElement *pipeline, int seconds, const QString &late, QString *why)
{
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *message = gst_bus_timed_pop_filtered(bus, GstClockTime(seconds) * GST_SECOND,
                                                     GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    bool ended = false;
    if (!message) {
        *why = late;
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GError *error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        *why = QString::fromUtf8(error ? error->message : "error");
        g_clear_error(&error);
    } else {
        ended = true;
    }
    if (message)
        gst_message_unref(message);
    gst_object_unref(bus);
    return ended;
}

} // namespace

namespace {

// GL_RENDERER of the context a GL element gets here (empty when that fails).
QString rendererName()
{
    QString why;
    GstElement *pipeline = parseProbe("videotestsrc num-buffers=1 ! glupload name=upload ! fakesink", &why);
    if (!pipeline)
        return {};
    QString renderer;
    if (playToEnd(pipeline, 15, QString(), &why)) {
        GstElement *upload = gst_bin_get_by_name(GST_BIN(pipeline), "upload");
        GstGLContext *context = nullptr;
        g_object_get(upload, "context", &context, nullptr);
        if (context) {
            gst_gl_context_thread_add(context, readRenderer, &renderer);
            gst_object_unref(context);
        }
        gst_object_unref(upload);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return renderer;
}

} // namespace

bool OstrevanServer::glWorks(QString *why, QString *renderer)
{
    if (!DefishFilter::registerElement()) {
        *why = QStringLiteral("the dewarping element cannot be registered");
        return false;
    }
    // The element's own check: a known picture through it, compared.
    if (!DefishFilter::works(why))
        return false;
    if (renderer)
        *renderer = rendererName();
    return true;
}

namespace {

// What dewarping one frame for one view costs, per frame.
struct DewarpCost
{
    double wallMs = 0.0;
    double cpuMs = 0.0; // all threads of the process
};

double clockMs(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// The frame the start-up measurement dewarps: a camera's 1080p, the lens circle filling its height,
// and a view turned away from the axis.
constexpr int kProbeWidth = 1920;
constexpr int kProbeHeight = 1080;
constexpr int kProbeFrames = 10;
constexpr int kProbeWarmUp = 2;
const FisheyeLens kProbeLens{float(kProbeWidth),  float(kProbeHeight), kProbeWidth / 2.0f,
                             kProbeHeight / 2.0f, kProbeHeight / 2.0f, 180.0f};

FisheyeView probeView(const OutputOptions &output)
{
    return FisheyeView{0.0f, 30.0f, 45.0f, 90.0f, float(output.width) / float(output.height)};
}

// A view's worker: the remap table applied on one thread.
DewarpCost measureRemap(const OutputOptions &output)
{
    RemapTable table;
    table.build(FisheyeProjection(kProbeLens, probeView(output)), kProbeWidth, kProbeHeight, output.width,
                output.height);
    std::vector<uint8_t> in(size_t(kProbeWidth) * kProbeHeight * 3 / 2);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = uint8_t((i * 7) ^ (i >> 11));
    std::vector<uint8_t> out(size_t(output.width) * size_t(output.height) * 3 / 2);
    const PlanarImage src = packedI420(std::as_const(in).data(), kProbeWidth, kProbeHeight);
    const MutablePlanarImage dst = packedI420(out.data(), output.width, output.height);
    table.apply(src, dst);
    const double wall0 = clockMs(CLOCK_MONOTONIC);
    const double cpu0 = clockMs(CLOCK_PROCESS_CPUTIME_ID);
    for (int i = 0; i < kProbeFrames; ++i)
        table.apply(src, dst);
    return {(clockMs(CLOCK_MONOTONIC) - wall0) / kProbeFrames,
            (clockMs(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / kProbeFrames};
}

struct ProbeMarks
{
    int frames = 0;
    double wall[2] = {0.0, 0.0}; // after the warm-up, at the last frame
    double cpu[2] = {0.0, 0.0};
};

GstPadProbeReturn markFrame(GstPad *, GstPadProbeInfo *, gpointer data)
{
    auto *marks = static_cast<ProbeMarks *>(data);
    const int slot = marks->frames++ < kProbeWarmUp ? 0 : 1;
    marks->wall[slot] = clockMs(CLOCK_MONOTONIC);
    marks->cpu[slot] = clockMs(CLOCK_PROCESS_CPUTIME_ID);
    return GST_PAD_PROBE_OK;
}

// A view's GL path on one frame again and again: the upload, the dewarping element (which samples
// the frame's planes), the download and the conversion for the encoder.
bool measureShader(const OutputOptions &output, DewarpCost *cost, QString *why)
{
    const QString launch =
        QStringLiteral("videotestsrc num-buffers=1 pattern=smpte ! video/x-raw,format=I420,width=%1,height=%2 ! "
                       "imagefreeze num-buffers=%3 ! glupload ! quillondefish name=dewarp ! "
                       "video/x-raw(memory:GLMemory),format=RGBA,width=%4,height=%5 ! gldownload ! videoconvert ! "
                       "video/x-raw,format=I420 ! fakesink name=sink sync=false")
            .arg(kProbeWidth)
            .arg(kProbeHeight)
            .arg(kProbeWarmUp + kProbeFrames)
            .arg(output.width)
            .arg(output.height);
    GstElement *pipeline = parseProbe(launch.toUtf8().constData(), why);
    if (!pipeline)
        return false;
    GstElement *shader = gst_bin_get_by_name(GST_BIN(pipeline), "dewarp");
    GstStructure *uniforms = DefishFilter::uniforms(kProbeLens, probeView(output));
    g_object_set(shader, "uniforms", uniforms, nullptr);
    gst_structure_free(uniforms);
    gst_object_unref(shader);
    ProbeMarks marks;
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstPad *pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, markFrame, &marks, nullptr);
    gst_object_unref(pad);
    gst_object_unref(sink);

    bool ok = playToEnd(pipeline, 30, QStringLiteral("the frames did not come through in time"), why);
    if (ok && marks.frames != kProbeWarmUp + kProbeFrames) {
        ok = false;
        *why =
            QStringLiteral("%1 frames came through instead of %2").arg(marks.frames).arg(kProbeWarmUp + kProbeFrames);
    } else if (ok) {
        // From the end of the last warm-up frame to the end of the last.
        cost->wallMs = (marks.wall[1] - marks.wall[0]) / kProbeFrames;
        cost->cpuMs = (marks.cpu[1] - marks.cpu[0]) / kProbeFrames;
    }
    // NULL joins the streaming threads: the probe is not called any more.
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok;
}

} // namespace

bool OstrevanServer::start(QString *error)
{
    ServerConfig config;
    QString reason;
    if (!config.load(m_options.databasePath, &reason, m_options.share)) {
        *error = QStringLiteral("cannot use %1: %2").arg(m_options.databasePath, reason);
        return false;
    }
    qCInfo(lcServer, "Read %s: %d gateways, %d streams, %d views", qUtf8Printable(m_options.databasePath),
           config.gatewayRows(), config.streamRows(), config.viewRows());
    if (!m_options.share.isWhole()) {
        qCInfo(lcServer, "Serving share %d/%d of the streams%s%s", m_options.share.index, m_options.share.count,
               m_options.share.gateways.isEmpty() ? "" : " of the gateways ",
               qUtf8Printable(m_options.share.gateways.join(QStringLiteral(", "))));
    }
    if (!m_access.loadUsers(m_options.usersPath, error))
        return false;
    if (!m_options.tlsCertificate.isEmpty() && !m_access.setTls(m_options.tlsCertificate, m_options.tlsKey, error))
        return false;

    if (m_options.dewarp == ServerOptions::Dewarp::Cpu) {
        m_mode = DewarpMode::Cpu;
    } else {
        QString why;
        QString renderer;
        // The renderer's name only goes into the automatic mode's measurement line.
        if (glWorks(&why, m_options.dewarp == ServerOptions::Dewarp::Auto ? &renderer : nullptr)) {
            m_mode = DewarpMode::Gl;
            if (m_options.dewarp == ServerOptions::Dewarp::Auto)
                m_mode = measureFasterPath(renderer);
        } else if (m_options.dewarp == ServerOptions::Dewarp::Gl) {
            *error = QStringLiteral("GL dewarping was asked for but does not work here: %1").arg(why);
            return false;
        } else {
            qCInfo(lcServer, "GL is not usable here (%s); dewarping on the CPU", qUtf8Printable(why));
            m_mode = DewarpMode::Cpu;
        }
    }
    qCInfo(lcServer, "Dewarping on the %s, %dx%d at %d fps, %d kbit/s", m_mode == DewarpMode::Gl ? "GPU (GL)" : "CPU",
           m_options.output.width, m_options.output.height, m_options.output.fps, m_options.output.bitrateKbps);
    // Beside the views' workers, for a CPU view that cannot keep up alone.
    if (m_mode == DewarpMode::Cpu && SlicePool::threadsForThisMachine() > 0)
        m_slicePool = std::make_shared<SlicePool>(SlicePool::threadsForThisMachine());

    m_rtsp = gst_rtsp_server_new();
    g_signal_connect_data(
        m_rtsp, "client-connected", G_CALLBACK(onClientConnected),
        new ClientSettings{guint(m_options.sessionTimeoutSeconds), m_access.hasTls()},
        [](gpointer data, GClosure *) { delete static_cast<ClientSettings *>(data); }, GConnectFlags(0));
    GstRTSPThreadPool *threads = gst_rtsp_server_get_thread_pool(m_rtsp);
    gst_rtsp_thread_pool_set_max_threads(threads, kClientThreads);
    g_object_unref(threads);
    if (m_access.auth())
        gst_rtsp_server_set_auth(m_rtsp, m_access.auth());
    gst_rtsp_server_set_address(m_rtsp, m_options.address.toUtf8().constData());
    gst_rtsp_server_set_service(m_rtsp, QByteArray::number(m_options.port).constData());
    GError *gerror = nullptr;
    GSource *source = gst_rtsp_server_create_source(m_rtsp, nullptr, &gerror);
    if (!source) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(m_options.address)
                     .arg(m_options.port)
                     .arg(QString::fromUtf8(gerror ? gerror->message : "unknown error"));
        g_clear_error(&gerror);
        return false;
    }
    // The RTSP server runs in the default main context, which Qt's event loop dispatches.
    m_rtspSource = g_source_attach(source, nullptr);
    g_source_unref(source);
    m_port = gst_rtsp_server_get_bound_port(m_rtsp);
    m_host = (m_options.address == QLatin1String("0.0.0.0") || m_options.address == QLatin1String("::"))
                 ? QHostInfo::localHostName()
                 : m_options.address;
    qCInfo(lcServer, "RTSP server listening on %s:%d", qUtf8Printable(m_options.address), m_port);
    if (m_access.hasUsers()) {
        qCInfo(lcServer, "Clients must sign in as one of the %d users of %s (Digest, realm \"%s\")%s",
               m_access.userCount(), qUtf8Printable(m_options.usersPath), UserFile::kRealm,
               m_access.hasTls() ? ", over TLS only (rtsps://)" : "");
    } else {
        qCWarning(lcServer,
                  "NO ACCESS CONTROL: anyone who can reach %s port %d can watch every view%s. Give a users file "
                  "with --users to require a name and password.",
                  qUtf8Printable(m_options.address), m_port, m_access.hasTls() ? " (over TLS)" : "");
    }

    // GStreamer's server never ends an expired session by itself: a client that stopped answering
    // would keep its view dewarped and encoded for ever. Its media goes with its last session.
    connect(&m_sessionSweep, &QTimer::timeout, this, [this] {
        GstRTSPSessionPool *pool = gst_rtsp_server_get_session_pool(m_rtsp);
        const guint expired = gst_rtsp_session_pool_cleanup(pool);
        g_object_unref(pool);
        if (expired > 0)
            qCInfo(lcServer, "%u client sessions timed out", expired);
    });
    m_sessionSweep.start(1000);
    connect(&m_requestGuard, &QTimer::timeout, this, [this] { RequestGuard::sweep(m_rtsp); });
    m_requestGuard.start(RequestGuard::kSweepMs);

    if (m_options.statusPort >= 0) {
        m_status = new StatusServer([this] { return status(); }, this);
        if (!m_status->listen(m_options.statusAddress, m_options.statusPort, error))
            return false;
        qCInfo(lcServer, "Status at http://%s:%d/status and /metrics", qUtf8Printable(m_options.statusAddress),
               m_status->port());
        m_rateSampler.start(1000);
    }

    if (!m_options.publishBase.isEmpty()) {
        m_publisherUser = m_access.addPublisher(&m_publisherPassword);
        qCInfo(lcServer, "Publishing every view to %s",
               qUtf8Printable(AppLogging::withoutPasswords(ViewPublisher::targetFor(
                   m_options.publishBase, QStringLiteral("STREAM-SERIAL"), QStringLiteral("VIEW-NAME")))));
    }

    apply(config);

    m_watcher = new ConfigWatcher(m_options.databasePath, this);
    connect(m_watcher, &ConfigWatcher::changed, this, &OstrevanServer::reload);
    if (m_options.statsSeconds > 0)
        m_stats.start(m_options.statsSeconds * 1000);
    return true;
}

DewarpMode OstrevanServer::measureFasterPath(const QString &renderer) const
{
    // CPU time rather than wall time: it is what the views compete for, and what other work on the
    // machine takes away from either path alike. A GPU's own time is not in it.
    const DewarpCost cpu = measureRemap(m_options.output);
    DewarpCost gl;
    QString why;
    if (!measureShader(m_options.output, &gl, &why)) {
        qCInfo(lcServer,
               "Measured dewarping a %dx%d frame to %dx%d for one view: CPU remap %.2f ms; GL failed (%s); "
               "dewarping on the CPU",
               kProbeWidth, kProbeHeight, m_options.output.width, m_options.output.height, cpu.cpuMs,
               qUtf8Printable(why));
        return DewarpMode::Cpu;
    }
    const DewarpMode mode = gl.cpuMs < cpu.cpuMs ? DewarpMode::Gl : DewarpMode::Cpu;
    qCInfo(lcServer,
           "Measured dewarping a %dx%d frame to %dx%d for one view, CPU time per frame: CPU remap %.2f ms "
           "(%.2f ms wall), GL %.2f ms (%.2f ms wall, renderer %s%s); dewarping on the %s",
           kProbeWidth, kProbeHeight, m_options.output.width, m_options.output.height, cpu.cpuMs, cpu.wallMs, gl.cpuMs,
           gl.wallMs, qUtf8Printable(renderer), isSoftwareRenderer(renderer) ? ", in software" : "",
           mode == DewarpMode::Gl ? "GPU (GL)" : "CPU");
    return mode;
}

void OstrevanServer::reload()
{
    ServerConfig config;
    QString error;
    if (!config.load(m_options.databasePath, &error, m_options.share)) {
        qCWarning(lcServer, "Cannot use %s, keeping the current views: %s", qUtf8Printable(m_options.databasePath),
                  qUtf8Printable(error));
        return;
    }
    qCInfo(lcServer, "Re-read %s: %d gateways, %d streams, %d views", qUtf8Printable(m_options.databasePath),
           config.gatewayRows(), config.streamRows(), config.viewRows());
    apply(config);
    emit reloaded();
}

void OstrevanServer::reloadUsers()
{
    if (!m_access.hasUsers())
        return;
    QString error;
    if (!m_access.reloadUsers(&error)) {
        qCWarning(lcServer, "Keeping the current users: %s", qUtf8Printable(error));
        return;
    }
    qCInfo(lcServer, "Re-read %s: %d users", qUtf8Printable(m_options.usersPath), m_access.userCount());
    for (const Served &served : qAsConst(m_views))
        m_access.permit(served.factory, served.streamSerial, served.name);
    endRevokedSessions();
}

void OstrevanServer::endRevokedSessions()
{
    struct View
    {
        QString streamSerial;
        QString name;
        QByteArray path;
    };
    QVector<View> views;
    for (const Served &served : qAsConst(m_views))
        views.append({served.streamSerial, served.name, served.path.toUtf8()});
    const AccessControl *access = &m_access;
    // By the user that set the session up: a session that has not started playing yet ends too.
    endSessions(m_rtsp, [access, views](GstRTSPSession *session) {
        const auto *user = static_cast<const QString *>(g_object_get_data(G_OBJECT(session), kUserKey));
        if (!user)
            return false;
        for (const View &view : views) {
            gint matched = 0;
            if (!gst_rtsp_session_get_media(session, view.path.constData(), &matched) || matched != view.path.size() ||
                access->mayWatch(*user, view.streamSerial, view.name))
                continue;
            qCInfo(lcServer, "User %s may no longer watch view \"%s\" of stream %s: the session %s ends",
                   qUtf8Printable(*user), qUtf8Printable(view.name), qUtf8Printable(view.streamSerial),
                   gst_rtsp_session_get_sessionid(session));
            return true;
        }
        return false;
    });
}

void OstrevanServer::logView(const ServedStream &stream, const ServedView &view, const char *what,
                             const QString &path) const
{
    qCInfo(lcServer, "%s view \"%s\" of stream %s (gateway %s, source %s): roll %g, tilt %g, pan %g, zoom %g at %s",
           what, qUtf8Printable(view.name), qUtf8Printable(stream.serial), qUtf8Printable(stream.gatewaySerial),
           qUtf8Printable(stream.url), double(view.roll), double(view.tilt), double(view.pan), double(view.zoom),
           qUtf8Printable(address(path)));
}

QString OstrevanServer::address(const QString &path) const
{
    return QStringLiteral("%1://%2:%3%4")
        .arg(m_access.hasTls() ? QLatin1String("rtsps") : QLatin1String("rtsp"), m_host)
        .arg(m_port)
        .arg(path);
}

StreamSource *OstrevanServer::sourceFor(const ServedStream &stream)
{
    StreamSource *source = m_sources.value(stream.serial);
    if (!source) {
        source = new StreamSource(stream.serial, stream.url, m_mode == DewarpMode::Gl, this);
        m_sources.insert(stream.serial, source);
        source->start();
    }
    return source;
}

void OstrevanServer::addView(const ServedStream &stream, const ServedView &view)
{
    Served served;
    served.streamSerial = stream.serial;
    served.name = view.name;
    served.path = mountPath(stream.serial, view.name);
    // A panorama or a quad is served at a size of its own shape.
    OutputOptions output = m_options.output;
    ServedSize::forMode(view.layout.mode, output.width, output.height, &output.width, &output.height);
    served.channel = std::make_shared<ViewChannel>(stream.serial + QLatin1Char('/') + view.name, m_mode, output,
                                                   m_slicePool);
    served.channel->setGeometry(stream.lens(), view.aim(), view.layout);
    StreamSource *source = sourceFor(stream);
    source->addView(served.channel);

    auto *factory = GST_RTSP_MEDIA_FACTORY(g_object_new(view_factory_get_type(), nullptr));
    gst_rtsp_media_factory_set_media_gtype(factory, view_media_get_type());
    m_access.permit(factory, stream.serial, view.name);
    served.factory = GST_RTSP_MEDIA_FACTORY(g_object_ref(factory));
    gst_rtsp_media_factory_set_launch(factory, served.channel->mediaLaunch().toUtf8().constData());
    // One media per view, whoever watches: the view is dewarped and encoded once for all its clients.
    gst_rtsp_media_factory_set_shared(factory, TRUE);
    g_signal_connect_data(factory, "media-configure", G_CALLBACK(onMediaConfigure),
                          new MediaLink{served.channel, nullptr, source->glContext(), stream.serial, view.name},
                          freeMediaLink, GConnectFlags(0));
    GstRTSPMountPoints *mounts = gst_rtsp_server_get_mount_points(m_rtsp);
    gst_rtsp_mount_points_add_factory(mounts, served.path.toUtf8().constData(), factory);
    g_object_unref(mounts);

    logView(stream, view, "Serving", served.path);
    if (!m_options.publishBase.isEmpty()) {
        // From this server over loopback, as a client would watch it.
        const bool wildcard = m_options.address == QLatin1String("0.0.0.0") || m_options.address == QLatin1String("::");
        QString host = wildcard ? QStringLiteral("127.0.0.1") : m_options.address;
        if (host.contains(QLatin1Char(':')))
            host = QLatin1Char('[') + host + QLatin1Char(']');
        const ViewPublisher::Source source{
            QStringLiteral("%1://%2:%3%4")
                .arg(m_access.hasTls() ? QLatin1String("rtsps") : QLatin1String("rtsp"), host)
                .arg(m_port)
                .arg(served.path),
            m_publisherUser, m_publisherPassword};
        served.publisher =
            new ViewPublisher(QStringLiteral("\"%1\" of stream %2").arg(view.name, stream.serial), source,
                              ViewPublisher::targetFor(m_options.publishBase, stream.serial, view.name), this);
        served.publisher->start();
    }
    m_views.insert(key(stream.serial, view.name), served);
}

void OstrevanServer::removeView(const QString &k)
{
    const Served served = m_views.take(k);
    if (!served.channel)
        return;
    GstRTSPMountPoints *mounts = gst_rtsp_server_get_mount_points(m_rtsp);
    gst_rtsp_mount_points_remove_factory(mounts, served.path.toUtf8().constData());
    g_object_unref(mounts);
    g_object_unref(served.factory);
    delete served.publisher;
    // Watching clients get the end of the stream, then their sessions are closed.
    served.channel->finish();
    if (StreamSource *source = m_sources.value(served.streamSerial))
        source->removeView(served.channel);
    const QString path = served.path;
    QTimer::singleShot(1000, this, [this, path] { closeSessions(path); });
}

void OstrevanServer::closeSessions(const QString &path)
{
    // A view of the same path may have come back meanwhile: its new clients stay.
    for (const Served &served : qAsConst(m_views)) {
        if (served.path == path)
            return;
    }
    const QByteArray bytes = path.toUtf8();
    endSessions(m_rtsp, [bytes](GstRTSPSession *session) {
        gint matched = 0;
        GstRTSPSessionMedia *media = gst_rtsp_session_get_media(session, bytes.constData(), &matched);
        return media && matched == bytes.size();
    });
}

void OstrevanServer::apply(const ServerConfig &config)
{
    // Views that go away, or whose stream changed its source: the source comes from the stream.
    for (const ServedStream &old : m_config.streams()) {
        const ServedStream *now = config.stream(old.serial);
        const bool sourceChanged = now && !now->sameSource(old);
        for (const ServedView &view : old.views) {
            if (!now || !now->view(view.name) || sourceChanged) {
                logView(old, view, "Removed", mountPath(old.serial, view.name));
                removeView(key(old.serial, view.name));
            }
        }
        if (!now || sourceChanged)
            delete m_sources.take(old.serial);
    }
    for (const ServedStream &stream : config.streams()) {
        const ServedStream *old = m_config.stream(stream.serial);
        const bool lensChanged = old && !old->sameLens(stream);
        for (const ServedView &view : stream.views) {
            const auto it = m_views.constFind(key(stream.serial, view.name));
            if (it == m_views.constEnd()) {
                addView(stream, view);
                continue;
            }
            const ServedView *before = old ? old->view(view.name) : nullptr;
            // Another mode is another picture size: the view starts over.
            if (before && before->layout.mode != view.layout.mode) {
                const QString served = it.key();
                logView(stream, view, "Removed", it->path);
                removeView(served);
                addView(stream, view);
                continue;
            }
            if (!before || *before != view || lensChanged) {
                it->channel->setGeometry(stream.lens(), view.aim(), view.layout);
                logView(stream, view, "Updated", it->path);
            }
        }
    }
    if (config.viewCount() == 0)
        qCInfo(lcServer, "No active views to serve");
    m_config = config;
}

void OstrevanServer::sampleRates()
{
    const qint64 now = m_uptime.elapsed();
    QHash<QString, Rate> rates;
    for (auto it = m_views.cbegin(); it != m_views.cend(); ++it) {
        Rate rate{it->channel->framesServed(), now, 0.0};
        const auto before = m_rates.constFind(it.key());
        if (before != m_rates.constEnd() && now > before->atMs && rate.frames >= before->frames)
            rate.fps = double(rate.frames - before->frames) * 1000.0 / double(now - before->atMs);
        rates.insert(it.key(), rate);
    }
    m_rates = rates;
}

namespace {

// The sessions playing each mount path.
QHash<QByteArray, int> playingSessions(GstRTSPServer *server, const QList<QByteArray> &paths)
{
    QHash<QByteArray, int> counts;
    GstRTSPSessionPool *pool = gst_rtsp_server_get_session_pool(server);
    GList *sessions = gst_rtsp_session_pool_filter(pool, nullptr, nullptr);
    for (GList *s = sessions; s; s = s->next) {
        for (const QByteArray &path : paths) {
            gint matched = 0;
            GstRTSPSessionMedia *media =
                gst_rtsp_session_get_media(GST_RTSP_SESSION(s->data), path.constData(), &matched);
            if (media && matched == path.size() &&
                gst_rtsp_session_media_get_rtsp_state(media) == GST_RTSP_STATE_PLAYING)
                ++counts[path];
        }
    }
    g_list_free_full(sessions, g_object_unref);
    g_object_unref(pool);
    return counts;
}

} // namespace

int OstrevanServer::statusPort() const
{
    return m_status ? m_status->port() : -1;
}

ServerStatus OstrevanServer::status() const
{
    ServerStatus status;
    status.version = QCoreApplication::applicationVersion();
    status.uptimeSeconds = m_uptime.elapsed() / 1000;
    QList<QByteArray> paths;
    for (const Served &served : m_views)
        paths.append(served.path.toUtf8());
    const QHash<QByteArray, int> clients = m_rtsp ? playingSessions(m_rtsp, paths) : QHash<QByteArray, int>();
    for (const ServedStream &stream : m_config.streams()) {
        for (const ServedView &view : stream.views) {
            const auto it = m_views.constFind(key(stream.serial, view.name));
            if (it == m_views.constEnd())
                continue;
            ServerStatus::View v;
            v.streamSerial = stream.serial;
            v.name = view.name;
            v.address = address(it->path);
            v.serving = it->channel->serving();
            v.clients = clients.value(it->path.toUtf8());
            v.framesServed = it->channel->framesServed();
            v.fps = m_rates.value(it.key()).fps;
            v.lastError = it->channel->lastError();
            status.views.append(v);
        }
        if (const StreamSource *source = m_sources.value(stream.serial)) {
            ServerStatus::Source s;
            s.streamSerial = stream.serial;
            s.address = AppLogging::withoutPasswords(stream.url);
            s.state = source->state();
            s.framesDecoded = source->framesDecoded();
            s.reconnects = source->restarts();
            s.lastError = AppLogging::withoutPasswords(source->lastError());
            status.sources.append(s);
        }
    }
    return status;
}

void OstrevanServer::logStats() const
{
    for (const StreamSource *source : m_sources) {
        qCInfo(lcServer, "Stats: stream %s decoded %llu frames (%d restarts)", qUtf8Printable(source->serial()),
               static_cast<unsigned long long>(source->framesDecoded()), source->restarts());
    }
    for (const Served &served : m_views) {
        qCInfo(lcServer, "Stats: view \"%s\" of stream %s served %llu frames (%llu dewarped in bands)",
               qUtf8Printable(served.name), qUtf8Printable(served.streamSerial),
               static_cast<unsigned long long>(served.channel->framesServed()),
               static_cast<unsigned long long>(served.channel->framesInBands()));
    }
}
