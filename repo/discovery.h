#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>

class Object;
class QNetworkAccessManager;
class QNetworkReply;

// Stream discovery: asks each gateway over HTTP for the ZeroMQ ports of its
// streams and gives every stream it names its port and its source string.
//
// Streams are found through the look-up given at construction (the list model's
// index by serial); a gateway speaks for its own streams only. A request is
// limited in time as a whole and in the size of its reply. reset() drops the
// answers of every request made before it: they belong to replaced rows.
class Discovery : public QObject
{
    Q_OBJECT

public:
    using ObjectPtr = std::shared_ptr<Object>;
    using Lookup = std::function<ObjectPtr(const QString &serial)>;

    // Largest reply body that is read; a longer one is aborted and logged.
    static constexpr qint64 kMaxReplySize = 4 * 1024 * 1024;
    // Default limit for one whole request, so a gateway that never answers, or
    // answers without end, does not keep its request open.
    static constexpr int kDefaultTimeoutMs = 10000;

    explicit Discovery(Lookup streamBySerial, QObject *parent = nullptr);
    ~Discovery() override;

    int timeout() const { return m_timeoutMs; }
    void setTimeout(int milliseconds);

    void request(const ObjectPtr &gateway);
    void parseStreams(const QByteArray &data, const std::weak_ptr<Object> &gateway);
    void reset();

private:
    // A request whose time limit is still to be set.
    struct Request
    {
        QPointer<QNetworkReply> reply;
        std::weak_ptr<Object> gateway;
    };

    void limitRequests();
    void onReplyFinished(QNetworkReply *reply, const std::weak_ptr<Object> &gateway, quint64 generation);
    void onReplyData(QNetworkReply *reply, const std::weak_ptr<Object> &gateway);

    Lookup m_streamBySerial;
    quint64 m_generation = 0;
    std::unique_ptr<QNetworkAccessManager> m_network;
    int m_timeoutMs = kDefaultTimeoutMs;
    // Requests whose time limit is set at the next event-loop turn, all at once.
    QVector<Request> m_untimedRequests;
};
