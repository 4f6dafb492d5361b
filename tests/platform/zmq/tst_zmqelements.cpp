// zmqsrc and zmqsink on loopback: registration with and without a plug-in
// path, a decoded round trip, ffmpeg's zmq output, stopping without a
// publisher, a restarting publisher and bad endpoints.
#include "app/startup.h"
#include "support/freeport.h"
#include "support/sanitizerruntime.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <gst/app/gstappsink.h>
#include <gst/base/gstbasesrc.h>
#include <gst/gst.h>
#include <zmq.h>

namespace {

// Owns a pipeline and sets it to NULL on the way out.
struct Pipeline
{
    explicit Pipeline(const QString &line)
    {
        GError *error = nullptr;
        element = gst_parse_launch(line.toUtf8().constData(), &error);
        if (error) {
            qWarning("%s", error->message);
            g_error_free(error);
        }
        if (element)
            gst_object_ref_sink(element);
    }
    // The endpoint is set as a property of the named element, never written into the line.
    Pipeline(const QString &line, const char *name, const QString &endpoint) : Pipeline(line)
    {
        if (GstElement *e = element ? byName(name) : nullptr)
            g_object_set(e, "endpoint", endpoint.toUtf8().constData(), nullptr);
    }
    ~Pipeline()
    {
        if (element) {
            gst_element_set_state(element, GST_STATE_NULL);
            gst_object_unref(element);
        }
    }
    GstElement *byName(const char *name) const
    {
        GstElement *e = gst_bin_get_by_name(GST_BIN(element), name);
        if (e)
            gst_object_unref(e);
        return e;
    }
    bool play() const { return gst_element_set_state(element, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE; }
    // The first error on the bus within the time-out, or an empty text.
    QString error(GstClockTime timeout) const
    {
        GstBus *bus = gst_element_get_bus(element);
        GstMessage *msg = gst_bus_timed_pop_filtered(bus, timeout, GST_MESSAGE_ERROR);
        gst_object_unref(bus);
        if (!msg)
            return QString();
        GError *err = nullptr;
        gst_message_parse_error(msg, &err, nullptr);
        QString text = QString::fromUtf8(err ? err->message : "error");
        if (err)
            g_error_free(err);
        gst_message_unref(msg);
        return text;
    }
    GstElement *element = nullptr;
};

const QString kPublisherLine =
    QStringLiteral("videotestsrc is-live=true ! video/x-raw,width=320,height=240,framerate=15/1 ! "
                   "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=15 ! "
                   "mpegtsmux alignment=7 ! zmqsink name=sink");

const QString kSubscriberLine =
    QStringLiteral("zmqsrc name=src is-live=true ! decodebin ! videoconvert ! "
                   "video/x-raw,format=I420 ! appsink name=sink sync=false max-buffers=4 drop=true");

// Pulls one decoded frame within the time-out; returns its width (0: none).
int pullFrameWidth(const Pipeline &subscriber, GstClockTime timeout)
{
    GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(subscriber.byName("sink")), timeout);
    if (!sample)
        return 0;
    int width = 0;
    GstStructure *s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
    gst_structure_get_int(s, "width", &width);
    gst_sample_unref(sample);
    return width;
}

} // namespace

class TestZmqElements : public QObject
{
    Q_OBJECT

private slots:
    void elementsAreRegisteredWithoutPluginPath();
    void pluginLibraryLoadsThroughPluginPath();
    void sinkToSourceRoundTripDecodes();
    void ffmpegZmqOutputDecodes();
    void stoppingWithoutPublisherReturnsPromptly();
    void restartedPublisherIsPickedUp();
    void badEndpointsReportErrors_data();
    void badEndpointsReportErrors();
    void messagesAboveTheSizeLimitAreNeverDelivered();
};

void TestZmqElements::elementsAreRegisteredWithoutPluginPath()
{
    QVERIFY(qEnvironmentVariableIsEmpty("GST_PLUGIN_PATH"));
    GstElement *src = gst_element_factory_make("zmqsrc", nullptr);
    QVERIFY(src);
    gst_object_ref_sink(src);
    QVERIFY(g_object_class_find_property(G_OBJECT_GET_CLASS(src), "endpoint"));
    QVERIFY(g_object_class_find_property(G_OBJECT_GET_CLASS(src), "is-live"));
    QVERIFY(!gst_base_src_is_live(GST_BASE_SRC(src)));
    g_object_set(src, "is-live", TRUE, "endpoint", "tcp://127.0.0.1:5555", nullptr);
    QVERIFY(gst_base_src_is_live(GST_BASE_SRC(src)));
    gchar *endpoint = nullptr;
    g_object_get(src, "endpoint", &endpoint, nullptr);
    QCOMPARE(QString::fromLatin1(endpoint), QStringLiteral("tcp://127.0.0.1:5555"));
    g_free(endpoint);
    gst_object_unref(src);

    GstElement *sink = gst_element_factory_make("zmqsink", nullptr);
    QVERIFY(sink);
    gst_object_ref_sink(sink);
    gst_object_unref(sink);
}

