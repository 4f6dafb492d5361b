#pragma once

#include <QList>
#include <QString>

// What the tests read about processes from /proc.
namespace ProcessInfo {
// Process ids of this process's living children whose command name is name.
QList<qint64> children(const QString &name);
// Resident set size of this process in KiB.
qint64 residentKiB();
} // namespace ProcessInfo
