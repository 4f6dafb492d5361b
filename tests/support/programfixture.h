#pragma once

#include <QString>
#include <QUrl>
#include <memory>

class QQmlEngine;
class QQuickWindow;
typedef struct _GstElement GstElement;

// The program's start-up steps inside a test process: the GL sink plug-in, the
// singletons and the QML registrations (once per process: their providers return
// the current instances), then documents read by an engine with the program's
// context properties. tearDown() shuts down in the program's order: singletons
// first, then the engine. A later setUp() is a fresh start with new singletons.
class ProgramFixture
{
public:
    ProgramFixture();
    ~ProgramFixture();
    ProgramFixture(const ProgramFixture &) = delete;
    ProgramFixture &operator=(const ProgramFixture &) = delete;

    void setUp();
    void tearDown();
    bool isSetUp() const { return m_setUp; }

    // What the program gives every engine it makes.
    static void prepareEngine(QQmlEngine *engine);

    // A window document (e.g. qrc:/WinLogin.qml) in an engine of its own, not yet
    // shown; null on a load error (see loadErrors()). Closes the window opened before.
    QQuickWindow *openWindow(const QUrl &url);
    // The main document as the program loads it, in a QQmlApplicationEngine.
    QQuickWindow *loadMain(const QUrl &url = QUrl(QStringLiteral("qrc:/main.qml")));
    // Deletes the window and its engine, and runs the deferred deletions.
    void closeWindow();

    QQmlEngine *engine() const { return m_engine.get(); }
    QQuickWindow *window() const { return m_window; }
    // Messages of the last load, for failure output.
    QString loadErrors() const { return m_errors; }

private:
    void newEngine(std::unique_ptr<QQmlEngine> engine);

    bool m_setUp = false;
    GstElement *m_glSink = nullptr;
    std::unique_ptr<QQmlEngine> m_engine;
    QQuickWindow *m_window = nullptr;
    bool m_ownsWindow = false;
    QString m_errors;
};
