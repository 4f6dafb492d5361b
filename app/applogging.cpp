#include "app/applogging.h"

Q_LOGGING_CATEGORY(lcApp, "quillon.app")
Q_LOGGING_CATEGORY(lcPaths, "quillon.app.paths")
Q_LOGGING_CATEGORY(lcSettings, "quillon.app.settings")

#include <cstdio>
#include <cstdlib>

namespace {

QtMessageHandler g_previous = nullptr;

void printWithoutPasswords(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const QString masked = AppLogging::withoutPasswords(text);
    if (g_previous) {
        g_previous(type, context, masked);
        return;
    }
    std::fprintf(stderr, "%s\n", qUtf8Printable(qFormatLogMessage(type, context, masked)));
    std::fflush(stderr);
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

void AppLogging::printTextOnly()
{
    qSetMessagePattern(QStringLiteral("%{message}"));
    static const bool installed = [] {
        g_previous = qInstallMessageHandler(printWithoutPasswords);
        return true;
    }();
    (void)installed;
}

QString AppLogging::withoutPasswords(const QString &text)
{
    static const QString kAuthorityEnd = QStringLiteral("/?#\"'<>()[] \t\r\n");
    QString result = text;
    for (int scheme = result.indexOf(QLatin1String("://")); scheme >= 0;
         scheme = result.indexOf(QLatin1String("://"), scheme + 3)) {
        const int start = scheme + 3;
        int end = start;
        while (end < result.size() && !kAuthorityEnd.contains(result.at(end)))
            ++end;
        // The user information ends at the authority's last '@': a password may hold one unencoded.
        const int at = result.lastIndexOf(QLatin1Char('@'), end - 1);
        const int colon = result.indexOf(QLatin1Char(':'), start);
        if (at >= start && colon >= 0 && colon < at)
            result.replace(colon + 1, at - colon - 1, QStringLiteral("***"));
    }
    return result;
}
