#pragma once

#include <QString>

// One row of the views table of objects.data, as last loaded.
struct ViewInfo
{
    QString serialStream;
    QString name;
    float roll = 0.0f;
    float tilt = 0.0f;
    float pan = 0.0f;
    float zoom = 0.0f;
    bool isActive = false;
    // A view of another mode than "perspective" lives in viewLayouts, its layout as LayoutCodec's JSON.
    QString mode = QStringLiteral("perspective");
    QString layout;
};
