#include "apprun.h"

#include "app/startup.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <unistd.h>

namespace {
bool g_typesRegistered = false;
}

AppRun::AppRun() = default;

AppRun::~AppRun()
{
    stop();
}

bool AppRun::start()
{
    stop();
    m_glSink = Startup::loadGlVideoItem();
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

namespace ProcessInfo {

QList<qint64> children(const QString &name)
{
    QList<qint64> found;
    const qint64 self = ::getpid();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid ...; comm may hold spaces, so split at the last ')'.
        const QByteArray text = stat.readAll();
        const int open = text.indexOf('(');
        const int close = text.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QByteArray comm = text.mid(open + 1, close - open - 1);
        const QList<QByteArray> rest = text.mid(close + 2).split(' ');
        if (rest.size() < 2)
            continue;
        const char state = rest.at(0).isEmpty() ? '?' : rest.at(0).at(0);
        if (state == 'Z' || state == 'X')
            continue;
        if (rest.at(1).toLongLong() == self && QString::fromUtf8(comm) == name.left(15))
            found.append(pid);
    }
    return found;
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace ProcessInfo
