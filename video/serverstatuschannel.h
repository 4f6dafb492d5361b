#pragma once

#include "platform/ostrevan/serverstatus.h"

#include <QByteArray>
#include <QFutureWatcher>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

class QNetworkReply;
class QSocketNotifier;

// What the streaming server reports about itself, read from structured channels rather than from
// its log lines:
//
//   a pipe    the child inherits its write end (--status-fd N); the server writes one JSON line
//             once it listens ({"statusPort", "rtspPort"}) or when it cannot start ({"fatal"})
//   /status   the server's HTTP status endpoint on 127.0.0.1 at that port, polled every kPollMs
//
// Only one request is out at a time; its document is parsed on a pool thread and handed back to
// this object's thread by the future watcher, the one hand-over point, so a large status never
// holds up the window. Everything ends with close(), also a reply or a parse still under way.
class ServerStatusChannel : public QObject
{
    Q_OBJECT

public:
    static constexpr int kPollMs = 1000;
    // A reply longer than this is dropped (the status of many thousands of views stays well below).
    static constexpr qint64 kMaxDocumentBytes = 256 * 1024 * 1024;

    explicit ServerStatusChannel(QObject *parent = nullptr);
    ~ServerStatusChannel() override;

    // A fresh pipe for the next child, forgetting what the last one reported; false with *error.
    bool open(QString *error);
    // The end the child inherits (close-on-exec here); -1 when none.
    int childFd() const { return m_fds[1]; }
    // What the server needs to use the pipe.
    QStringList serverArguments() const;
    // Once the child runs (or could not start): our copy of its end goes.
    void releaseChildEnd();
    // Reads what the pipe still holds, then stops reading and polling; status() and fatal() keep
    // what came last.
    void close();

    int statusPort() const { return m_statusPort; }
    int rtspPort() const { return m_rtspPort; }
    // The last status document read; empty until one came.
    const ServerStatus &status() const { return m_status; }
    bool hasStatus() const { return m_hasStatus; }
    // Why the server could not start, as it said; empty when it did not.
    QString fatal() const { return m_fatal; }
    // The most recent problem the last status names (a source's, then a view's last error).
    QString lastReportedError() const;

    void setPollInterval(int ms) { m_pollTimer.setInterval(ms); }

signals:
    // The server listens: statusPort() and rtspPort() are known.
    void announced();
    void statusReceived();
    void fatalReceived(const QString &text);

private:
    struct Parsed
    {
        bool ok = false;
        ServerStatus status;
        QString error;
    };

    void readPipe();
    void takeLine(const QByteArray &line);
    void poll();
    void replied(QNetworkReply *reply);
    void parsed();
    void closeFd(int index);

    int m_fds[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_partial;
    QNetworkAccessManager m_network;
    QPointer<QNetworkReply> m_reply;
    QFutureWatcher<Parsed> m_parse;
    QTimer m_pollTimer;
    int m_statusPort = -1;
    int m_rtspPort = -1;
    ServerStatus m_status;
    bool m_hasStatus = false;
    QString m_fatal;
    // Bumped by open() and close(): a parse that finishes for an older run is dropped.
    int m_generation = 0;
    int m_parseGeneration = 0;
};
