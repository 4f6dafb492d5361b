#pragma once

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

// Tells when a file has changed and then stayed quiet for a moment. The application saves
// objects.data as many separate statements (deletes, then one insert per row), so reacting to
// the first write would read a half-written file; the settle delay waits for the last one.
// A file-system watcher gives a quick reaction; a slow poll of size and modification time covers
// file systems and replace-by-rename saves that the watcher misses.
class ConfigWatcher : public QObject
{
    Q_OBJECT

public:
    explicit ConfigWatcher(const QString &path, QObject *parent = nullptr);

    void setSettleDelay(int ms) { m_settle.setInterval(ms); }
    void setPollInterval(int ms) { m_poll.setInterval(ms); }

signals:
    void changed();

private:
    struct Stamp
    {
        bool exists = false;
        qint64 size = -1;
        QDateTime modified;
        bool operator==(const Stamp &o) const { return exists == o.exists && size == o.size && modified == o.modified; }
    };
    Stamp stamp() const;
    void touched();
    void settled();

    QString m_path;
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    QTimer m_poll;
    Stamp m_last;
};
