#pragma once

#include <QUrl>

class QQmlEngine;
typedef struct _GstElement GstElement;

// The program's start-up and shutdown sequence, split into steps so that the
// Qt Quick test runner and the tests can set up exactly what the program does.
class Startup
{
public:
    // Limits the malloc arenas (see HeapTrim::limitArenas), initialises
    // GStreamer (which may consume its own options from argv), routes its log
    // into Qt's (see GstLogBridge) and registers the elements built into the program.
    static void initGStreamer(int *argc, char ***argv);

    // Creates one "qmlglsink" so that the GL sink plug-in, and with it the QML
    // module org.freedesktop.gstreamer.GLVideoItem, is loaded before any document
    // is read. Returns the element (null when the plug-in is missing).
    static GstElement *loadGlVideoItem();
    static void releaseGlVideoItem(GstElement *sink);

    static void createSingletons();
    static void registerTypes();
    static void registerSingletons();
    static void destroySingletons();

    // Sets the root-context properties every document may use: "isDebug" (true),
    // "serverProgram" (name of the streaming server built beside the program, which
    // the main window runs), "serverArguments" (the server's arguments: the
    // objects.data this program writes) and
    // "settingsStore" (the login window's settings-file helper, owned by the engine).
    static void setContextProperties(QQmlEngine *engine);

    // Runs the whole program on mainUrl and returns the process exit code: the
    // event loop's value, or -1 when the main document fails to load.
    static int run(int argc, char **argv, const QUrl &mainUrl = QUrl(QStringLiteral("qrc:/main.qml")));
};
