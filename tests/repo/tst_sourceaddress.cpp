// SourceAddress: every address form, odd and hostile values kept literal, clear errors, and the
// address made from a stream's url.
#include "repo/sourceaddress.h"

#include <QtTest>

class TestSourceAddress : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void forStream_data();
    void forStream();
};

void TestSourceAddress::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("element"); // empty: refused
    QTest::addColumn<QString>("property");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("live");
    QTest::addColumn<QString>("error"); // a part of the message

    const QString none;
    QTest::newRow("testvideo") << "testvideo"
                               << "videotestsrc" << none << none << true << none;
    QTest::newRow("testvideo:") << "testvideo:"
                                << "videotestsrc" << none << none << true << none;
    QTest::newRow("file") << "file:/v/a.mp4"
                          << "filesrc"
                          << "location"
                          << "/v/a.mp4" << false << none;
    QTest::newRow("file drive letter") << "file:C:/v/a.mp4"
                                       << "filesrc"
                                       << "location"
                                       << "C:/v/a.mp4" << false << none;
    QTest::newRow("file drive letter backslashes") << "file:C:\\v\\a.mp4"
                                                   << "filesrc"
                                                   << "location"
                                                   << "C:\\v\\a.mp4" << false << none;
    QTest::newRow("file every prefix removed") << "file:/a/file:b"
                                               << "filesrc"
                                               << "location"
                                               << "/a/b" << false << none;
    QTest::newRow("file spaces kept") << "file: /v/a b.mp4 "
                                      << "filesrc"
                                      << "location"
                                      << " /v/a b.mp4 " << false << none;
    QTest::newRow("file quote bang") << "file:/tmp/a\" ! fakesink name=evil \""
                                     << "filesrc"
                                     << "location"
                                     << "/tmp/a\" ! fakesink name=evil \"" << false << none;
    QTest::newRow("file quoted whole") << "file:\"/tmp/a.mp4\""
                                       << "filesrc"
                                       << "location"
                                       << "\"/tmp/a.mp4\"" << false << none;
    QTest::newRow("file newline") << "file:/tmp/a\n! fakesink"
                                  << "filesrc"
                                  << "location"
                                  << "/tmp/a\n! fakesink" << false << none;
    QTest::newRow("file NULL") << "file:NULL"
                               << "filesrc"
                               << "location"
                               << "NULL" << false << none;
    QTest::newRow("file empty") << "file:" << none << none << none << false << "names no file";
    QTest::newRow("zmq") << "zmq:tcp://127.0.0.1:5555"
                         << "zmqsrc"
                         << "endpoint"
                         << "tcp://127.0.0.1:5555" << true << none;
    QTest::newRow("zmq empty") << "zmq:" << none << none << none << false << "names no ZeroMQ endpoint";
    QTest::newRow("rtsp") << "rtsp:rtsp://10.0.0.1/live"
                          << "rtspsrc"
                          << "location"
                          << "rtsp://10.0.0.1/live" << true << none;
    QTest::newRow("rtsps") << "rtsp:rtsps://10.0.0.1/live"
                           << "rtspsrc"
                           << "location"
                           << "rtsps://10.0.0.1/live" << true << none;
    QTest::newRow("rtsp without rtsp://")
        << "rtsp:http://10.0.0.1/live" << none << none << none << false << "holds no rtsp:// address";
    QTest::newRow("uri http") << "uri:http://10.0.0.1/a.mp4"
                              << "urisourcebin"
                              << "uri"
                              << "http://10.0.0.1/a.mp4" << false << none;
    QTest::newRow("uri file") << "uri:file:///v/a.mp4"
                              << "urisourcebin"
                              << "uri"
                              << "file:///v/a.mp4" << false << none;
    QTest::newRow("uri udp is live") << "uri:udp://0.0.0.0:5000"
                                     << "urisourcebin"
                                     << "uri"
                                     << "udp://0.0.0.0:5000" << true << none;
    QTest::newRow("uri quote bang") << "uri:file:///x\" ! fakesink name=evil"
                                    << "urisourcebin"
                                    << "uri"
                                    << "file:///x\" ! fakesink name=evil" << false << none;
    QTest::newRow("uri empty") << "uri:" << none << none << none << false << "holds no usable URI";
    QTest::newRow("uri drive letter") << "uri:C:/v/a.mp4" << none << none << none << false << "holds no usable URI";
    QTest::newRow("uri no scheme") << "uri:/v/a.mp4" << none << none << none << false << "holds no usable URI";
    QTest::newRow("empty") << "" << none << none << none << false << "is not a video source address";
    QTest::newRow("spaces") << "  " << none << none << none << false << "is not a video source address";
    QTest::newRow("leading space") << " file:/v/a.mp4" << none << none << none << false
                                   << "is not a video source address";
    QTest::newRow("File: is not file:") << "File:/v/a.mp4" << none << none << none << false
                                        << "is not a video source address";
    QTest::newRow("unknown scheme") << "http://10.0.0.1/a.mp4" << none << none << none << false
                                    << "is not a video source address";
    QTest::newRow("bare path") << "/v/a.mp4" << none << none << none << false << "is not a video source address";
    QTest::newRow("NUL") << QString::fromLatin1("file:/v/a\0b", 11) << none << none << none << false
                         << "holds a NUL character";
}

