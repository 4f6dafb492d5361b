#pragma once

#include <QList>
#include <QString>

// What the tests read about processes from /proc.
namespace ProcessInfo {
// Process ids of the living children of parent (by default this process) whose
// command name is name.
QList<qint64> children(const QString &name, qint64 parent = -1);
// Whether pid names a process that is neither gone nor a zombie.
bool isAlive(qint64 pid);
// Resident set size of this process in KiB.
qint64 residentKiB();
// Bytes the C library's allocator has handed out and not yet got back, in KiB;
// unlike the resident size, free pages kept in its arenas do not count. -1 where
// the C library does not tell.
qint64 heapInUseKiB();
} // namespace ProcessInfo
