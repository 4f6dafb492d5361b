#include "apprun.h"

#include "app/startup.h"
#include "es/eventserver.h"

#include <QtTest>

namespace {
bool g_typesRegistered = false;
}

AppRun::AppRun() = default;

AppRun::~AppRun()
{
    stop();
}

bool AppRun::start(const korvu::es::ContextOptions &esOptions)
{
    stop();
    m_glSink = Startup::loadGlVideoItem();
    // createSingletons() keeps the connector made here.
    EventServer::create(esOptions);
    Startup::createSingletons();
    // Registrations are process-wide and their providers return the current
    // instances, so they are made once.
    if (!g_typesRegistered) {
        Startup::registerTypes();
        Startup::registerSingletons();
        g_typesRegistered = true;
    }
    m_engine = std::make_unique<QQmlApplicationEngine>();
    Startup::setContextProperties(m_engine.get());
    m_errors.clear();
    QObject::connect(m_engine.get(), &QQmlEngine::warnings, m_engine.get(), [this](const QList<QQmlError> &list) {
        for (const QQmlError &e : list)
            m_errors += e.toString() + QLatin1Char('\n');
    });
    m_engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
    if (m_engine->rootObjects().isEmpty())
        return false;
    m_main = qobject_cast<QQuickWindow *>(m_engine->rootObjects().constFirst());
    return m_main != nullptr;
}

void AppRun::stop()
{
    if (!m_engine)
        return;
    Startup::destroySingletons();
    Startup::releaseGlVideoItem(m_glSink);
    m_glSink = nullptr;
    m_main = nullptr;
    m_engine.reset();
    // Deferred deletions of the torn-down documents.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

QQuickWindow *AppRun::loginWindow() const
{
    return m_main ? m_main->findChild<QQuickWindow *>(QStringLiteral("winLogin")) : nullptr;
}

QQuickWindow *AppRun::defishWindow() const
{
    return m_main ? m_main->findChild<QQuickWindow *>(QStringLiteral("winDefish")) : nullptr;
}
