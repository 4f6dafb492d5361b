#pragma once

#include <QLoggingCategory>

// The streaming server. Sub-categories name the part that logs.
Q_DECLARE_LOGGING_CATEGORY(lcServer) // quillon.server
Q_DECLARE_LOGGING_CATEGORY(lcConfig) // quillon.server.config: the database it serves
Q_DECLARE_LOGGING_CATEGORY(lcSource) // quillon.server.source: receiving a stream
Q_DECLARE_LOGGING_CATEGORY(lcView)   // quillon.server.view: serving a view
