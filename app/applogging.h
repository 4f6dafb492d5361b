#pragma once

#include <QLoggingCategory>

// The program's start-up and shell. Sub-categories name the part that logs.
Q_DECLARE_LOGGING_CATEGORY(lcApp)      // quillon.app
Q_DECLARE_LOGGING_CATEGORY(lcPaths)    // quillon.app.paths: data and settings folders
Q_DECLARE_LOGGING_CATEGORY(lcSettings) // quillon.app.settings: the settings file

namespace AppLogging {
// Prints each line as its text alone, without the category in front, as the lines were printed
// before they had categories: the main window reads the streaming server's lines, and operators and
// tests match the texts. QT_MESSAGE_PATTERN still sets any other format. Call first in main().
void printTextOnly();
} // namespace AppLogging
