#pragma once

#include "defish/viewaim.h"

#include <QJsonDocument>
#include <QJsonObject>
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

    // The row's aim in camera angles, its layout read from the JSON (empty where it does not read).
    ViewAim aim() const
    {
        ViewAim a;
        a.roll = roll;
        a.tilt = tilt;
        a.pan = pan;
        a.zoom = zoom;
        a.mode = mode;
        a.layout = QJsonDocument::fromJson(layout.toUtf8()).object().toVariantMap();
        return a;
    }
};
