#pragma once

#include "platform/ostrevan/serverstatus.h"

#include <QObject>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

// The status endpoint: a small HTTP/1.1 server on the GUI thread that answers
//
//   GET /status   the status as JSON (ServerStatus::toJson())
//   GET /metrics  the status as Prometheus text (ServerStatus::toPrometheus())
//
// one request per connection. A request head over 8 KiB is answered 431, one still incomplete after
// 5 s 408, other methods 405 and other paths 404; beyond 64 connections at once, new ones are closed.
class StatusServer : public QObject
{
    Q_OBJECT

public:
    using Snapshot = std::function<ServerStatus()>;

    explicit StatusServer(Snapshot snapshot, QObject *parent = nullptr);

    // False with *error when the address is not one or the port cannot be opened.
    bool listen(const QString &address, int port, QString *error);
    int port() const { return int(m_server.serverPort()); }

private:
    void accept();
    void read(QTcpSocket *socket);
    void reply(QTcpSocket *socket, int status, const QByteArray &type, const QByteArray &body, bool head = false);

    Snapshot m_snapshot;
    QTcpServer m_server;
    int m_open = 0;
};
