#include "platform/ostrevan/serverlogging.h"

Q_LOGGING_CATEGORY(lcServer, "quillon.server")
Q_LOGGING_CATEGORY(lcConfig, "quillon.server.config")
Q_LOGGING_CATEGORY(lcSource, "quillon.server.source")
Q_LOGGING_CATEGORY(lcView, "quillon.server.view")
