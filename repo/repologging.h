#pragma once

#include <QLoggingCategory>

// Diagnostics of the object repository beyond its fixed log texts.
Q_DECLARE_LOGGING_CATEGORY(lcRepo)
