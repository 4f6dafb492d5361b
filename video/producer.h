#pragma once

#include "video/videoinfo.h"

#include <QImage>
#include <QObject>
#include <QString>

class FrameSink;
class ProducerPriv;
typedef struct _GstElement GstElement;
typedef struct _GstSample GstSample;

// Decodes one video source into raw I420 frames and hands every frame to the
// consumers registered with it.
//
//   <source> ! decodebin ! videoconvert ! video/x-raw,format=I420
//            ! typefind name=typefind ! appsink name=appsink drop=true max-buffers=1
//
// The source text is a SourceAddress, which chooses the first element; its
// values are given to the element as property values, never spliced into the
// launch line.
//
// A pipeline that fails (an error on its bus, or no frame within
// firstFrameTimeout of its start: garbage may pass for a stream that never
// decodes) is logged, its reason is published in errorText, and it is built
// again after a pause that doubles from 1 s up to 30 s; the first frame clears
// errorText and the pause.
//
// A source that stops sending once it played (a publisher gone, the end of a
// file) leaves the pictures on its last frame: after stallTimeout without a
// frame the producer goes back to Ready and says so in errorText, and the next
// frame clears it again (ZeroMQ connects to a publisher that comes back by
// itself).
class Producer : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(ProducerState state READ state NOTIFY stateChanged)
    Q_PROPERTY(VideoInfo *videoInfo READ videoInfo NOTIFY videoInfoChanged)
    Q_PROPERTY(QString errorText READ errorText NOTIFY errorTextChanged)

public:
    // Buffering is named for QML only; no transition enters it.
    enum ProducerState { Null = 0, Ready = 1, Playing = 2, Buffering = 3 };
    Q_ENUM(ProducerState)

    explicit Producer(QObject *parent = nullptr);
    ~Producer() override;

    QString source() const;
    void setSource(const QString &source);
    ProducerState state() const;
    VideoInfo *videoInfo() const;
    // Why there is no picture, for the operator; empty while the source works.
    QString errorText() const;

    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kMaxRetryMs = 30000;
    static constexpr int kDefaultFirstFrameTimeoutMs = 10000;

    int firstFrameTimeout() const;
    void setFirstFrameTimeout(int milliseconds);

    static constexpr int kDefaultStallTimeoutMs = 3000;
    int stallTimeout() const;
    void setStallTimeout(int milliseconds);

    Q_INVOKABLE bool start();
    Q_INVOKABLE void stop();

    // Called by a sink (a Consumer) on the main thread. Both wait while a frame is being
    // handed out.
    void registerConsumer(FrameSink *consumer);
    void unregisterConsumer(FrameSink *consumer);

    // The current pipeline (borrowed; null before the first start()).
    GstElement *pipeline() const;

    // Hands the next count decoded frames, as 8-bit grey pictures (their luma), to frameGrabbed on
    // this object's thread; a later call replaces the count still pending.
    Q_INVOKABLE void grabFrames(int count);

signals:
    void sourceChanged();
    void stateChanged();
    void videoInfoChanged();
    void errorTextChanged();
    void frameGrabbed(const QImage &grey);

private:
    void setState(ProducerState state);
    void setErrorText(const QString &text);
    void buildPipeline();
    void reportBuildError(const QString &message);
    void releasePipeline();
    // What the streaming threads report, handed over to this object's thread
    // (ProducerPriv::handOver) while their pipeline is the current one.
    void onPipelineFailed(const QString &reason, const QString &detail);
    void onFirstFrame();
    // On this object's thread, now and then while playing: whether frames still come.
    void checkStall();
    void onVideoInfo(int width, int height, const QString &format);

    ProducerPriv *d;
    friend class ProducerPriv;
};
