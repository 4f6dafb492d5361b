#include "defish/lens.h"

#include "defish/servable.h"

Lens Lens::fromPixels(double centerX, double centerY, double radius, float fov)
{
    Lens lens;
    lens.centerX = FisheyeLens::wholePixels(centerX);
    lens.centerY = FisheyeLens::wholePixels(centerY);
    lens.radius = FisheyeLens::wholePixels(radius);
    lens.fov = fov;
    return lens;
}

Lens Lens::withShares(double shareX, double shareY, double shareRadius, int width, int height) const
{
    Lens lens = fromPixels(shareX * width, shareY * height, shareRadius * width, fov);
    lens.mount = mount;
    lens.projection = projection;
    return lens;
}

QPointF Lens::centreShare(int width, int height) const
{
    if (width <= 0 || height <= 0)
        return {};
    return {double(centerX) / width, double(centerY) / height};
}

double Lens::radiusShare(int width) const
{
    return width > 0 ? double(radius) / width : 0.0;
}

bool Lens::isSet() const
{
    return Servable::lensIsSet(radius, fov);
}

FisheyeLens Lens::fisheye(float width, float height) const
{
    FisheyeLens lens{width, height, float(centerX), float(centerY), float(radius), fov};
    FisheyeProjection::projectionFromName(projection.toUtf8().constData(), &lens.projection);
    return lens;
}

FisheyeMount Lens::fisheyeMount() const
{
    FisheyeMount value = FisheyeMount::Wall;
    FisheyeProjection::mountFromName(mount.toUtf8().constData(), &value);
    return value;
}

bool Lens::operator==(const Lens &other) const
{
    return centerX == other.centerX && centerY == other.centerY && radius == other.radius && fov == other.fov &&
           mount == other.mount && projection == other.projection;
}
