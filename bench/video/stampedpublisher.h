#pragma once

#include "bench/video/framestamp.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QTimer>

#include <memory>
#include <mutex>

typedef struct _GstElement GstElement;
class FisheyeScene;

// The latency benchmarks' source: the site simulator's fisheye scene, live on ZeroMQ, every frame
// stamped with its number (FrameStamp), remembering when each frame left.
//
//   appsrc (I420 frames of the scene, pushed by a timer of the calling thread's event loop)
//     ! x264enc tune=zerolatency speed-preset=ultrafast threads=2 key-int-max=FPS
//     ! h264parse config-interval=-1 ! mpegtsmux alignment=7 ! zmqsink
//
// The lens circle is centred in the frame and as high as the frame (or as wide, if narrower), 180
// degrees: as objects.data gives it, centre (width / 2, height / 2) and radius min(width, height) / 2.
class StampedPublisher
{
public:
    StampedPublisher(int width, int height, int fps, const FrameStamp &stamp);
    ~StampedPublisher();

    StampedPublisher(const StampedPublisher &) = delete;
    StampedPublisher &operator=(const StampedPublisher &) = delete;

    // Starts publishing; the ZeroMQ endpoint it binds (tcp://127.0.0.1:PORT), or empty with the reason in
    // *error when the pipeline cannot start (zmqsink must be registered).
    QString start(QString *error);
    void stop();

    // Nanoseconds on the publisher's clock, the one the send times are taken from; any thread.
    qint64 elapsedNs() const { return m_clock.nsecsElapsed(); }
    // Milliseconds from the frame stamped `number` leaving (pushed into the encoder) to arrivalNs
    // (elapsedNs()); -1 for a number that was never sent or was forgotten (after 10 s; the stamps' numbers
    // come round again after 2^16 frames). Any thread.
    double latencyMs(qint64 number, qint64 arrivalNs) const;
    quint32 framesSent() const;

private:
    void push();

    const int m_width;
    const int m_height;
    const int m_fps;
    const FrameStamp m_stamp;
    std::unique_ptr<FisheyeScene> m_scene;
    GstElement *m_pipeline = nullptr;
    GstElement *m_source = nullptr;
    QTimer m_timer;
    QElapsedTimer m_clock;
    mutable std::mutex m_mutex;
    QHash<quint32, qint64> m_sent; // under m_mutex: stamped number -> send time (ns)
    quint32 m_next = 1;            // under m_mutex
};
