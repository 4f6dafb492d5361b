#include "app/startup.h"

#include "app/applogging.h"
#include "app/apppaths.h"
#include "app/appstate.h"
#include "app/i18n.h"
#include "app/paneaiming.h"
#include "app/settingsstore.h"
#include "app/signalwatcher.h"
#include "app/signinsession.h"
#include "app/utils.h"
#include "app/vieweditor.h"
#include "defish/dewraparea.h"
#include "defish/edithistory.h"
#include "es/eventserver.h"
#include "platform/zmq/zmqelements.h"
#include "repo/localdatabase.h"
#include "repo/object.h"
#include "repo/objview.h"
#include "repo/repobjviews.h"
#include "repo/repoobjects.h"
#include "repo/streamviews.h"
#include "repo/unsavedchanges.h"
#include "video/consumer.h"
#include "video/gstlogbridge.h"
#include "video/heaptrim.h"
#include "video/lensfitter.h"
#include "video/processmanager.h"
#include "video/producer.h"
#include "video/servedviewsmodel.h"
#include "video/servercontroller.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <gst/gst.h>
#include <memory>

namespace {
const char *const kModule = "korvu.converter";
} // namespace

void Startup::initGStreamer(int *argc, char ***argv)
{
    // Before GStreamer starts any thread.
    HeapTrim::limitArenas();
    gst_init(argc, argv);
    GstLogBridge::install();
    // zmqsrc and zmqsink are built into the program: no plug-in path needed.
    if (!quillon_zmq_register_static())
        qCWarning(lcApp, "Could not register the ZeroMQ GStreamer elements");
}

GstElement *Startup::loadGlVideoItem()
{
    GstElement *sink = gst_element_factory_make("qmlglsink", nullptr);
    if (sink)
        gst_object_ref_sink(sink);
    return sink;
}

void Startup::releaseGlVideoItem(GstElement *sink)
{
    if (sink)
        gst_object_unref(sink);
}

void Startup::createSingletons()
{
    I18n::create();
    AppState::create();
    Utils::create();
    EventServer::create();
    RepoObjects::create();
    RepoObjViews::create();
    LocalDatabase::create();
    UnsavedChanges::create()->watch(RepoObjects::instance(), RepoObjViews::instance(), LocalDatabase::instance());
}

void Startup::registerTypes()
{
    qmlRegisterType<Object>(kModule, 1, 0, "Object");
    qmlRegisterType<Producer>(kModule, 1, 0, "Producer");
    qmlRegisterType<Consumer>(kModule, 1, 0, "Consumer");
    qmlRegisterType<DewrapArea>(kModule, 1, 0, "DewrapArea");
    qmlRegisterType<LensFitter>(kModule, 1, 0, "LensFitter");
    qmlRegisterType<EditHistory>(kModule, 1, 0, "EditHistory");
    qmlRegisterType<ObjView>(kModule, 1, 0, "ObjView");
    qmlRegisterType<ProcessManager>(kModule, 1, 0, "ProcessManager");
    qmlRegisterType<StreamViews>(kModule, 1, 0, "StreamViews");
    qmlRegisterType<ServerController>(kModule, 1, 0, "ServerController");
    qmlRegisterType<ViewEditor>(kModule, 1, 0, "ViewEditor");
    qmlRegisterType<PaneAiming>(kModule, 1, 0, "PaneAiming");
    qmlRegisterType<SignInSession>(kModule, 1, 0, "SignInSession");
    qmlRegisterUncreatableType<ServedViewsModel>(kModule, 1, 0, "ServedViewsModel",
                                                 QStringLiteral("A ServerController's views"));
}

void Startup::registerSingletons()
{
    qmlRegisterSingletonType<I18n>(kModule, 1, 0, "I18n", &I18n::provider);
    qmlRegisterSingletonType<AppState>(kModule, 1, 0, "AppState", &AppState::provider);
    qmlRegisterSingletonType<Utils>(kModule, 1, 0, "Utils", &Utils::provider);
    qmlRegisterSingletonType<EventServer>(kModule, 1, 0, "EventServer", &EventServer::provider);
    qmlRegisterSingletonType<RepoObjects>(kModule, 1, 0, "RepoObjects", &RepoObjects::provider);
    qmlRegisterSingletonType<RepoObjViews>(kModule, 1, 0, "RepoObjViews", &RepoObjViews::provider);
    qmlRegisterSingletonType<LocalDatabase>(kModule, 1, 0, "LocalDatabase", &LocalDatabase::provider);
    qmlRegisterSingletonType<UnsavedChanges>(kModule, 1, 0, "UnsavedChanges", &UnsavedChanges::provider);
}

void Startup::destroySingletons()
{
    UnsavedChanges::destroy();
    LocalDatabase::destroy();
    RepoObjViews::destroy();
    RepoObjects::destroy();
    EventServer::destroy();
    Utils::destroy();
    AppState::destroy();
    I18n::destroy();
}

void Startup::setContextProperties(QQmlEngine *engine)
{
    QQmlContext *context = engine->rootContext();
    context->setContextProperty(QStringLiteral("isDebug"), true);
    // A bare name: the process controller looks for it beside our executable, then on PATH.
    context->setContextProperty(QStringLiteral("serverProgram"), QStringLiteral("ostrevan"));
    // The server reads the database that this program writes.
    context->setContextProperty(QStringLiteral("serverArguments"), QStringList{AppPaths::databasePath()});
    context->setContextProperty(QStringLiteral("settingsStore"), new SettingsStore(engine));
}

int Startup::run(int argc, char **argv, const QUrl &mainUrl)
{
    AppLogging::printTextOnly();
    initGStreamer(&argc, &argv);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);

    int exitCode = 0;
    {
        auto app = std::make_unique<QGuiApplication>(argc, argv);
        // Until the application object goes: a signal during shutdown changes nothing.
        auto signalWatcher = std::make_unique<SignalWatcher>();
        GstElement *glSink = loadGlVideoItem();

        createSingletons();
        registerTypes();
        registerSingletons();

        auto engine = std::make_unique<QQmlApplicationEngine>();
        setContextProperties(engine.get());
        QObject::connect(
            engine.get(), &QQmlApplicationEngine::objectCreated, app.get(),
            [mainUrl](QObject *object, const QUrl &url) {
                if (!object && url == mainUrl)
                    QCoreApplication::exit(-1);
            },
            Qt::QueuedConnection);
        engine->load(mainUrl);

        exitCode = QGuiApplication::exec();
        // A signal, or "Discard" on closing, ends the program without saving.
        if (UnsavedChanges::instance()->isDirty())
            qCWarning(lcApp, "Ending with %s", qPrintable(UnsavedChanges::instance()->summary()));

        destroySingletons();
        releaseGlVideoItem(glSink);
        engine.reset();
        signalWatcher.reset();
        app.reset();
    }
    gst_deinit();
    return exitCode;
}