void TestZmqElements::pluginLibraryLoadsThroughPluginPath()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess inspect;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("GST_PLUGIN_PATH"), QStringLiteral(QUILLON_ZMQ_PLUGIN_DIR));
    env.insert(QStringLiteral("GST_REGISTRY"), dir.filePath(QStringLiteral("registry.bin")));
    preloadSanitizerRuntime(&env);
    inspect.setProcessEnvironment(env);
    inspect.start(QStringLiteral("gst-inspect-1.0"), {QStringLiteral("quillonzmq")});
    QVERIFY(inspect.waitForFinished(60000));
    const QString out = QString::fromUtf8(inspect.readAllStandardOutput());
    QCOMPARE(inspect.exitCode(), 0);
    QVERIFY2(out.contains(QStringLiteral("zmqsrc")) && out.contains(QStringLiteral("zmqsink")), qPrintable(out));
    QVERIFY(out.contains(QStringLiteral("libgstquillonzmq.so")));
}

void TestZmqElements::sinkToSourceRoundTripDecodes()
{
    Pipeline publisher(kPublisherLine, "sink", QStringLiteral("tcp://127.0.0.1:*"));
    QVERIFY(publisher.element);
    QVERIFY(publisher.play());
    gchar *bound = nullptr;
    g_object_get(publisher.byName("sink"), "bound-endpoint", &bound, nullptr);
    const QString endpoint = QString::fromLatin1(bound);
    g_free(bound);
    QVERIFY2(endpoint.startsWith(QStringLiteral("tcp://127.0.0.1:")) && !endpoint.endsWith(QLatin1Char('*')),
             qPrintable(endpoint));

    Pipeline subscriber(kSubscriberLine, "src", endpoint);
    QVERIFY(subscriber.element);
    QVERIFY(subscriber.play());
    QCOMPARE(pullFrameWidth(subscriber, 15 * GST_SECOND), 320);
    QCOMPARE(pullFrameWidth(subscriber, 5 * GST_SECOND), 320);
}

void TestZmqElements::ffmpegZmqOutputDecodes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString clip = dir.filePath(QStringLiteral("in.mp4"));
    QProcess make;
    make.start(QStringLiteral("ffmpeg"),
               {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=15", "-t", "2",
                "-c:v", "libx264", "-g", "15", "-pix_fmt", "yuv420p", clip});
    QVERIFY(make.waitForFinished(60000));
    QCOMPARE(make.exitCode(), 0);

    const int port = freeLoopbackPort();
    QVERIFY(port > 0);
    const QString endpoint = QStringLiteral("tcp://127.0.0.1:%1").arg(port);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-hide_banner", "-loglevel", "error", "-re", "-stream_loop", "-1", "-i",
                                            clip, "-t", "30", "-c", "copy", "-f", "mpegts", "zmq:" + endpoint});
    QVERIFY(ffmpeg.waitForStarted(10000));

    Pipeline subscriber(kSubscriberLine, "src", endpoint);
    QVERIFY(subscriber.play());
    const int width = pullFrameWidth(subscriber, 20 * GST_SECOND);
    ffmpeg.kill();
    ffmpeg.waitForFinished(10000);
    QCOMPARE(width, 320);
}

