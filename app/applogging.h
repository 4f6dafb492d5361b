#pragma once

#include <QLoggingCategory>

// The program's start-up and shell. Sub-categories name the part that logs.
Q_DECLARE_LOGGING_CATEGORY(lcApp)      // quillon.app
Q_DECLARE_LOGGING_CATEGORY(lcPaths)    // quillon.app.paths: data and settings folders
Q_DECLARE_LOGGING_CATEGORY(lcSettings) // quillon.app.settings: the settings file
