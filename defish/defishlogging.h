#pragma once

#include <QLoggingCategory>

// Dewarping and the lens-circle fit.
Q_DECLARE_LOGGING_CATEGORY(lcDefish)  // quillon.defish
Q_DECLARE_LOGGING_CATEGORY(lcLensFit) // quillon.defish.lensfit
