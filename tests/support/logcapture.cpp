#include "logcapture.h"

#include <QMutexLocker>
#include <atomic>

namespace {
std::atomic<LogCapture *> g_current{nullptr};
}

LogCapture::LogCapture(Echo echo) : m_echo(echo)
{
    m_outer = g_current.exchange(this);
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    g_current = m_outer;
}

QList<LogCapture::Line> LogCapture::lines() const
{
    QMutexLocker lock(&m_mutex);
    return m_lines;
}

QStringList LogCapture::texts() const
{
    QStringList result;
    for (const Line &line : lines())
        result << line.text;
    return result;
}

QStringList LogCapture::texts(QtMsgType type) const
{
    QStringList result;
    for (const Line &line : lines()) {
        if (line.type == type)
            result << line.text;
    }
    return result;
}

QStringList LogCapture::take()
{
    QList<Line> taken;
    {
        QMutexLocker lock(&m_mutex);
        taken.swap(m_lines);
    }
    QStringList result;
    for (const Line &line : qAsConst(taken))
        result << line.text;
    return result;
}

void LogCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_lines.clear();
}

int LogCapture::countContaining(QtMsgType type, const QString &fragment) const
{
    int n = 0;
    for (const QString &text : texts(type))
        n += text.contains(fragment) ? 1 : 0;
    return n;
}

int LogCapture::countStartingWith(const QString &prefix) const
{
    int n = 0;
    for (const QString &text : texts())
        n += text.startsWith(prefix) ? 1 : 0;
    return n;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (LogCapture *current = g_current)
        current->record(type, context, text);
}

void LogCapture::record(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    {
        QMutexLocker lock(&m_mutex);
        m_lines.append({type, text});
    }
    // Inside another capture: that one gets the line too, and echoes it.
    if (m_previous == &LogCapture::handler) {
        if (m_outer)
            m_outer->record(type, context, text);
        return;
    }
    if (m_previous && !(type == QtDebugMsg && m_echo == Echo::QuietDebug))
        m_previous(type, context, text);
}
