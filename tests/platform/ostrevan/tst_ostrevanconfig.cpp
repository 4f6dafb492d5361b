// What the streaming server takes from objects.data: which views it serves, with which values,
// and which files it refuses.

#include "objectsfilewriter.h"
#include "platform/ostrevan/serverconfig.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

class TstOstrevanConfig : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

    static ObjectsFileRows oneOfEach()
    {
        ObjectsFileRows rows;
        rows.gateways = {{QStringLiteral("G1"), true}};
        StreamFileRow stream;
        stream.serialGateway = QStringLiteral("G1");
        stream.serial = QStringLiteral("S1");
        stream.url = QStringLiteral("zmq:tcp://127.0.0.1:5555");
        rows.streams = {stream};
        ViewFileRow view;
        view.serialStream = QStringLiteral("S1");
        view.name = QStringLiteral("Door");
        rows.views = {view};
        return rows;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void servesOnlyActiveViewsOfActiveFisheyeStreamsOfActiveGateways_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("served");
        QTest::newRow("everything active") << "" << true;
        QTest::newRow("gateway inactive") << "gatewayInactive" << false;
        QTest::newRow("gateway missing") << "gatewayMissing" << false;
        QTest::newRow("stream inactive") << "streamInactive" << false;
        QTest::newRow("stream not fisheye") << "notFisheye" << false;
        QTest::newRow("stream without source") << "noUrl" << false;
        QTest::newRow("lens radius 0") << "radius0" << false;
        QTest::newRow("lens fov 0") << "fov0" << false;
        QTest::newRow("view inactive") << "viewInactive" << false;
        QTest::newRow("view of an unknown stream") << "viewOrphan" << false;
        QTest::newRow("view zoom 0") << "zoom0" << false;
        QTest::newRow("view zoom 180") << "zoom180" << false;
        QTest::newRow("file from before the format version") << "version0" << true;
        QTest::newRow("panorama") << "panorama" << true;
        QTest::newRow("panorama, inactive") << "panoramaInactive" << false;
        QTest::newRow("panorama, layout not JSON") << "panoramaBroken" << false;
        QTest::newRow("unknown mode") << "unknownMode" << false;
        QTest::newRow("equisolid lens") << "equisolid" << true;
        QTest::newRow("unknown lens projection") << "unknownProjection" << false;
    }

    void servesOnlyActiveViewsOfActiveFisheyeStreamsOfActiveGateways()
    {
        QFETCH(QString, change);
        QFETCH(bool, served);
        ObjectsFileRows rows = oneOfEach();
        if (change == "gatewayInactive")
            rows.gateways[0].isActive = false;
        else if (change == "gatewayMissing")
            rows.gateways[0].serial = QStringLiteral("G2");
        else if (change == "streamInactive")
            rows.streams[0].isActive = false;
        else if (change == "notFisheye")
            rows.streams[0].isFisheye = false;
        else if (change == "noUrl")
            rows.streams[0].url.clear();
        else if (change == "radius0")
            rows.streams[0].radius = 0;
        else if (change == "fov0")
            rows.streams[0].fov = 0;
        else if (change == "viewInactive")
            rows.views[0].isActive = false;
        else if (change == "viewOrphan")
            rows.views[0].serialStream = QStringLiteral("S9");
        else if (change == "zoom0")
            rows.views[0].zoom = 0;
        else if (change == "zoom180")
            rows.views[0].zoom = 180;
        else if (change == "version0")
            rows.userVersion = 0;
        else if (change == "equisolid" || change == "unknownProjection")
            rows.lenses = {{QStringLiteral("S1"), QStringLiteral("ceiling"),
                            change == "equisolid" ? QStringLiteral("equisolid") : QStringLiteral("fisheye")}};
        if (change.startsWith("panorama") || change == "unknownMode") {
            rows.views.clear();
            rows.lenses = {{QStringLiteral("S1"), QStringLiteral("ceiling"), QStringLiteral("equidistant")}};
            rows.layouts = {{QStringLiteral("S1"), QStringLiteral("Door"),
                             change == "unknownMode" ? QStringLiteral("spiral") : QStringLiteral("panorama"),
                             change == "panoramaBroken" ? QStringLiteral("{") : QStringLiteral("{\"azimuth\": -90}"),
                             change != "panoramaInactive"}};
        }

        const QString file = path(QStringLiteral("filter.data"));
        QFile::remove(file);
        QVERIFY(ObjectsFileWriter::write(file, rows));
        ServerConfig config;
        QString error;
        QVERIFY2(config.load(file, &error), qPrintable(error));
        QCOMPARE(config.gatewayRows(), 1);
        QCOMPARE(config.streamRows(), 1);
        QCOMPARE(config.viewRows(), 1);
        QCOMPARE(config.viewCount(), served ? 1 : 0);
        QCOMPARE(config.streams().size(), served ? 1 : 0);
        if (served && change == "panorama") {
            const FisheyeLayout &layout = config.streams().at(0).views.at(0).layout;
            QCOMPARE(layout.mode, FisheyeViewMode::Panorama);
            QCOMPARE(layout.mount, FisheyeMount::Ceiling);
            QCOMPARE(layout.azimuth, -90.0f);
        }
        if (served && change == "equisolid")
            QCOMPARE(config.streams().at(0).projection, FisheyeLensProjection::Equisolid);
    }

    void sharesSplitTheStreamsSoEachIsServedOnce_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("gateways");
        QTest::newRow("one share") << 1 << QStringList();
        QTest::newRow("three shares") << 3 << QStringList();
        QTest::newRow("seven shares") << 7 << QStringList();
        QTest::newRow("two shares of one gateway") << 2 << QStringList{QStringLiteral("G2")};
        QTest::newRow("one share of two gateways") << 1 << QStringList{QStringLiteral("G1"), QStringLiteral("G3")};
    }

    // n servers with the shares 1/n .. n/n of the same gateways serve each of their streams exactly
    // once, and a stream's share is FNV-1a's (the published test vectors) of its serial.
    void sharesSplitTheStreamsSoEachIsServedOnce()
    {
        QFETCH(int, count);
        QFETCH(QStringList, gateways);
        QCOMPARE(ServerShare::hash(QString()), 0x811c9dc5u);
        QCOMPARE(ServerShare::hash(QStringLiteral("a")), 0xe40c292cu);
        QCOMPARE(ServerShare::hash(QStringLiteral("foobar")), 0xbf9cf968u);

        ObjectsFileRows rows = oneOfEach();
        rows.gateways = {{QStringLiteral("G1"), true}, {QStringLiteral("G2"), true}, {QStringLiteral("G3"), true}};
        rows.streams.clear();
        rows.views.clear();
        QSet<QString> expected;
        for (int i = 0; i < 30; ++i) {
            StreamFileRow stream = oneOfEach().streams[0];
            stream.serialGateway = QStringLiteral("G%1").arg(i % 3 + 1);
            stream.serial = QStringLiteral("CAM-%1").arg(i);
            rows.streams.append(stream);
            rows.views.append({stream.serial, QStringLiteral("Door"), 0, 0, 0, 60, true});
            if (gateways.isEmpty() || gateways.contains(stream.serialGateway))
                expected.insert(stream.serial);
        }
        // The same file for every row: each insert is a transaction of its own.
        const QString file = path(QStringLiteral("share.data"));
        if (!QFile::exists(file))
            QVERIFY(ObjectsFileWriter::write(file, rows));
        QMultiHash<QString, int> servedBy;
        for (int index = 1; index <= count; ++index) {
            ServerShare share;
            QVERIFY(share.parse(QStringLiteral("%1/%2").arg(index).arg(count)));
            share.gateways = gateways;
            ServerConfig config;
            QString error;
            QVERIFY2(config.load(file, &error, share), qPrintable(error));
            QVERIFY2(!config.streams().isEmpty(), "a share with nothing to serve");
            for (const ServedStream &stream : config.streams()) {
                servedBy.insert(stream.serial, index);
                QCOMPARE(ServerShare::hash(stream.serial) % quint32(count), quint32(index - 1));
            }
        }
        QCOMPARE(QSet<QString>(servedBy.keyBegin(), servedBy.keyEnd()), expected);
        QCOMPARE(servedBy.size(), expected.size());
    }

    void aShareIsIOfN_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("2/3") << "2/3" << true;
        QTest::newRow("1/1") << "1/1" << true;
        QTest::newRow("0/3") << "0/3" << false;
        QTest::newRow("4/3") << "4/3" << false;
        QTest::newRow("-1/3") << "-1/3" << false;
        QTest::newRow("3") << "3" << false;
        QTest::newRow("1/0") << "1/0" << false;
        QTest::newRow("a/b") << "a/b" << false;
    }

    void aShareIsIOfN()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        ServerShare share;
        QCOMPARE(share.parse(text), valid);
    }

    void readsLensAndViewValuesAsTheApplicationStoresThem()
    {
        ObjectsFileRows rows = oneOfEach();
        rows.streams[0].centerX = 511.9;
        rows.streams[0].centerY = 300;
        rows.streams[0].radius = 250.5;
        rows.streams[0].fov = 163.5;
        rows.views[0] = {QStringLiteral("S1"), QStringLiteral("Entrée hall 2"), -5.5, 12.25, 270, 33.5, true};
        const QString file = path(QStringLiteral("values.data"));
        QVERIFY(ObjectsFileWriter::write(file, rows));

        ServerConfig config;
        QString error;
        QVERIFY2(config.load(file, &error), qPrintable(error));
        QCOMPARE(config.streams().size(), 1);
        const ServedStream &s = config.streams().first();
        QCOMPARE(s.serial, QStringLiteral("S1"));
        QCOMPARE(s.gatewaySerial, QStringLiteral("G1"));
        QCOMPARE(s.url, QStringLiteral("zmq:tcp://127.0.0.1:5555"));
        QCOMPARE(s.centerX, 511);
        QCOMPARE(s.centerY, 300);
        QCOMPARE(s.radius, 250);
        QCOMPARE(s.fov, 163.5f);
        QCOMPARE(s.views.size(), 1);
        const ServedView &v = s.views.first();
        QCOMPARE(v.name, QStringLiteral("Entrée hall 2"));
        QCOMPARE(v.roll, -5.5f);
        QCOMPARE(v.tilt, 12.25f);
        QCOMPARE(v.pan, 270.0f);
        QCOMPARE(v.zoom, 33.5f);
    }

    void laterDuplicateRowsReplaceEarlierOnesButSameNameOnTwoStreamsServesBoth()
    {
        ObjectsFileRows rows = oneOfEach();
        // The same gateway twice: the later row (inactive) wins, so stream S1 is not served.
        rows.gateways.append({QStringLiteral("G2"), true});
        rows.gateways.append({QStringLiteral("G1"), false});
        StreamFileRow s2 = rows.streams[0];
        s2.serialGateway = QStringLiteral("G2");
        s2.serial = QStringLiteral("S2");
        rows.streams.append(s2);
        // Same view name on S2 twice (the later values count) and once more on S1.
        rows.views = {{QStringLiteral("S2"), QStringLiteral("Door"), 0, 0, 10, 90, true},
                      {QStringLiteral("S2"), QStringLiteral("Door"), 0, 0, 20, 60, true},
                      {QStringLiteral("S1"), QStringLiteral("Door"), 0, 0, 30, 90, true}};
        const QString file = path(QStringLiteral("dupes.data"));
        QVERIFY(ObjectsFileWriter::write(file, rows));

        ServerConfig config;
        QString error;
        QVERIFY2(config.load(file, &error), qPrintable(error));
        QCOMPARE(config.streams().size(), 1);
        QCOMPARE(config.streams().first().serial, QStringLiteral("S2"));
        QCOMPARE(config.viewCount(), 1);
        QCOMPARE(config.streams().first().views.first().pan, 20.0f);
        QCOMPARE(config.streams().first().views.first().zoom, 60.0f);

        // With G1 active again, both streams serve their own "Door".
        rows.gateways.removeLast();
        QVERIFY(ObjectsFileWriter::write(file, rows));
        QVERIFY2(config.load(file, &error), qPrintable(error));
        QCOMPARE(config.streams().size(), 2);
        QCOMPARE(config.viewCount(), 2);
        QVERIFY(config.stream(QStringLiteral("S1"))->view(QStringLiteral("Door")));
        QCOMPARE(config.stream(QStringLiteral("S1"))->view(QStringLiteral("Door"))->pan, 30.0f);
    }

    void comparesEqualOnlyWhenNothingServedChanged()
    {
        const QString file = path(QStringLiteral("compare.data"));
        ObjectsFileRows rows = oneOfEach();
        QVERIFY(ObjectsFileWriter::write(file, rows));
        ServerConfig a, b;
        QVERIFY(a.load(file, nullptr));
        QVERIFY(b.load(file, nullptr));
        QVERIFY(a == b);
        rows.views[0].tilt = 1;
        QVERIFY(ObjectsFileWriter::write(file, rows));
        QVERIFY(b.load(file, nullptr));
        QVERIFY(a != b);
    }

    void readsTheLastCommittedStateAfterAWriterWasKilledMidSave()
    {
        const QString file = path(QStringLiteral("killed.data"));
        QVERIFY(ObjectsFileWriter::write(file, oneOfEach()));
        // A writer dies by SIGKILL in the middle of a save, after part of it reached the file:
        // a small cache makes SQLite spill the new pages before the commit.
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            sqlite3 *db = nullptr;
            sqlite3_open(file.toUtf8().constData(), &db);
            ObjectsFileWriter::exec(db, "PRAGMA cache_size = 1");
            ObjectsFileWriter::exec(db, "BEGIN");
            ObjectsFileWriter::exec(db, "DELETE FROM views");
            ObjectsFileWriter::exec(db, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
                                        "20000) INSERT INTO views(serialStream, name, roll, tilt, pan, zoom, "
                                        "isActive) SELECT 'S1', 'half-saved ' || i, 0, 0, 0, 90, 1 FROM n");
            raise(SIGKILL);
            _exit(1);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));
        QVERIFY2(QFile::exists(file + QStringLiteral("-journal")), "the writer left no journal");

        ServerConfig config;
        QString error;
        QVERIFY2(config.load(file, &error), qPrintable(error));
        QCOMPARE(config.viewRows(), 1);
        QCOMPARE(config.viewCount(), 1);
        QCOMPARE(config.streams().first().views.first().name, QStringLiteral("Door"));
        // And so does the next read.
        QVERIFY2(config.load(file, &error), qPrintable(error));
        QCOMPARE(config.viewRows(), 1);
    }

    void refusesUnusableFilesWithAReason_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "missing"
                                 << "does not exist";
        QTest::newRow("directory") << "directory"
                                   << "not a file";
        QTest::newRow("not a database") << "garbage"
                                        << "not a database";
        QTest::newRow("empty database") << "empty"
                                        << "gateways";
        QTest::newRow("views table missing") << "noViews"
                                             << "views";
        QTest::newRow("column missing") << "noZoom"
                                        << "zoom";
        QTest::newRow("written by a newer Quillon") << "newer"
                                                    << "written by a newer Quillon (file format 99; this server "
                                                       "reads up to 3)";
    }

    void refusesUnusableFilesWithAReason()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QString file = path(QStringLiteral("bad-") + kind + QStringLiteral(".data"));
        if (kind == "directory") {
            QVERIFY(QDir(m_dir.path()).mkpath(file));
        } else if (kind == "garbage") {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(4096, 'x'));
        } else if (kind == "empty") {
            QVERIFY(ObjectsFileWriter::execOn(file, "CREATE TABLE other (a INTEGER)"));
        } else if (kind == "noViews") {
            QVERIFY(ObjectsFileWriter::execOn(file, ObjectsFileWriter::kCreateGateways));
            QVERIFY(ObjectsFileWriter::execOn(file, ObjectsFileWriter::kCreateStreams));
        } else if (kind == "noZoom") {
            QVERIFY(ObjectsFileWriter::execOn(file, ObjectsFileWriter::kCreateGateways));
            QVERIFY(ObjectsFileWriter::execOn(file, ObjectsFileWriter::kCreateStreams));
            QVERIFY(ObjectsFileWriter::execOn(
                file, "CREATE TABLE views (id INTEGER PRIMARY KEY AUTOINCREMENT, serialStream TEXT, name TEXT, "
                      "roll REAL, tilt REAL, pan REAL, isActive INTEGER)"));
        } else if (kind == "newer") {
            ObjectsFileRows rows = oneOfEach();
            rows.userVersion = 99;
            QVERIFY(ObjectsFileWriter::write(file, rows));
        }
        // An old time stamp, so that any write would show.
        const QDateTime stamp = QDateTime::currentDateTimeUtc().addDays(-1);
        QByteArray before;
        if (QFile f(file); QFileInfo(file).isFile() && f.open(QIODevice::ReadWrite)) {
            before = f.readAll();
            QVERIFY(f.setFileTime(stamp, QFileDevice::FileModificationTime));
        }
        ServerConfig config;
        QString error;
        QVERIFY(!config.load(file, &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(config.viewCount(), 0);
        if (kind == "missing") {
            QVERIFY2(!QFile::exists(file), "reading must not create the file");
        } else if (kind != "directory") {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), before);
            QCOMPARE(QFileInfo(file).lastModified().toUTC(), stamp);
        }
    }
};

QTEST_GUILESS_MAIN(TstOstrevanConfig)
#include "tst_ostrevanconfig.moc"
