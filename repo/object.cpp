#include "repo/object.h"

#include "defish/fisheyeprojection.h"
#include "repo/repologging.h"

Object::Object(QObject *parent) : QObject(parent) {}

Object::~Object() = default;

QString Object::id() const
{
    return m_id;
}

void Object::setId(const QString &id)
{
    if (m_id == id)
        return;
    m_id = id;
    emit idChanged();
}

QString Object::idParent() const
{
    return m_idParent;
}

void Object::setIdParent(const QString &idParent)
{
    if (m_idParent == idParent)
        return;
    m_idParent = idParent;
    emit idParentChanged();
}

QString Object::name() const
{
    return m_name;
}

void Object::setName(const QString &name)
{
    if (m_name == name)
        return;
    m_name = name;
    emit nameChanged();
}

QString Object::serial() const
{
    return m_serial;
}

void Object::setSerial(const QString &serial)
{
    if (m_serial == serial)
        return;
    m_serial = serial;
    emit serialChanged();
}

QString Object::url() const
{
    return m_url;
}

void Object::setUrl(const QString &url)
{
    if (m_url == url)
        return;
    m_url = url;
    emit urlChanged();
}

QString Object::sourceUrl() const
{
    return m_sourceUrl;
}

void Object::setSourceUrl(const QString &sourceUrl)
{
    if (m_sourceUrl == sourceUrl)
        return;
    m_sourceUrl = sourceUrl;
    emit sourceUrlChanged();
}

bool Object::isFisheye() const
{
    return m_isFisheye;
}

void Object::setIsFisheye(bool isFisheye)
{
    if (m_isFisheye == isFisheye)
        return;
    m_isFisheye = isFisheye;
    emit isFisheyeChanged();
}

bool Object::isActive() const
{
    return m_isActive;
}

void Object::setIsActive(bool isActive)
{
    if (m_isActive == isActive)
        return;
    m_isActive = isActive;
    emit isActiveChanged();
}

Object::ObjectType Object::type() const
{
    return m_type;
}

void Object::setType(ObjectType type)
{
    if (m_type == type)
        return;
    m_type = type;
    emit typeChanged();
}

QString Object::host() const
{
    return m_host;
}

void Object::setHost(const QString &host)
{
    if (m_host == host)
        return;
    m_host = host;
    emit hostChanged();
}

int Object::port() const
{
    return m_port;
}

void Object::setPort(int port)
{
    if (m_port == port)
        return;
    m_port = port;
    emit portChanged();
}

int Object::zmqPort() const
{
    return m_zmqPort;
}

void Object::setZmqPort(int zmqPort)
{
    if (m_zmqPort == zmqPort)
        return;
    m_zmqPort = zmqPort;
    emit zmqPortChanged();
}

int Object::centerX() const
{
    return m_centerX;
}

void Object::setCenterX(int centerX)
{
    if (m_centerX == centerX)
        return;
    m_centerX = centerX;
    emit centerXChanged();
    emit lensChanged();
}

int Object::centerY() const
{
    return m_centerY;
}

void Object::setCenterY(int centerY)
{
    if (m_centerY == centerY)
        return;
    m_centerY = centerY;
    emit centerYChanged();
    emit lensChanged();
}

int Object::radius() const
{
    return m_radius;
}

void Object::setRadius(int radius)
{
    if (m_radius == radius)
        return;
    m_radius = radius;
    emit radiusChanged();
    emit lensChanged();
}

float Object::fov() const
{
    return m_fov;
}

void Object::setFov(float fov)
{
    // Notifies on every write, an unchanged value included; the lens as a whole only on a change.
    const bool changed = !(m_fov == fov);
    m_fov = fov;
    emit fovChanged();
    if (changed)
        emit lensChanged();
}

QString Object::mount() const
{
    return m_mount;
}

void Object::setMount(const QString &mount)
{
    FisheyeMount value = FisheyeMount::Wall;
    if (!FisheyeProjection::mountFromName(qPrintable(mount), &value)) {
        qCWarning(lcRepo, "Unknown camera mount \"%s\" of stream %s ignored", qPrintable(mount), qPrintable(m_serial));
        return;
    }
    if (m_mount == mount)
        return;
    m_mount = mount;
    emit mountChanged();
    emit lensChanged();
}

void Object::setProjection(const QString &projection)
{
    FisheyeLensProjection value = FisheyeLensProjection::Equidistant;
    if (!FisheyeProjection::projectionFromName(qPrintable(projection), &value)) {
        qCWarning(lcRepo, "Unknown lens projection \"%s\" of stream %s ignored", qPrintable(projection),
                  qPrintable(m_serial));
        return;
    }
    if (m_projection == projection)
        return;
    m_projection = projection;
    emit projectionChanged();
    emit lensChanged();
}

Lens Object::lens() const
{
    Lens lens;
    lens.centerX = m_centerX;
    lens.centerY = m_centerY;
    lens.radius = m_radius;
    lens.fov = m_fov;
    lens.mount = m_mount;
    lens.projection = m_projection;
    return lens;
}

void Object::setLens(const Lens &lens)
{
    setCenterX(lens.centerX);
    setCenterY(lens.centerY);
    setRadius(lens.radius);
    setFov(lens.fov);
    setMount(lens.mount);
    setProjection(lens.projection);
}
