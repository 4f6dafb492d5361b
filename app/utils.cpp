#include "app/utils.h"

#include "video/videoitemkeeper.h"

#include "defish/defishfilter.h"
#include "defish/defishlogging.h"
#include "defish/defishshader.h"
#include "defish/fisheyeprojection.h"
#include "defish/servedsize.h"
#include "repo/sourceaddress.h"

Utils::Utils(QObject *parent) : QObject(parent), Singleton<Utils>(this)
{
    // QML holds the values lens() and aim() hand out and passes them back.
    qRegisterMetaType<Lens>();
    qRegisterMetaType<ViewAim>();
}

Utils::~Utils() = default;

void Utils::keepVideoItemUntilSynchronised(QQuickItem *item) const
{
    VideoItemKeeper::keepUntilSynchronised(item);
}

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

QSize Utils::servedSize(const QString &mode) const
{
    FisheyeViewMode value = FisheyeViewMode::Perspective;
    if (!mode.isEmpty() && !FisheyeProjection::modeFromName(mode.toUtf8().constData(), &value))
        qCWarning(lcDefish, "Unknown view mode \"%s\" taken as perspective", qPrintable(mode));
    QSize size;
    ServedSize::forMode(value, ServedSize::kDefaultWidth, ServedSize::kDefaultHeight, &size.rwidth(), &size.rheight());
    return size;
}

Lens Utils::lens(qreal centerX, qreal centerY, qreal radius, qreal fov, const QString &mount,
                 const QString &projection) const
{
    Lens lens = Lens::fromPixels(centerX, centerY, radius, float(fov));
    lens.mount = mount;
    lens.projection = projection;
    return lens;
}

ViewAim Utils::aim(qreal roll, qreal tilt, qreal pan, qreal zoom, const QString &mode, const QVariantMap &layout) const
{
    ViewAim aim;
    aim.roll = float(roll);
    aim.tilt = float(tilt);
    aim.pan = float(pan);
    aim.zoom = float(zoom);
    aim.mode = mode;
    aim.layout = layout;
    return aim;
}

QVariantMap Utils::uniforms(const Lens &lens, const ViewAim &aim, qreal width, qreal height, qreal ratio) const
{
    return ViewAim::uniforms(lens, aim, float(width), float(height), float(ratio));
}
