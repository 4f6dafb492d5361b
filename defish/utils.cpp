#include "defish/utils.h"

#include "defish/defishshader.h"
#include "defish/fisheyeprojection.h"
#include "defish/servedsize.h"
#include "video/sourceaddress.h"

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

QSize Utils::servedSize() const
{
    return {ServedSize::kDefaultWidth, ServedSize::kDefaultHeight};
}
