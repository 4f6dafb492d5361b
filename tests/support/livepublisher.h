#pragma once

typedef struct _GstElement GstElement;

// A live H.264 stream in MPEG-TS, 320x240 at 15 frames a second, published on a loopback ZeroMQ port
// while the object exists (the ZeroMQ elements must be registered: Startup::initGStreamer()).
class LivePublisher
{
public:
    explicit LivePublisher(int port);
    ~LivePublisher();
    LivePublisher(const LivePublisher &) = delete;
    LivePublisher &operator=(const LivePublisher &) = delete;

    // Whether the pipeline was built and started.
    bool isPlaying() const { return m_pipeline != nullptr; }

private:
    GstElement *m_pipeline = nullptr;
};