void TestSourceAddress::parse()
{
    QFETCH(QString, text);
    QFETCH(QString, element);
    QFETCH(QString, property);
    QFETCH(QString, value);
    QFETCH(bool, live);
    QFETCH(QString, error);

    const SourceAddress address = SourceAddress::parse(text.toStdString());
    QCOMPARE(address.isValid(), error.isEmpty());
    QCOMPARE(QString::fromStdString(address.element()), element);
    QCOMPARE(address.isLive(), live);
    if (property.isEmpty()) {
        QVERIFY(address.properties().empty());
    } else {
        QCOMPARE(address.properties().size(), size_t(1));
        QCOMPARE(QString::fromStdString(address.properties().front().first), property);
        QCOMPARE(QString::fromStdString(address.properties().front().second), value);
    }
    const QString message = QString::fromStdString(address.error());
    if (error.isEmpty()) {
        QVERIFY(message.isEmpty());
    } else {
        // The message names what was given, so the operator can find it.
        QVERIFY2(message.contains(error), qPrintable(message));
        QVERIFY2(message.startsWith(QLatin1Char('"') + text + QLatin1Char('"')), qPrintable(message));
    }
}

void TestSourceAddress::forStream_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("zmqPort");
    QTest::addColumn<QString>("address");

    QTest::newRow("gateway reference") << "ref://GW-1/1"
                                       << "10.0.0.5" << 5555 << "zmq:tcp://10.0.0.5:5555";
    QTest::newRow("gateway port unknown") << "ref://GW-1/1"
                                          << "10.0.0.5" << 0 << "";
    QTest::newRow("rtsp") << "rtsp://10.0.0.9/live"
                          << "" << 0 << "rtsp:rtsp://10.0.0.9/live";
    QTest::newRow("absolute path") << "/video/lobby.mp4"
                                   << "" << 0 << "file:/video/lobby.mp4";
    QTest::newRow("drive letter") << "C:/video/lobby.mp4"
                                  << "" << 0 << "file:C:/video/lobby.mp4";
    QTest::newRow("http") << "http://10.0.0.9/cam.mjpg"
                          << "" << 0 << "uri:http://10.0.0.9/cam.mjpg";
    QTest::newRow("upper-case RTSP") << "RTSP://x"
                                     << "" << 0 << "uri:RTSP://x";
    QTest::newRow("empty") << ""
                           << "" << 0 << "uri:";
}

void TestSourceAddress::forStream()
{
    QFETCH(QString, url);
    QFETCH(QString, host);
    QFETCH(int, zmqPort);
    QFETCH(QString, address);
    QCOMPARE(QString::fromStdString(SourceAddress::forStream(url.toStdString(), host.toStdString(), zmqPort)), address);
}

QTEST_APPLESS_MAIN(TestSourceAddress)
#include "tst_sourceaddress.moc"
