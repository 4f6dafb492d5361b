// Qt Quick Test runner that sets up what the program's start-up sets up:
// GStreamer initialised, one qmlglsink created (so GstGLVideoItem is known),
// the seven singletons created and registered, the eight types registered and the
// root-context property isDebug set. Accepts the usual qmltestrunner options,
// -input FILE-OR-DIR among them.
#include "app/startup.h"

#include <QCoreApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>
#include <gst/gst.h>

class Setup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        m_glSink = Startup::loadGlVideoItem();
        Startup::createSingletons();
        Startup::registerTypes();
        Startup::registerSingletons();
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/"));
        Startup::setContextProperties(engine);
    }

    void cleanupTestCase()
    {
        Startup::destroySingletons();
        Startup::releaseGlVideoItem(m_glSink);
        m_glSink = nullptr;
    }

private:
    GstElement *m_glSink = nullptr;
};

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    Setup setup;
    return quick_test_main_with_setup(argc, argv, "quillon", nullptr, &setup);
}

#include "main.moc"
