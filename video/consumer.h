#pragma once

#include "video/framesink.h"
#include "video/videoinfo.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

class ConsumerPriv;
class Producer;
class QQuickItem;
typedef struct _GstAppSrc GstAppSrc;
typedef struct _GstElement GstElement;

// Shows the frames of one Producer in a GstGLVideoItem, optionally dewarped, and optionally the
// frame as it is in a second item (rawWidget) from the same upload.
//
// Dewarped, where the GL stack runs the lookup element on a GPU (launchLine(true, true, raw)):
//   appsrc name=appsrc ! queue name=q ! glupload ! glcolorconvert ! tee name=t
//     t. ! quillondefish name=defish ! capsfilter name=size ! qmlglsink name=qmlglsink
//    [t. ! quillondefish name=raw defish=false ! capsfilter name=rawsize ! qmlglsink name=rawsink]
// The frame's planes go up once, and both items are drawn at their size on screen on the one
// thread that uploads it (no queue per pane). Where GL draws in software (Mesa's llvmpipe) the
// frame stays in memory and each pane is made on the CPU at its size, on a thread of its own behind
// a leaky two-frame queue (cpuLaunchLine(raw)):
//   appsrc name=appsrc ! queue name=q ! tee name=t
//     t. ! queue name=qdefish ! quillonremap name=defish ! capsfilter name=size
//        ! glupload ! glcolorconvert ! qmlglsink name=qmlglsink
//    [t. ! queue name=qraw ! quillonremap name=raw defish=false ! capsfilter name=rawsize
//        ! glupload ! glcolorconvert ! qmlglsink name=rawsink]
// Not dewarped, or where the lookup element does not run (or with QUILLON_DEFISH_PATH=shader), at
// the frame's size (launchLine(useShader, false, raw)):
//   appsrc name=appsrc ! queue name=q ! glupload ! glcolorconvert ! video/x-raw(memory:GLMemory),format=RGBA
//          [ ! tee name=t t. ! queue name=qdefish ] [ ! glshader name=defish ] ! qmlglsink name=qmlglsink
//          [ t. ! queue name=qraw ! qmlglsink name=rawsink ]
//
// The consumer registers with its producer, which pushes frames into the app
// source while the app source asks for data. Destroying a consumer or its
// producer, in either order and while frames flow, is safe: the consumer
// unregisters (waiting for a frame being handed out) and stops its pipeline
// before its private part goes.
class Consumer : public QObject, public FrameSink
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(ConsumerState state READ state WRITE setState NOTIFY stateChanged)
    Q_PROPERTY(Producer *producer READ producer WRITE setProducer NOTIFY producerChanged)
    Q_PROPERTY(QQuickItem *widget READ widget WRITE setWidget NOTIFY widgetChanged)
    Q_PROPERTY(VideoInfo *videoInfo READ videoInfo WRITE setVideoInfo NOTIFY videoInfoChanged)
    Q_PROPERTY(bool useShader READ useShader WRITE setUseShader NOTIFY useShaderChanged)
    Q_PROPERTY(QString shader READ shader WRITE setShader NOTIFY shaderChanged)
    Q_PROPERTY(QQuickItem *rawWidget READ rawWidget WRITE setRawWidget NOTIFY rawWidgetChanged)
    Q_PROPERTY(bool usesLookup READ usesLookup NOTIFY usesLookupChanged)
    // Size and shape of the dewarped picture (the size it is served at); empty: the video's frame size.
    // The pane shows it scaled to its own size, the snapshot at this size.
    Q_PROPERTY(QSize pictureSize READ pictureSize WRITE setPictureSize NOTIFY pictureSizeChanged)

public:
    // Buffering is named for QML only; no transition enters it.
    enum ConsumerState { Null = 0, Ready = 1, Playing = 2, Buffering = 3 };
    Q_ENUM(ConsumerState)
    // How a dewarping pipeline draws: through the plain shader, the lookup element, or on the CPU.
    enum DewarpPath { ShaderPath, LookupPath, CpuPath };
    Q_ENUM(DewarpPath)

    explicit Consumer(QObject *parent = nullptr);
    ~Consumer() override;

    QString name() const;
    void setName(const QString &name);
    ConsumerState state() const;
    void setState(ConsumerState state);
    Producer *producer() const;
    void setProducer(Producer *producer);
    QQuickItem *widget() const;
    void setWidget(QQuickItem *widget);
    VideoInfo *videoInfo() const;
    void setVideoInfo(VideoInfo *videoInfo);
    bool useShader() const;
    void setUseShader(bool useShader);
    QString shader() const;
    void setShader(const QString &shader);
    // Where the frame is also shown as it is (taken at start()).
    QQuickItem *rawWidget() const;
    void setRawWidget(QQuickItem *widget);
    // Whether the running pipeline dewarps through the lookup element (false on the shader path).
    bool usesLookup() const;
    // The running (or last) pipeline's path.
    DewarpPath dewarpPath() const;
    QSize pictureSize() const;
    void setPictureSize(const QSize &size);

    Q_INVOKABLE bool start();
    Q_INVOKABLE void stop();
    Q_INVOKABLE void setUniforms(const QVariantMap &uniforms);

    // For the producer's fan-out (FrameSink, any thread): whether the app source asks for
    // data, and the app source with a new reference (null without a pipeline).
    bool isWaitingForData() const override;
    GstAppSrc *appSrcRef() const override;
    QString sinkName() const override { return name(); }

    // The last dewarped frame at pictureSize (or the video's frame size), whatever the item's size on
    // screen (without a shader: the last frame shown); null before the first frame.
    QImage lastFrame() const;
    // Saves lastFrame() as a PNG at path (a local path or a file: URL; ".png" added when it has no
    // suffix, missing folders created). {"path": the file written} or {"error": why not}.
    Q_INVOKABLE QVariantMap saveSnapshot(const QString &path);
    // Where a snapshot goes without the operator choosing: a timestamped name, not yet taken, in the
    // user's pictures folder (or home), subfolder Quillon.
    Q_INVOKABLE static QString defaultSnapshotPath();

    // The launch line of the display pipeline.
    static QString launchLine(bool useShader, bool lookup, bool raw);
    static QString cpuLaunchLine(bool raw);

    // The current pipeline (borrowed; null while stopped).
    GstElement *pipeline() const;

signals:
    void nameChanged();
    void stateChanged();
    void producerChanged();
    void widgetChanged();
    void videoInfoChanged();
    void useShaderChanged();
    void shaderChanged();
    void rawWidgetChanged();
    void usesLookupChanged();
    void pictureSizeChanged();
    void isWaitingForDataChanged();

private slots:
    void onProducerStateChanged();
    void onProducerVideoInfoChanged();
    void updateOutputSizes();

private:
    void startPlaying();
    void releasePipeline();
    // Called by a producer being destroyed, after it has stopped its pipeline
    // and dropped this consumer from its list.
    void detachFromProducer(Producer *producer) override;

    ConsumerPriv *d;
    friend class ConsumerPriv;
};
