// Qt Quick Test runner that sets up what the program's start-up sets up:
// GStreamer initialised, one qmlglsink created (so GstGLVideoItem is known),
// the seven singletons created and registered, the program's types registered and the
// root-context property isDebug set. Accepts the usual qmltestrunner options,
// -input FILE-OR-DIR among them.
#include "app/startup.h"
#include "support/programfixture.h"

#include <QCoreApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>

class Setup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable() { m_program.setUp(); }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/"));
        ProgramFixture::prepareEngine(engine);
    }

    void cleanupTestCase() { m_program.tearDown(); }

private:
    ProgramFixture m_program;
};

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    Setup setup;
    return quick_test_main_with_setup(argc, argv, "quillon", nullptr, &setup);
}

#include "main.moc"
