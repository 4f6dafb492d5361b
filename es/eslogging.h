#pragma once

#include <QLoggingCategory>

// The event-server client and the objects-file import.
Q_DECLARE_LOGGING_CATEGORY(lcEs)     // quillon.es
Q_DECLARE_LOGGING_CATEGORY(lcImport) // quillon.es.import: objects-file rows
