#pragma once

#include "platform/simulators/fisheye/fisheyepublisher.h"

#include <QString>
#include <QVector>

// Reads the streams to publish from the "gateways" section of a site file:
//
//   "gateways": [{ "serial": "GW1", "host": "127.0.0.1", "port": 8081,
//                  "streams": [{ "serial": "S1", "zmqPort": 5601,
//                                "video": { "width": 1280, "height": 960, "fps": 15,
//                                           "lens": { "centerX": 640, "centerY": 480,
//                                                     "radius": 480, "fov": 180 } } }] }]
//
// "video" and each of its keys are optional (the lens keys may also sit directly
// in "video"); missing values take the defaults of PublisherSettings, and a
// missing lens centre and radius follow the frame size. Streams without a
// zmqPort are skipped.
class SiteStreams
{
public:
    // False with *error set when the file cannot be read or is not a site file.
    static bool load(const QString &path, QVector<PublisherSettings> *streams, QString *error);
    static bool parse(const QByteArray &json, QVector<PublisherSettings> *streams, QString *error);

    // Fills in the lens values that were not given, from the frame size.
    static void completeLens(FisheyeLens *lens, bool hasCenterX, bool hasCenterY, bool hasRadius);
};
