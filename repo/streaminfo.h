#pragma once

#include "defish/lens.h"

#include <QString>

// One row of the streams table of objects.data, as last loaded.
struct StreamInfo
{
    QString serialGateway;
    QString serial;
    QString url;
    bool isFisheye = false;
    int centerX = 0;
    int centerY = 0;
    int radius = 0;
    float fov = 0.0f;
    bool isActive = false;
    // From Quillon's own table streamLens; "wall" where the file has no row for the stream.
    QString mount = QStringLiteral("wall");
    // The lens projection, from the same table; "equidistant" where it has none.
    QString projection = QStringLiteral("equidistant");

    Lens lens() const
    {
        Lens l;
        l.centerX = centerX;
        l.centerY = centerY;
        l.radius = radius;
        l.fov = fov;
        l.mount = mount;
        l.projection = projection;
        return l;
    }
};
