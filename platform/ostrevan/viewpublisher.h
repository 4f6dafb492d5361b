#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <gst/gst.h>

#include <atomic>
#include <memory>

// Pushes one served view to another RTSP server (--publish), by RECORD, for that server to hand it
// on to as many clients as it likes:
//
//   rtspsrc (the view, from this server over loopback) ! rtph264depay ! h264parse
//       ! rtspclientsink (TARGET/STREAM-SERIAL/VIEW-NAME)
//
// The publisher watches the view as one more client of this server, so the view is dewarped and
// encoded once for it and the local clients together. A failure (the target refuses or goes away,
// the view's media ends) tears the pipeline down and builds it again after a pause of 1, 2, 4 ...
// up to 30 s, logged once per pause with the target's password masked; the pause starts over at
// 1 s once frames went out again.
class ViewPublisher : public QObject
{
    Q_OBJECT

public:
    struct Source
    {
        QString url;  // rtsp[s]://LOOPBACK:PORT/PATH of the view on this server
        QString user; // how the publisher signs in to this server (empty: no sign-in)
        QString password;
    };

    // target: the view's address on the other server, credentials included if it wants them.
    ViewPublisher(const QString &label, const Source &source, const QString &target, QObject *parent = nullptr);
    ~ViewPublisher() override;

    void start();

    // The view's address on the other server, without its password.
    QString target() const;
    quint64 framesSent() const { return m_sent->load(); }
    int failures() const { return m_failures; }

    // The address of a view under a --publish base address: BASE/STREAM-SERIAL/VIEW-NAME, each part
    // percent-encoded as in this server's own addresses.
    static QString targetFor(const QString &base, const QString &streamSerial, const QString &viewName);
    // Whether a --publish address can be used (rtsp:// or rtsps:// with a host); *why says why not.
    static bool validBase(const QString &base, QString *why);

private:
    void stopPipeline();
    void fail(const QString &why);
    void handleMessage(quint64 generation, GstMessage *message);
    void checkProgress();

    const QString m_label;
    const Source m_source;
    const QString m_target;
    GstElement *m_pipeline = nullptr;
    quint64 m_generation = 0;
    std::shared_ptr<std::atomic<quint64>> m_sent;
    quint64 m_sentAtCheck = 0;
    qint64 m_progressUs = 0;
    int m_retryMs = 1000;
    int m_failures = 0;
    bool m_announce = true;
    QTimer m_restart;
    QTimer m_watchdog;
};
