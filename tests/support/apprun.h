#pragma once

#include "es/korvues.h"
#include "processinfo.h"
#include "programfixture.h"

#include <QQmlEngine>
#include <QQuickWindow>
#include <QString>

// One run of the program inside a test process: the start-up steps of the real
// program (singletons, registrations, context properties, qrc:/main.qml), and on
// stop() the real shutdown order (singletons first, then the engine). A later
// start() is a fresh program start with new singletons, as after a restart.
class AppRun
{
public:
    AppRun();
    ~AppRun();

    // Loads the main document with the current directory as the program's
    // working directory (where settings.ini lives). Returns false on a load error.
    // esOptions set the event-server connector's time limits.
    bool start(const korvu::es::ContextOptions &esOptions = korvu::es::ContextOptions());
    void stop();
    bool isRunning() const { return m_program.isSetUp(); }

    QQmlEngine *engine() const { return m_program.engine(); }
    QQuickWindow *mainWindow() const { return m_main; }
    QQuickWindow *loginWindow() const;
    QQuickWindow *defishWindow() const;

    // Messages of the last load, for failure output.
    QString loadErrors() const { return m_program.loadErrors(); }

private:
    ProgramFixture m_program;
    QQuickWindow *m_main = nullptr;
};
