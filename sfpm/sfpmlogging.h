#pragma once

#include <QLoggingCategory>

// The filter/sort proxy model: bad expressions and roles.
Q_DECLARE_LOGGING_CATEGORY(lcSfpm) // quillon.sfpm
