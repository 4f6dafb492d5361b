#include "sfpmtesthelpers.h"

namespace sfpmtest {

namespace {
QStringList *s_warnings = nullptr;
QtMessageHandler s_previous = nullptr;
} // namespace

WarningCollector::WarningCollector()
{
    s_warnings = new QStringList;
    m_previous = qInstallMessageHandler(&WarningCollector::handler);
    s_previous = m_previous;
}

WarningCollector::~WarningCollector()
{
    qInstallMessageHandler(m_previous);
    delete s_warnings;
    s_warnings = nullptr;
}

QStringList WarningCollector::warnings() const
{
    return *s_warnings;
}

int WarningCollector::count(const QString &fragment) const
{
    int n = 0;
    for (const QString &w : qAsConst(*s_warnings))
        n += w.contains(fragment) ? 1 : 0;
    return n;
}

void WarningCollector::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && s_warnings)
        s_warnings->append(message);
    if (s_previous)
        s_previous(type, context, message);
}

} // namespace sfpmtest
