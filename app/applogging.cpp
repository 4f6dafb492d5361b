#include "app/applogging.h"

Q_LOGGING_CATEGORY(lcApp, "quillon.app")
Q_LOGGING_CATEGORY(lcPaths, "quillon.app.paths")
Q_LOGGING_CATEGORY(lcSettings, "quillon.app.settings")

void AppLogging::printTextOnly()
{
    qSetMessagePattern(QStringLiteral("%{message}"));
}
