#include "programfixture.h"

#include "app/startup.h"

#include <QCoreApplication>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQuickWindow>

namespace {
bool g_typesRegistered = false;
}

ProgramFixture::ProgramFixture() = default;

ProgramFixture::~ProgramFixture()
{
    tearDown();
}

void ProgramFixture::setUp()
{
    tearDown();
    m_glSink = Startup::loadGlVideoItem();
    Startup::createSingletons();
    if (!g_typesRegistered) {
        Startup::registerTypes();
        Startup::registerSingletons();
        g_typesRegistered = true;
    }
    m_setUp = true;
}

void ProgramFixture::tearDown()
{
    if (!m_setUp) {
        closeWindow();
        return;
    }
    Startup::destroySingletons();
    Startup::releaseGlVideoItem(m_glSink);
    m_glSink = nullptr;
    m_setUp = false;
    closeWindow();
}

void ProgramFixture::prepareEngine(QQmlEngine *engine)
{
    Startup::setContextProperties(engine);
}

void ProgramFixture::newEngine(std::unique_ptr<QQmlEngine> engine)
{
    closeWindow();
    m_engine = std::move(engine);
    prepareEngine(m_engine.get());
    m_errors.clear();
    QObject::connect(m_engine.get(), &QQmlEngine::warnings, m_engine.get(), [this](const QList<QQmlError> &list) {
        for (const QQmlError &e : list)
            m_errors += e.toString() + QLatin1Char('\n');
    });
}

QQuickWindow *ProgramFixture::openWindow(const QUrl &url)
{
    newEngine(std::make_unique<QQmlEngine>());
    QQmlComponent component(m_engine.get(), url);
    QObject *created = component.create();
    if (!created) {
        m_errors += component.errorString();
        return nullptr;
    }
    m_window = qobject_cast<QQuickWindow *>(created);
    if (!m_window) {
        delete created;
        m_errors += url.toString() + QStringLiteral(" is no window\n");
        return nullptr;
    }
    m_ownsWindow = true;
    return m_window;
}

QQuickWindow *ProgramFixture::loadMain(const QUrl &url)
{
    auto engine = std::make_unique<QQmlApplicationEngine>();
    QQmlApplicationEngine *app = engine.get();
    newEngine(std::move(engine));
    app->load(url);
    if (app->rootObjects().isEmpty())
        return nullptr;
    m_window = qobject_cast<QQuickWindow *>(app->rootObjects().constFirst());
    m_ownsWindow = false; // the engine's
    return m_window;
}

void ProgramFixture::closeWindow()
{
    if (m_window && m_ownsWindow) {
        m_window->close();
        delete m_window;
    }
    m_window = nullptr;
    m_ownsWindow = false;
    if (!m_engine)
        return;
    m_engine.reset();
    // Deferred deletions of the torn-down documents.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}
