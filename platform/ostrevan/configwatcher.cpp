#include "platform/ostrevan/configwatcher.h"

#include <QFileInfo>

ConfigWatcher::ConfigWatcher(const QString &path, QObject *parent) : QObject(parent), m_path(path)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(400);
    m_poll.setInterval(1000);
    connect(&m_settle, &QTimer::timeout, this, &ConfigWatcher::settled);
    connect(&m_poll, &QTimer::timeout, this, [this] {
        if (!(stamp() == m_last))
            touched();
    });
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &ConfigWatcher::touched);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &ConfigWatcher::touched);

    const QFileInfo info(path);
    m_watcher.addPath(info.absolutePath());
    if (info.exists())
        m_watcher.addPath(info.absoluteFilePath());
    m_last = stamp();
    m_poll.start();
}

ConfigWatcher::Stamp ConfigWatcher::stamp() const
{
    const QFileInfo info(m_path);
    Stamp s;
    s.exists = info.exists();
    if (s.exists) {
        s.size = info.size();
        s.modified = info.lastModified();
    }
    return s;
}

void ConfigWatcher::touched()
{
    // A file replaced by rename drops out of the watcher; watch the new one.
    const QFileInfo info(m_path);
    if (info.exists() && !m_watcher.files().contains(info.absoluteFilePath()))
        m_watcher.addPath(info.absoluteFilePath());
    m_settle.start();
}

void ConfigWatcher::settled()
{
    const Stamp now = stamp();
    // The directory also changes for the database's journal file; only a change of the file counts.
    if (now == m_last)
        return;
    m_last = now;
    emit changed();
}
