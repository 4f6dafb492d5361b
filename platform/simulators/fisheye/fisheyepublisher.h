#pragma once

#include "platform/simulators/fisheye/fisheyescene.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

typedef struct _GstElement GstElement;

// What one published stream looks like.
struct PublisherSettings
{
    QString name;    // label for log lines (the stream serial)
    QString gateway; // serial of the gateway the stream belongs to, if any
    QString host = QStringLiteral("127.0.0.1");
    int port = 0; // 0: let the system choose
    int fps = 15;
    int bitrate = 0; // kbit/s; 0: chosen from the frame size
    FisheyeLens lens;
};

// Publishes live synthetic fisheye footage on a ZeroMQ PUB socket:
//
//   appsrc (I420 frames of FisheyeScene) ! x264enc (key frame every second)
//     ! mpegtsmux ! zmqsink endpoint=tcp://host:port
//
// Frames are made on the thread that owns the publisher, paced by a timer.
class FisheyePublisher : public QObject
{
    Q_OBJECT

public:
    explicit FisheyePublisher(const PublisherSettings &settings, QObject *parent = nullptr);
    ~FisheyePublisher() override;

    // Builds and starts the pipeline; false with errorString() set on failure.
    bool start();
    void stop();

    QString errorString() const { return m_error; }
    // The endpoint actually bound (with the chosen port), once started.
    QString boundEndpoint() const;
    const PublisherSettings &settings() const { return m_settings; }
    std::int64_t framesPushed() const { return m_frame; }

private:
    void pushFrame();

    PublisherSettings m_settings;
    std::unique_ptr<FisheyeScene> m_scene;
    GstElement *m_pipeline = nullptr;
    GstElement *m_appsrc = nullptr;
    QTimer m_timer;
    std::int64_t m_frame = 0;
    QString m_error;
};
