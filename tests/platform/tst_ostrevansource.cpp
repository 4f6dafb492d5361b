// The streaming server's source pipelines: a hostile address reaches the first element as one
// literal property value and never adds an element.
#include "platform/ostrevan/streamsource.h"
#include "platform/zmq/zmqelements.h"

#include <QtTest>
#include <gst/gst.h>

namespace {

// Top-level elements of a pipeline, by factory name, sorted.
QStringList factoryNames(GstElement *pipeline)
{
    QStringList names;
    GstIterator *it = gst_bin_iterate_elements(GST_BIN(pipeline));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        GstElementFactory *factory = gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item)));
        names << QString::fromLatin1(factory ? GST_OBJECT_NAME(factory) : "?");
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    names.sort();
    return names;
}

} // namespace

class TstOstrevanSource : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        gst_init(nullptr, nullptr);
        QVERIFY(quillon_zmq_register_static());
    }

    void hostileAddressStaysOneValue_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("factory");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QString>("value");

        QTest::newRow("file quote bang") << "file:/nonexistent/a\" ! fakesink name=evil \""
                                         << "filesrc" << QByteArray("location")
                                         << "/nonexistent/a\" ! fakesink name=evil \"";
        QTest::newRow("file bang") << "file:/nonexistent/a ! identity name=evil"
                                   << "filesrc" << QByteArray("location") << "/nonexistent/a ! identity name=evil";
        QTest::newRow("file backslash quote")
            << "file:/nonexistent/\\\" ! fakesink name=evil"
            << "filesrc" << QByteArray("location") << "/nonexistent/\\\" ! fakesink name=evil";
        QTest::newRow("file quoted whole") << "file:\"/nonexistent/a.mp4\""
                                           << "filesrc" << QByteArray("location") << "\"/nonexistent/a.mp4\"";
        QTest::newRow("file newline") << "file:/nonexistent/a\n! fakesink name=evil"
                                      << "filesrc" << QByteArray("location") << "/nonexistent/a\n! fakesink name=evil";
        QTest::newRow("file NULL") << "file:NULL"
                                   << "filesrc" << QByteArray("location") << "NULL";
        QTest::newRow("zmq quote bang") << "zmq:tcp://127.0.0.1:1\" ! fakesink name=evil"
                                        << "zmqsrc" << QByteArray("endpoint")
                                        << "tcp://127.0.0.1:1\" ! fakesink name=evil";
        QTest::newRow("rtsp quote bang") << "rtsp:rtsp://127.0.0.1:1/a\" ! fakesink name=evil \""
                                         << "rtspsrc" << QByteArray("location")
                                         << "rtsp://127.0.0.1:1/a\" ! fakesink name=evil \"";
        QTest::newRow("uri quote bang") << "uri:file:///nonexistent\" ! fakesink name=evil"
                                        << "urisourcebin" << QByteArray("uri")
                                        << "file:///nonexistent\" ! fakesink name=evil";
    }

    void hostileAddressStaysOneValue()
    {
        QFETCH(QString, url);
        QFETCH(QString, factory);
        QFETCH(QByteArray, property);
        QFETCH(QString, value);

        bool live = false;
        QString error;
        GstElement *pipeline = StreamSource::buildPipeline(url, &live, &error);
        QVERIFY2(pipeline, qPrintable(error));
        QStringList expected{factory, "appsink", "capsfilter", "decodebin", "videoconvert"};
        expected.sort();
        const QStringList names = factoryNames(pipeline);
        GstElement *source = gst_bin_get_by_name(GST_BIN(pipeline), "source");
        gchar *set = nullptr;
        if (source)
            g_object_get(source, property.constData(), &set, nullptr);
        const QString actual = QString::fromUtf8(set);
        g_free(set);
        if (source)
            gst_object_unref(source);
        GstElement *evil = gst_bin_get_by_name(GST_BIN(pipeline), "evil");
        if (evil)
            gst_object_unref(evil);
        gst_object_unref(pipeline);

        QCOMPARE(names, expected);
        QVERIFY(!evil);
        QVERIFY(source);
        QCOMPARE(actual, value);
    }

    void unusableAddressIsRefusedWithItsReason_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("reason");
        QTest::newRow("unknown form") << "http://10.0.0.1/a.mp4"
                                      << "is not a video source address";
        QTest::newRow("rtsp without rtsp://") << "rtsp:http://x"
                                              << "holds no rtsp:// address";
        QTest::newRow("uri without scheme") << "uri:/v/a.mp4"
                                            << "holds no usable URI";
    }

    void unusableAddressIsRefusedWithItsReason()
    {
        QFETCH(QString, url);
        QFETCH(QString, reason);
        bool live = false;
        QString error;
        QVERIFY(!StreamSource::buildPipeline(url, &live, &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TstOstrevanSource)
#include "tst_ostrevansource.moc"
