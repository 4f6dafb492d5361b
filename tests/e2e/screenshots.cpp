// Takes the README's screenshots of the login, main and defish windows (live
// video) on the running X display with ImageMagick's "import -window root",
// against the site simulator running the demo site. Run by scripts/screenshots.sh.
//
//   quillon-screenshots OUTPUT-DIR
#include "app/startup.h"
#include "e2esteps.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>

using namespace UiDriver;

namespace {

bool shoot(QQuickWindow *window, const QString &path)
{
    QTest::qWait(700); // let the last frames land
    const QRect g = window->geometry();
    const QString crop = QStringLiteral("%1x%2+%3+%4").arg(g.width()).arg(g.height()).arg(g.x()).arg(g.y());
    const int rc =
        QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                                     QStringLiteral("-crop"), crop, QStringLiteral("+repage"), path});
    std::fprintf(stderr, "screenshot %s (%s): %s\n", qPrintable(path), qPrintable(crop), rc == 0 ? "ok" : "failed");
    return rc == 0;
}

int fail(const char *what)
{
    std::fprintf(stderr, "screenshots: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    Startup::initGStreamer(&argc, &argv);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QGuiApplication app(argc, argv);
    if (argc < 2)
        return fail("usage: quillon-screenshots OUTPUT-DIR");
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());

    QTemporaryDir dir;
    SiteSim sim;
    if (!sim.start(QStringLiteral(QUILLON_SOURCE_DIR "/platform/simulators/sites/demo.json"), dir.filePath("sim")))
        return fail(qPrintable(sim.error()));
    QDir::setCurrent(dir.path());
    QFile::remove(QCoreApplication::applicationDirPath() + QStringLiteral("/objects.data"));

    AppRun run;
    if (!run.start())
        return fail(qPrintable(run.loadErrors()));
    QQuickWindow *main = run.mainWindow();
    QQuickWindow *login = run.loginWindow();
    main->setPosition(40, 40);
    login->setPosition(60, 160);
    if (!QTest::qWaitForWindowExposed(login))
        return fail("login window not shown");
    // A wrong port first: the connection error in the message popup.
    if (!E2e::fillLogin(login, sim.esHost(), SiteSim::freePort(), sim.username(), sim.password()))
        return fail("cannot fill the login form");
    click(item(login, "btnLogin"));
    if (QObject *messager = E2e::waitForMessage(login, 30000)) {
        shoot(login, out.filePath("login-error.png"));
        E2e::closeMessage(messager);
    }
    if (!typeInto(item(login, "txtPort"), QString::number(sim.esPort())))
        return fail("cannot fill the login form");
    shoot(login, out.filePath("login.png"));

    if (!click(item(login, "btnLogin")) || !QTest::qWaitFor([login] { return !login->isVisible(); }, 15000))
        return fail("sign-in failed");
    QTest::qWait(2000); // stream discovery

    // A view stored on the first fisheye stream with video, for the lists.
    QQuickItem *streams = item(main, "lstStreams");
    QString streamName;
    for (QQuickItem *row : visibleItems(streams, "streamDelegate")) {
        const QString text = item(row, "chkStream")->property("text").toString();
        if (text.contains(QLatin1Char('('))) {
            streamName = text.left(text.indexOf(QLatin1String(" (")));
            break;
        }
    }
    if (streamName.isEmpty())
        return fail("no published stream listed");

    QQuickWindow *defish = run.defishWindow();
    defish->setPosition(460, 40);
    if (!E2e::openDefish(run, streamName) || !E2e::waitForLiveVideo(run))
        return fail("no live video in the defish window");
    QQuickItem *content = E2e::defishContent(run);
    // The demo room's camera hangs from the ceiling: a view below the horizon, level.
    chooseInCombo(item(content, "cbMount"), QStringLiteral("Ceiling"));
    // Each mode the window offers besides the perspective view.
    const QList<QPair<QString, QString>> modes = {{QStringLiteral("360° panorama"), QStringLiteral("panorama")},
                                                  {QStringLiteral("Double 180° panorama"), QStringLiteral("double")},
                                                  {QStringLiteral("Quad"), QStringLiteral("quad")},
                                                  {QStringLiteral("180° panorama"), QStringLiteral("half")}};
    for (const auto &mode : modes) {
        chooseInCombo(item(content, "cbMode"), mode.first);
        QTest::qWait(1500);
        shoot(defish, out.filePath(QStringLiteral("defish-%1.png").arg(mode.second)));
    }
    chooseInCombo(item(content, "cbMode"), QStringLiteral("Perspective"));
    item(content, "sldRoll")->setProperty("value", 0.0);
    item(content, "sldPan")->setProperty("value", 35.0);
    item(content, "sldTilt")->setProperty("value", -35.0);
    item(content, "sldZoom")->setProperty("value", 80.0);
    typeInto(item(content, "txtName"), QStringLiteral("Entrance"));
    QTest::qWait(1500);
    shoot(defish, out.filePath("defish.png"));
    click(item(defish, "btnDefishOk"));
    (void)QTest::qWaitFor([defish] { return !defish->isVisible(); }, 5000);

    shoot(main, out.filePath("main.png"));

    // The server started on what was just stored: the panel lists each stored view with its
    // address or why it is not served.
    qputenv("PATH", QByteArray(QUILLON_BUILD_DIR ":") + qgetenv("PATH"));
    click(item(main, "btnStartStop"));
    QObject *process = object(main, "procManager");
    (void)QTest::qWaitFor([process] { return process->property("status").toInt() == 2; }, 20000);
    QTest::qWait(2000);
    shoot(main, out.filePath("main-server.png"));
    click(item(main, "btnStartStop"));
    (void)QTest::qWaitFor([process] { return !process->property("isRunning").toBool(); }, 10000);
    run.stop();
    sim.stop();
    return 0;
}
