#include "platform/ostrevan/statusserver.h"

#include "platform/ostrevan/serverlogging.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr int kMaxHead = 8 * 1024;
constexpr int kRequestTimeoutMs = 5000;
constexpr int kMaxConnections = 64;

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Error";
    }
}

} // namespace

StatusServer::StatusServer(Snapshot snapshot, QObject *parent) : QObject(parent), m_snapshot(std::move(snapshot))
{
    connect(&m_server, &QTcpServer::newConnection, this, &StatusServer::accept);
}

bool StatusServer::listen(const QString &address, int port, QString *error)
{
    const QHostAddress host(address);
    if (host.isNull()) {
        *error = QStringLiteral("the status address %1 is not an IP address").arg(address);
        return false;
    }
    if (!m_server.listen(host, quint16(port))) {
        *error = QStringLiteral("cannot listen for status requests on %1:%2: %3")
                     .arg(address)
                     .arg(port)
                     .arg(m_server.errorString());
        return false;
    }
    return true;
}

void StatusServer::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_open >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_open;
        // What a request may not exceed stays with the kernel, not in memory here.
        socket->setReadBufferSize(2 * kMaxHead);
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        auto *timeout = new QTimer(socket);
        timeout->setSingleShot(true);
        connect(timeout, &QTimer::timeout, this,
                [this, socket] { reply(socket, 408, "text/plain", "Request Timeout\n"); });
        timeout->start(kRequestTimeoutMs);
    }
}

void StatusServer::read(QTcpSocket *socket)
{
    if (socket->property("answered").toBool()) {
        socket->readAll();
        return;
    }
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    const int end = head.indexOf("\r\n\r\n");
    if (end < 0) {
        if (head.size() > kMaxHead)
            reply(socket, 431, "text/plain", "Request Header Fields Too Large\n");
        else
            socket->setProperty("head", head);
        return;
    }
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1.")) {
        reply(socket, 400, "text/plain", "Bad Request\n");
        return;
    }
    const QByteArray method = requestLine.at(0);
    QByteArray path = requestLine.at(1);
    path = path.left(path.indexOf('?') < 0 ? path.size() : path.indexOf('?'));
    if (path != "/status" && path != "/metrics") {
        reply(socket, 404, "text/plain", "Not Found: /status or /metrics\n");
    } else if (method != "GET" && method != "HEAD") {
        reply(socket, 405, "text/plain", "Method Not Allowed\n");
    } else if (path == "/status") {
        reply(socket, 200, "application/json", m_snapshot().toJson(), method == "HEAD");
    } else {
        reply(socket, 200, "text/plain; version=0.0.4; charset=utf-8", m_snapshot().toPrometheus(), method == "HEAD");
    }
}

void StatusServer::reply(QTcpSocket *socket, int status, const QByteArray &type, const QByteArray &body, bool head)
{
    if (socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);
    socket->setProperty("head", QVariant());
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) +
                          "\r\nContent-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size()) +
                          "\r\nCache-Control: no-store\r\nConnection: close\r\n";
    if (status == 405)
        response += "Allow: GET, HEAD\r\n";
    response += "\r\n";
    if (!head)
        response += body;
    socket->write(response);
    socket->disconnectFromHost();
    // A peer that reads nothing does not hold its connection for ever.
    QTimer::singleShot(kRequestTimeoutMs, socket, [socket] { socket->abort(); });
    if (status >= 400 && status != 404)
        qCDebug(lcServer, "Status request from %s answered %d", qUtf8Printable(socket->peerAddress().toString()),
                status);
}
