#pragma once

#include "defish/fisheyeprojection.h"
#include "defish/lens.h"

#include <QMetaType>
#include <QString>
#include <QVariantMap>

// What a stored view shows, from the defish window through objects.data to the server: where its
// perspective picture looks (roll, tilt, pan in camera angles, as stored; zoom the horizontal field of
// view), and for another mode ("panorama", "double-panorama", "quad", "half-panorama") its layout
// (LayoutCodec's map). A value: QML reads and writes copies of it.
class ViewAim
{
    Q_GADGET
    Q_PROPERTY(float roll MEMBER roll)
    Q_PROPERTY(float tilt MEMBER tilt)
    Q_PROPERTY(float pan MEMBER pan)
    Q_PROPERTY(float zoom MEMBER zoom)
    Q_PROPERTY(QString mode MEMBER mode)
    Q_PROPERTY(QVariantMap layout MEMBER layout)

public:
    float roll = 0.0f;
    float tilt = 0.0f;
    float pan = 0.0f;
    float zoom = 0.0f;
    QString mode = QStringLiteral("perspective");
    QVariantMap layout;

    // The same aim with roll, tilt and pan taken as room angles of a mount and turned into camera angles
    // (FisheyeProjection::toCamera), and back; an unknown mount is a wall.
    Q_INVOKABLE ViewAim toCamera(const QString &mount) const;
    Q_INVOKABLE ViewAim toRoom(const QString &mount) const;
    // Whether the server serves it: a perspective view's aim by Servable::aimIsServable, another mode's
    // layout when it reads.
    Q_INVOKABLE bool isServable() const;

    // The perspective view for a picture of that ratio (width over height).
    FisheyeView fisheye(float ratio) const;
    // The picture's layout for a lens that hangs on mount; false with a reason when the mode or layout is
    // not one.
    bool fisheyeLayout(FisheyeMount mount, FisheyeLayout *layout, QString *why) const;

    // What the dewarping elements take (DefishFilter::uniforms) for this aim in camera angles on a lens and
    // a frame of width x height, drawn at ratio; empty, with a log line, where the layout does not read.
    static QVariantMap uniforms(const Lens &lens, const ViewAim &aim, float width, float height, float ratio);

    bool operator==(const ViewAim &other) const;
    bool operator!=(const ViewAim &other) const { return !(*this == other); }
};

Q_DECLARE_METATYPE(ViewAim)
