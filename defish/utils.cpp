#include "defish/utils.h"

#include "defish/defishshader.h"
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
