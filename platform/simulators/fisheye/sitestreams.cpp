#include "platform/simulators/fisheye/sitestreams.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

bool SiteStreams::load(const QString &path, QVector<PublisherSettings> *streams, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    return parse(file.readAll(), streams, error);
}

void SiteStreams::completeLens(FisheyeLens *lens, bool hasCenterX, bool hasCenterY, bool hasRadius)
{
    if (!hasCenterX)
        lens->centerX = lens->width / 2.0;
    if (!hasCenterY)
        lens->centerY = lens->height / 2.0;
    if (!hasRadius)
        lens->radius = qMin(lens->width, lens->height) / 2.0;
}

bool SiteStreams::parse(const QByteArray &json, QVector<PublisherSettings> *streams, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("not JSON: %1 at offset %2").arg(parseError.errorString()).arg(parseError.offset);
        return false;
    }
    if (!document.isObject() || !document.object().value(QStringLiteral("gateways")).isArray()) {
        *error = QStringLiteral("no \"gateways\" array in the site file");
        return false;
    }

    streams->clear();
    const QJsonArray gateways = document.object().value(QStringLiteral("gateways")).toArray();
    for (const QJsonValue &gatewayValue : gateways) {
        const QJsonObject gateway = gatewayValue.toObject();
        const QString host = gateway.value(QStringLiteral("host")).toString(QStringLiteral("127.0.0.1"));
        const QJsonArray list = gateway.value(QStringLiteral("streams")).toArray();
        for (const QJsonValue &streamValue : list) {
            const QJsonObject stream = streamValue.toObject();
            const int port = stream.value(QStringLiteral("zmqPort")).toInt(0);
            if (port <= 0 || port > 65535)
                continue;
            PublisherSettings settings;
            settings.name = stream.value(QStringLiteral("serial")).toString();
            settings.host = host;
            settings.gateway = gateway.value(QStringLiteral("serial")).toString();
            settings.port = port;
            const QJsonObject video = stream.value(QStringLiteral("video")).toObject();
            settings.fps = video.value(QStringLiteral("fps")).toInt(settings.fps);
            settings.bitrate = video.value(QStringLiteral("bitrate")).toInt(0);
            FisheyeLens &lens = settings.lens;
            lens.width = video.value(QStringLiteral("width")).toInt(lens.width);
            lens.height = video.value(QStringLiteral("height")).toInt(lens.height);
            const QJsonObject lensObject =
                video.contains(QStringLiteral("lens")) ? video.value(QStringLiteral("lens")).toObject() : video;
            const QJsonValue cx = lensObject.value(QStringLiteral("centerX"));
            const QJsonValue cy = lensObject.value(QStringLiteral("centerY"));
            const QJsonValue radius = lensObject.value(QStringLiteral("radius"));
            lens.centerX = cx.toDouble();
            lens.centerY = cy.toDouble();
            lens.radius = radius.toDouble();
            lens.fov = lensObject.value(QStringLiteral("fov")).toDouble(lens.fov);
            completeLens(&lens, cx.isDouble(), cy.isDouble(), radius.isDouble());
            streams->append(settings);
        }
    }
    return true;
}
