#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <gst/gst.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class ViewChannel;
typedef struct _GstGLContext GstGLContext;
typedef struct _GstGLDisplay GstGLDisplay;

// Receives and decodes one stream, once, and hands every decoded frame to the views cut out of it.
//
//   SOURCE ! decodebin ! videoconvert ! video/x-raw,format=I420 [! glupload] ! appsink
//            (the appsink's streaming thread calls offer() on every registered view)
//
// For views dewarped with GL, the stream has a GL display with one GL context, created with the
// source, that the media of all its views share (see glContext()): one GL thread and one set of
// GL objects per stream, however many views it has. The frames then go to GL here, once, and the
// views pass the same textures on.
//
// A file plays in a loop without a break. A source that fails, ends or stops delivering is torn
// down and built again after a pause that grows to a few seconds; the views stay registered meanwhile, so their RTSP
// mounts never go away.
class StreamSource : public QObject
{
    Q_OBJECT

public:
    // gl: with a GL display and context for the views (see glContext()).
    StreamSource(const QString &serial, const QString &url, bool gl = false, QObject *parent = nullptr);
    ~StreamSource() override;

    // The decoding pipeline for a source address (see SourceAddress), its first element named
    // "source" and its appsink "sink"; null with *error for an address or a pipeline that fails.
    // *live tells whether the source paces itself (otherwise the sink syncs to the clock). With
    // gl, the frames reach the sink in GL memory of that display's context.
    static GstElement *buildPipeline(const QString &url, bool *live, QString *error, GstContext *gl = nullptr);

    QString serial() const { return m_serial; }
    QString url() const { return m_url; }

    void start();
    void addView(const std::shared_ptr<ViewChannel> &view);
    void removeView(const std::shared_ptr<ViewChannel> &view);

    // The stream's GL display, for the pipelines of its views: their GL elements then take the
    // stream's context. Null without GL; otherwise a new reference.
    GstContext *glContext() const;

    quint64 framesDecoded() const { return m_shared->decoded.load(); }
    int restarts() const { return m_restarts; }
    // "starting", "receiving", "reconnecting" or "unusable" (its address is wrong).
    QString state() const;
    QString lastError() const { return m_lastError; }

    // What the streaming thread reaches; lives as long as any pipeline of this source.
    struct Shared
    {
        std::mutex mutex;
        std::vector<std::shared_ptr<ViewChannel>> views;
        std::atomic<quint64> decoded{0};
        std::atomic<qint64> lastFrameUs{0};
    };

private:
    void stopPipeline();
    void scheduleRestart(const QString &why);
    void handleMessage(quint64 generation, GstMessage *message);
    void checkStalled();

    QString m_serial;
    QString m_url;
    std::shared_ptr<Shared> m_shared;
    GstGLDisplay *m_glDisplay = nullptr;
    GstGLContext *m_glContext = nullptr;
    GstElement *m_pipeline = nullptr;
    quint64 m_generation = 0;
    qint64 m_startedUs = 0;
    int m_retryMs = 1000;
    int m_restarts = 0;
    QString m_lastError;
    bool m_configError = false;
    bool m_live = true;
    bool m_looping = false; // a file source plays in a loop of segment seeks
    bool m_announce = true; // log the next successful start
    QTimer m_restartTimer;
    QTimer m_watchdog;
};
