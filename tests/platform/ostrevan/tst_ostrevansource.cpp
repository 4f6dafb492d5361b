// The streaming server's source pipelines: a hostile address reaches the first element as one
// literal property value and never adds an element.
#include "platform/ostrevan/streamsource.h"
#include "platform/zmq/zmqelements.h"
#include "support/hostileaddresses.h"

#include <QtTest>
#include <gst/gst.h>

class TstOstrevanSource : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        gst_init(nullptr, nullptr);
        QVERIFY(quillon_zmq_register_static());
    }

    void hostileAddressStaysOneValue_data() { HostileAddresses::addRows(); }

    void hostileAddressStaysOneValue()
    {
        QFETCH(QString, address);
        QFETCH(QString, factory);
        QFETCH(QByteArray, property);
        QFETCH(QString, value);

        bool live = false;
        QString error;
        GstElement *pipeline = StreamSource::buildPipeline(address, &live, &error);
        QVERIFY2(pipeline, qPrintable(error));
        QStringList expected{factory, "appsink", "capsfilter", "decodebin", "videoconvert"};
        expected.sort();
        const QStringList names = HostileAddresses::factoryNames(pipeline);
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
