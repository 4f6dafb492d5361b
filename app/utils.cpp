#include "app/utils.h"

#include "defish/defishfilter.h"
#include "defish/defishlogging.h"
#include "defish/defishshader.h"
#include "defish/layoutcodec.h"
#include "defish/fisheyeprojection.h"
#include "defish/servedsize.h"
#include "repo/sourceaddress.h"

#include <gst/gst.h>

Utils::Utils(QObject *parent) : QObject(parent), Singleton<Utils>(this) {}

Utils::~Utils() = default;

QString Utils::defishShader() const
{
    return QString::fromLatin1(DefishShader::fragment());
}

QString Utils::defishVertexShader() const
{
    return QString::fromLatin1(DefishShader::vertex());
}

bool Utils::isFileUrl(const QString &url) const
{
    return SourceAddress::isFilePath(url.toStdString());
}

bool Utils::isZmqUrl(const QString &url) const
{
    return SourceAddress::isGatewayReference(url.toStdString());
}

bool Utils::isRtspUrl(const QString &url) const
{
    return SourceAddress::isRtspUrl(url.toStdString());
}

QString Utils::sourceAddress(const QString &url, const QString &host, int zmqPort) const
{
    return QString::fromStdString(SourceAddress::forStream(url.toStdString(), host.toStdString(), zmqPort));
}

namespace {

FisheyeMount mountOf(const QString &name)
{
    FisheyeMount mount = FisheyeMount::Wall;
    FisheyeProjection::mountFromName(qPrintable(name), &mount);
    return mount;
}

QVariantMap anglesMap(const FisheyeView &view)
{
    return {{QStringLiteral("roll"), double(view.roll)},
            {QStringLiteral("tilt"), double(view.tilt)},
            {QStringLiteral("pan"), double(view.pan)}};
}

FisheyeView viewOf(qreal roll, qreal tilt, qreal pan)
{
    FisheyeView view;
    view.roll = float(roll);
    view.tilt = float(tilt);
    view.pan = float(pan);
    return view;
}

} // namespace

QVariantMap Utils::cameraAngles(const QString &mount, qreal roll, qreal tilt, qreal pan) const
{
    return anglesMap(FisheyeProjection::toCamera(mountOf(mount), viewOf(roll, tilt, pan)));
}

QVariantMap Utils::roomAngles(const QString &mount, qreal roll, qreal tilt, qreal pan) const
{
    return anglesMap(FisheyeProjection::fromCamera(mountOf(mount), viewOf(roll, tilt, pan)));
}

int Utils::lensPixels(qreal value) const
{
    return FisheyeLens::wholePixels(value);
}

QSize Utils::servedSize(const QString &mode) const
{
    FisheyeViewMode value = FisheyeViewMode::Perspective;
    if (!mode.isEmpty() && !FisheyeProjection::modeFromName(mode.toUtf8().constData(), &value))
        qCWarning(lcDefish, "Unknown view mode \"%s\" taken as perspective", qPrintable(mode));
    QSize size;
    ServedSize::forMode(value, ServedSize::kDefaultWidth, ServedSize::kDefaultHeight, &size.rwidth(), &size.rheight());
    return size;
}

QVariantMap Utils::uniforms(const QVariantMap &lens, const QVariantMap &view, const QString &mode,
                            const QVariantMap &layout, const QString &mount) const
{
    FisheyeMount fisheyeMount = FisheyeMount::Wall;
    FisheyeProjection::mountFromName(mount.toUtf8().constData(), &fisheyeMount);
    FisheyeLayout fisheyeLayout;
    QString why;
    if (!LayoutCodec::fromMap(mode, layout, fisheyeMount, &fisheyeLayout, &why)) {
        qCWarning(lcDefish, "No uniforms: %s", qPrintable(why));
        return {};
    }
    const auto number = [](const QVariantMap &map, const char *key) {
        return map.value(QLatin1String(key)).toFloat();
    };
    FisheyeLens fisheyeLens{number(lens, "width"),  number(lens, "height"), number(lens, "centerX"),
                            number(lens, "centerY"), number(lens, "radius"), number(lens, "fov")};
    FisheyeProjection::projectionFromName(lens.value(QStringLiteral("projection")).toString().toUtf8().constData(),
                                          &fisheyeLens.projection);
    const FisheyeView fisheyeView{number(view, "roll"), number(view, "tilt"), number(view, "pan"),
                                  number(view, "zoom"), number(view, "ratio")};
    GstStructure *structure = DefishFilter::uniforms(fisheyeLens, fisheyeView, fisheyeLayout);
    QVariantMap result;
    for (int i = 0; i < gst_structure_n_fields(structure); ++i) {
        const char *name = gst_structure_nth_field_name(structure, i);
        const GValue *value = gst_structure_get_value(structure, name);
        if (value && G_VALUE_HOLDS_FLOAT(value))
            result.insert(QString::fromLatin1(name), g_value_get_float(value));
    }
    gst_structure_free(structure);
    return result;
}
