#include "defish/layoutcodec.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QVariantList>

#include <cmath>

namespace LayoutCodec {
namespace {

bool number(const QVariantMap &map, const char *key, float *value, QString *error)
{
    const auto it = map.constFind(QLatin1String(key));
    if (it == map.constEnd())
        return true;
    bool ok = false;
    const double d = it->toDouble(&ok);
    if (!ok || !std::isfinite(d)) {
        *error = QStringLiteral("\"%1\" is not a number").arg(QLatin1String(key));
        return false;
    }
    *value = float(d);
    return true;
}

} // namespace

bool fromMap(const QString &mode, const QVariantMap &map, FisheyeMount mount, FisheyeLayout *layout, QString *error)
{
    FisheyeLayout result;
    result.mount = mount;
    if (!FisheyeProjection::modeFromName(mode.toUtf8().constData(), &result.mode)) {
        *error = QStringLiteral("unknown view mode \"%1\"").arg(mode);
        return false;
    }
    if (!number(map, "azimuth", &result.azimuth, error) || !number(map, "upper", &result.upper, error) ||
        !number(map, "lower", &result.lower, error))
        return false;
    const auto quad = map.constFind(QStringLiteral("quad"));
    if (quad != map.constEnd()) {
        const QVariantList views = quad->toList();
        if (views.size() != 4) {
            *error = QStringLiteral("a quad holds four views, not %1").arg(views.size());
            return false;
        }
        for (int i = 0; i < 4; ++i) {
            const QVariantMap v = views.at(i).toMap();
            FisheyeView &q = result.quad[i];
            if (!number(v, "roll", &q.roll, error) || !number(v, "tilt", &q.tilt, error) ||
                !number(v, "pan", &q.pan, error) || !number(v, "zoom", &q.fov, error))
                return false;
        }
    }
    *layout = result;
    return true;
}

bool fromJson(const QString &mode, const QString &json, FisheyeMount mount, FisheyeLayout *layout, QString *error)
{
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8(), &parse);
    if (!json.trimmed().isEmpty() && !document.isObject()) {
        *error = QStringLiteral("the layout is not a JSON object: %1").arg(parse.errorString());
        return false;
    }
    return fromMap(mode, document.object().toVariantMap(), mount, layout, error);
}

QVariantMap toMap(const FisheyeLayout &layout)
{
    QVariantList quad;
    for (const FisheyeView &q : layout.quad) {
        quad.append(QVariantMap{{QStringLiteral("roll"), q.roll},
                                {QStringLiteral("tilt"), q.tilt},
                                {QStringLiteral("pan"), q.pan},
                                {QStringLiteral("zoom"), q.fov}});
    }
    return {{QStringLiteral("azimuth"), layout.azimuth},
            {QStringLiteral("upper"), layout.upper},
            {QStringLiteral("lower"), layout.lower},
            {QStringLiteral("quad"), quad}};
}

QString toJson(const QVariantMap &map)
{
    return QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(QJsonDocument::Compact));
}

} // namespace LayoutCodec
