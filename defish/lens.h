#pragma once

#include "defish/fisheyeprojection.h"

#include <QMetaType>
#include <QPointF>
#include <QString>

// A stream's lens as the program keeps it, from the defish window through objects.data to the server:
// centre and radius in whole video pixels (centerY counted from the frame's bottom row), the field of
// view across the circle in degrees, how the camera hangs and the lens projection by name
// (FisheyeProjection's names). A value: QML reads and writes copies of it.
class Lens
{
    Q_GADGET
    Q_PROPERTY(int centerX MEMBER centerX)
    Q_PROPERTY(int centerY MEMBER centerY)
    Q_PROPERTY(int radius MEMBER radius)
    Q_PROPERTY(float fov MEMBER fov)
    Q_PROPERTY(QString mount MEMBER mount)
    Q_PROPERTY(QString projection MEMBER projection)

public:
    int centerX = 0;
    int centerY = 0;
    int radius = 0;
    float fov = 0.0f;
    QString mount = QStringLiteral("wall");
    QString projection = QStringLiteral("equidistant");

    // A lens measured in any lengths, rounded to the whole pixels it is kept in (FisheyeLens::wholePixels).
    static Lens fromPixels(double centerX, double centerY, double radius, float fov);
    // The same from shares of a frame of width x height (what the defish window's sliders show: the
    // centre as shares of the width and height, the radius as a share of the width).
    Q_INVOKABLE Lens withShares(double shareX, double shareY, double shareRadius, int width, int height) const;
    // The centre and radius as those shares; (0, 0) and 0 on a frame of no size.
    Q_INVOKABLE QPointF centreShare(int width, int height) const;
    Q_INVOKABLE double radiusShare(int width) const;

    // Whether the stream has a lens the server can serve from (Servable::lensIsSet).
    Q_INVOKABLE bool isSet() const;
    // The projection's lens on a frame of width x height.
    FisheyeLens fisheye(float width, float height) const;
    // The mount; a name that is none reads as a wall.
    FisheyeMount fisheyeMount() const;

    bool operator==(const Lens &other) const;
    bool operator!=(const Lens &other) const { return !(*this == other); }
};

Q_DECLARE_METATYPE(Lens)
