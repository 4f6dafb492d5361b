#include "es/eslogging.h"

Q_LOGGING_CATEGORY(lcEs, "quillon.es")
Q_LOGGING_CATEGORY(lcImport, "quillon.es.import")
