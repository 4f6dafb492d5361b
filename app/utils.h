#pragma once

#include "app/singleton.h"
#include "defish/lens.h"
#include "defish/viewaim.h"

#include <QObject>
#include <QSize>
#include <QString>
#include <QVariantMap>

// Stateless helpers for QML: the defish fragment shader, the stream url forms and
// the producer source address of a stream.
class QQuickItem;

class Utils : public QObject, public Singleton<Utils>
{
    Q_OBJECT

public:
    explicit Utils(QObject *parent = nullptr);
    ~Utils() override;

    Q_INVOKABLE QString defishShader() const;
    // Before content with a GL video item goes: the item stays with its window until the window's render
    // thread is done with it (VideoItemKeeper).
    Q_INVOKABLE void keepVideoItemUntilSynchronised(QQuickItem *item) const;
    // Vertex stage for glshader's "vertex" property, in the fragment shader's GLSL version: GStreamer's
    // default vertex stage carries no version line, and GL refuses to link stages of different versions.
    Q_INVOKABLE QString defishVertexShader() const;
    // True for an absolute path: a leading "/" or a drive letter ("C:/video/a.mp4").
    Q_INVOKABLE bool isFileUrl(const QString &url) const;
    Q_INVOKABLE bool isZmqUrl(const QString &url) const;
    Q_INVOKABLE bool isRtspUrl(const QString &url) const;
    // The producer's source address for a stream's url, host and ZeroMQ port
    // (see SourceAddress::forStream).
    Q_INVOKABLE QString sourceAddress(const QString &url, const QString &host, int zmqPort) const;

    // The size the streaming server serves views of a mode at ("perspective" for none; ServedSize): the
    // preview's and snapshot's size.
    Q_INVOKABLE QSize servedSize(const QString &mode = QString()) const;
    // A lens and a view's aim as the values the program passes around (Lens, ViewAim).
    Q_INVOKABLE Lens lens(qreal centerX, qreal centerY, qreal radius, qreal fov, const QString &mount,
                          const QString &projection) const;
    Q_INVOKABLE ViewAim aim(qreal roll, qreal tilt, qreal pan, qreal zoom, const QString &mode,
                            const QVariantMap &layout) const;
    // What the dewarping elements take for an aim in camera angles on a lens and a frame of width x height,
    // drawn at ratio (ViewAim::uniforms).
    Q_INVOKABLE QVariantMap uniforms(const Lens &lens, const ViewAim &aim, qreal width, qreal height,
                                     qreal ratio) const;
};
