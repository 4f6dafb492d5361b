#include "apprun.h"

#include "es/eventserver.h"

#include <QtTest>

AppRun::AppRun() = default;

AppRun::~AppRun()
{
    stop();
}

bool AppRun::start(const korvu::es::ContextOptions &esOptions)
{
    stop();
    // createSingletons() keeps the connector made here.
    EventServer::create(esOptions);
    m_program.setUp();
    m_main = m_program.loadMain();
    return m_main != nullptr;
}

void AppRun::stop()
{
    m_main = nullptr;
    m_program.tearDown();
}

QQuickWindow *AppRun::loginWindow() const
{
    return m_main ? m_main->findChild<QQuickWindow *>(QStringLiteral("winLogin")) : nullptr;
}

QQuickWindow *AppRun::defishWindow() const
{
    return m_main ? m_main->findChild<QQuickWindow *>(QStringLiteral("winDefish")) : nullptr;
}
