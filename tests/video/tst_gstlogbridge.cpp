#include "app/startup.h"
#include "support/logcapture.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QtTest>
#include <gst/gst.h>

GST_DEBUG_CATEGORY_STATIC(testCategory);

// GStreamer's own log as the program sets it up: warnings and errors reach Qt's log, once.
class TestGstLogBridge : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void levelsReachQtLog_data();
    void levelsReachQtLog();
    void elementWarningReachesQtLog();
    void stderrPrinterIsTakenOut();
};

void TestGstLogBridge::initTestCase()
{
    if (!qEnvironmentVariableIsEmpty("GST_DEBUG"))
        QSKIP("GST_DEBUG sets GStreamer's thresholds for this run");
    GST_DEBUG_CATEGORY_INIT(testCategory, "logbridgetest", 0, "log bridge test");
}

void TestGstLogBridge::levelsReachQtLog_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("type"); // -1: not forwarded
    QTest::newRow("error") << int(GST_LEVEL_ERROR) << int(QtCriticalMsg);
    QTest::newRow("warning") << int(GST_LEVEL_WARNING) << int(QtWarningMsg);
    QTest::newRow("fixme") << int(GST_LEVEL_FIXME) << -1;
    QTest::newRow("info") << int(GST_LEVEL_INFO) << -1;
    QTest::newRow("debug") << int(GST_LEVEL_DEBUG) << -1;
}

void TestGstLogBridge::levelsReachQtLog()
{
    QFETCH(int, level);
    QFETCH(int, type);
    GstElement *element = gst_element_factory_make("identity", "talker");
    QVERIFY(element);
    gst_object_ref_sink(element);
    const QString expected = QStringLiteral("GStreamer logbridgetest <talker>: level %1").arg(level);
    {
        LogCapture log;
        GST_CAT_LEVEL_LOG(testCategory, GstDebugLevel(level), element, "level %d", level);
        if (type < 0) {
            QCOMPARE(log.count(expected), 0);
        } else {
            QVERIFY2(log.contains(QtMsgType(type), expected), qPrintable(log.texts().join('\n')));
            QCOMPARE(log.count(expected), 1);
        }
    }
    gst_object_unref(element);
}

void TestGstLogBridge::elementWarningReachesQtLog()
{
    // A missing file: filesrc warns on its streaming side before the error message is posted.
    GstElement *source = gst_element_factory_make("filesrc", "missingfile");
    QVERIFY(source);
    gst_object_ref_sink(source);
    g_object_set(source, "location", "/nonexistent/quillon-no-such-file.mp4", nullptr);
    const auto warnings = [](const LogCapture &log) {
        return log.texts(QtWarningMsg)
            .filter(QStringLiteral("GStreamer filesrc <missingfile>: "))
            .filter("No such file");
    };
    {
        LogCapture log;
        QCOMPARE(gst_element_set_state(source, GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
        QVERIFY2(!warnings(log).isEmpty(), qPrintable(log.texts().join('\n')));
    }
    gst_element_set_state(source, GST_STATE_NULL);
    // The lines come under their own category, which turns them off.
    QLoggingCategory::setFilterRules(QStringLiteral("quillon.video.gst.warning=false"));
    {
        LogCapture log;
        QCOMPARE(gst_element_set_state(source, GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
        QVERIFY2(warnings(log).isEmpty(), qPrintable(log.texts().join('\n')));
    }
    QLoggingCategory::setFilterRules(QString());
    gst_element_set_state(source, GST_STATE_NULL);
    gst_object_unref(source);
}

void TestGstLogBridge::stderrPrinterIsTakenOut()
{
    // Otherwise each line would be printed twice, once by GStreamer and once by Qt.
    QCOMPARE(gst_debug_remove_log_function(gst_debug_log_default), 0u);
}

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QCoreApplication app(argc, argv);
    TestGstLogBridge test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_gstlogbridge.moc"