void TestZmqElements::stoppingWithoutPublisherReturnsPromptly()
{
    const int port = freeLoopbackPort();
    Pipeline subscriber(kSubscriberLine, "src", QStringLiteral("tcp://127.0.0.1:%1").arg(port));
    QVERIFY(subscriber.play());
    QTest::qWait(300);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(gst_element_set_state(subscriber.element, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    // A hang would stop here for ever; anything near a second is a fault.
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    // And again, straight after starting.
    QVERIFY(subscriber.play());
    QCOMPARE(gst_element_set_state(subscriber.element, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
}

void TestZmqElements::restartedPublisherIsPickedUp()
{
    const int port = freeLoopbackPort();
    const QString endpoint = QStringLiteral("tcp://127.0.0.1:%1").arg(port);
    Pipeline subscriber(kSubscriberLine, "src", endpoint);
    QVERIFY(subscriber.play());
    {
        Pipeline publisher(kPublisherLine, "sink", endpoint);
        QVERIFY(publisher.play());
        QCOMPARE(pullFrameWidth(subscriber, 15 * GST_SECOND), 320);
    }
    // Publisher gone: drain what is left, then nothing arrives.
    while (pullFrameWidth(subscriber, GST_SECOND / 2) != 0) {
    }
    QCOMPARE(pullFrameWidth(subscriber, GST_SECOND / 2), 0);
    {
        Pipeline publisher(kPublisherLine, "sink", endpoint);
        QVERIFY(publisher.play());
        QCOMPARE(pullFrameWidth(subscriber, 15 * GST_SECOND), 320);
    }
}

void TestZmqElements::badEndpointsReportErrors_data()
{
    QTest::addColumn<QString>("factory");
    QTest::addColumn<QString>("endpoint");
    QTest::newRow("src garbage") << "zmqsrc"
                                 << "not an endpoint";
    QTest::newRow("src empty") << "zmqsrc"
                               << "";
    QTest::newRow("src unknown transport") << "zmqsrc"
                                           << "bogus://127.0.0.1:1";
    QTest::newRow("sink garbage") << "zmqsink"
                                  << "not an endpoint";
    QTest::newRow("sink foreign address") << "zmqsink"
                                          << "tcp://192.0.2.1:1";
}

void TestZmqElements::badEndpointsReportErrors()
{
    QFETCH(QString, factory);
    QFETCH(QString, endpoint);
    GstElement *element = gst_element_factory_make(factory.toLatin1().constData(), "under-test");
    QVERIFY(element);
    g_object_set(element, "endpoint", endpoint.toUtf8().constData(), nullptr);
    GstElement *pipeline = gst_pipeline_new(nullptr);
    gst_object_ref_sink(pipeline);
    gst_bin_add(GST_BIN(pipeline), element);
    GstElement *other = gst_element_factory_make(factory == QLatin1String("zmqsrc") ? "fakesink" : "fakesrc", nullptr);
    gst_bin_add(GST_BIN(pipeline), other);
    if (factory == QLatin1String("zmqsrc"))
        gst_element_link(element, other);
    else
        gst_element_link(other, element);

    QCOMPARE(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *msg = gst_bus_timed_pop_filtered(bus, 5 * GST_SECOND, GST_MESSAGE_ERROR);
    QVERIFY(msg);
    QCOMPARE(QString::fromLatin1(GST_OBJECT_NAME(GST_MESSAGE_SRC(msg))), QStringLiteral("under-test"));
    gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
}

// A publisher alternating messages above and below the limit: the source holds
// at most queue-length messages, and only those within max-message-size arrive.
void TestZmqElements::messagesAboveTheSizeLimitAreNeverDelivered()
{
    GstElement *plain = gst_element_factory_make("zmqsrc", nullptr);
    QVERIFY(plain);
    gst_object_ref_sink(plain);
    gint64 maxSize = 0;
    int queue = 0;
    g_object_get(plain, "max-message-size", &maxSize, "queue-length", &queue, nullptr);
    gst_object_unref(plain);
    QCOMPARE(maxSize, gint64(2 * 1024 * 1024));
    QCOMPARE(queue, 64);

    const int port = freeLoopbackPort();
    QVERIFY(port > 0);
    const QByteArray endpoint = QStringLiteral("tcp://127.0.0.1:%1").arg(port).toLatin1();
    void *context = zmq_ctx_new();
    void *publisher = zmq_socket(context, ZMQ_PUB);
    const int linger = 0;
    zmq_setsockopt(publisher, ZMQ_LINGER, &linger, sizeof linger);
    QCOMPARE(zmq_bind(publisher, endpoint.constData()), 0);

    Pipeline subscriber(QStringLiteral("zmqsrc name=src endpoint=\"%1\" max-message-size=1000 queue-length=4 ! "
                                       "appsink name=sink sync=false")
                            .arg(QString::fromLatin1(endpoint)));
    QVERIFY(subscriber.element);
    QVERIFY(subscriber.play());
    GstAppSink *sink = GST_APP_SINK(subscriber.byName("sink"));
    const QByteArray big(4000, 'B'), small(500, 'S');
    int bigSent = 0;
    bool connected = false;
    gsize largest = 0;
    QElapsedTimer timer;
    timer.start();
    // Each big message costs the subscriber its connection; the small ones that
    // follow arrive once it has connected again. A big one goes out only while the
    // subscriber is connected (a small one has just arrived), three times over.
    while ((bigSent < 3 || !connected) && timer.elapsed() < 20000) {
        if (connected && bigSent < 3) {
            zmq_send(publisher, big.constData(), size_t(big.size()), ZMQ_DONTWAIT);
            ++bigSent;
            connected = false;
        }
        zmq_send(publisher, small.constData(), size_t(small.size()), ZMQ_DONTWAIT);
        while (GstSample *sample = gst_app_sink_try_pull_sample(sink, 20 * GST_MSECOND)) {
            const gsize size = gst_buffer_get_size(gst_sample_get_buffer(sample));
            largest = qMax(largest, size);
            connected = connected || size == gsize(small.size());
            gst_sample_unref(sample);
        }
    }
    zmq_close(publisher);
    zmq_ctx_term(context);
    QVERIFY2(bigSent == 3 && connected,
             qPrintable(QStringLiteral("%1 big sent, connected: %2").arg(bigSent).arg(connected)));
    QCOMPARE(largest, gsize(small.size()));
}

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QCoreApplication app(argc, argv);
    TestZmqElements test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_zmqelements.moc"
