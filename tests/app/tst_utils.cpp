#include "app/utils.h"

#include <QtTest>

class TestUtils : public QObject
{
    Q_OBJECT

private slots:
    void init() { Utils::create(); }
    void cleanup() { Utils::destroy(); }

    void urlPrefixTests_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("file");
        QTest::addColumn<bool>("zmq");
        QTest::addColumn<bool>("rtsp");
        QTest::newRow("root only") << "/" << true << false << false;
        QTest::newRow("absolute path") << "/home/v.mp4" << true << false << false;
        QTest::newRow("drive letter") << "C:/v.mp4" << true << false << false;
        QTest::newRow("drive letter backslash") << "d:\\clips\\a.mp4" << true << false << false;
        QTest::newRow("file scheme") << "file:/v.mp4" << false << false << false;
        QTest::newRow("empty") << "" << false << false << false;
        QTest::newRow("one letter") << "C" << false << false << false;
        QTest::newRow("relative path") << "videos/a.mp4" << false << false << false;
        QTest::newRow("ref scheme") << "ref://gateway/7" << false << true << false;
        QTest::newRow("ref upper case") << "REF://x" << false << false << false;
        QTest::newRow("ref later in text") << "x ref://y" << false << false << false;
        QTest::newRow("rtsp") << "rtsp://cam.local:554/stream1" << false << false << true;
        QTest::newRow("rtsp upper case") << "RTSP://x" << false << false << false;
        QTest::newRow("rtsps is not rtsp") << "rtsps://x" << false << false << false;
        QTest::newRow("zmq source string") << "zmq:tcp://127.0.0.1:5555" << false << false << false;
    }

    void urlPrefixTests()
    {
        QFETCH(QString, url);
        QFETCH(bool, file);
        QFETCH(bool, zmq);
        QFETCH(bool, rtsp);
        const Utils *utils = Utils::instance();
        QCOMPARE(utils->isFileUrl(url), file);
        QCOMPARE(utils->isZmqUrl(url), zmq);
        QCOMPARE(utils->isRtspUrl(url), rtsp);
    }

    // One row per form; the full table is SourceAddress's own.
    void sourceAddressOfAStream_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("zmqPort");
        QTest::addColumn<QString>("address");
        QTest::newRow("gateway reference") << "ref://gateway/7" << 5555 << "zmq:tcp://10.0.0.1:5555";
        QTest::newRow("gateway port not known yet") << "ref://gateway/7" << 0 << "";
        QTest::newRow("file") << "/v/a.mp4" << 0 << "file:/v/a.mp4";
        QTest::newRow("rtsp") << "rtsp://cam/1" << 0 << "rtsp:rtsp://cam/1";
        QTest::newRow("other") << "http://cam/a.mjpg" << 0 << "uri:http://cam/a.mjpg";
    }

    void sourceAddressOfAStream()
    {
        QFETCH(QString, url);
        QFETCH(int, zmqPort);
        QFETCH(QString, address);
        QCOMPARE(Utils::instance()->sourceAddress(url, QStringLiteral("10.0.0.1"), zmqPort), address);
    }
};

QTEST_GUILESS_MAIN(TestUtils)
#include "tst_utils.moc"
