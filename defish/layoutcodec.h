#pragma once

#include "defish/fisheyeprojection.h"

#include <QString>
#include <QVariantMap>

// A stored view's layout as objects.data keeps it and QML handles it: its mode by name
// (FisheyeProjection::modeName) and, for the modes other than perspective, a JSON object
//   {"azimuth": -180, "upper": 0, "lower": -90,
//    "quad": [{"roll": 0, "tilt": 30, "pan": -45, "zoom": 70}, ... four of them]}
// with the panorama's azimuth and elevations (room angles of the stream's mount) and the quad's views
// (camera angles, left to right, top to bottom). Fields left out take the defaults of FisheyeLayout.
namespace LayoutCodec {

// The layout a mode name and a map ({"azimuth", "upper", "lower", "quad"}) describe. False with a
// reason for an unknown mode, a value that is not a finite number, or a quad of other than four views.
bool fromMap(const QString &mode, const QVariantMap &map, FisheyeMount mount, FisheyeLayout *layout,
             QString *error);
bool fromJson(const QString &mode, const QString &json, FisheyeMount mount, FisheyeLayout *layout, QString *error);
QVariantMap toMap(const FisheyeLayout &layout);
// Compact JSON of toMap().
QString toJson(const QVariantMap &map);

} // namespace LayoutCodec
