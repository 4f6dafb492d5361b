#pragma once

#include "defish/lens.h"

#include <QObject>
#include <QString>

// One gateway (an event-server device) or one video stream of a gateway.
//
// Always created with std::make_shared and marked CppOwnership right away, so QML
// may read it through the model roles but only the last shared pointer deletes it.
// Setters notify only on a change, except setFov, which notifies on every write.
// The lens and mount setters also emit lensChanged(), on a change only.
class Object : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString id READ id WRITE setId NOTIFY idChanged)
    Q_PROPERTY(QString idParent READ idParent WRITE setIdParent NOTIFY idParentChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString serial READ serial WRITE setSerial NOTIFY serialChanged)
    Q_PROPERTY(QString url READ url WRITE setUrl NOTIFY urlChanged)
    Q_PROPERTY(QString sourceUrl READ sourceUrl WRITE setSourceUrl NOTIFY sourceUrlChanged)
    Q_PROPERTY(bool isFisheye READ isFisheye WRITE setIsFisheye NOTIFY isFisheyeChanged)
    Q_PROPERTY(bool isActive READ isActive WRITE setIsActive NOTIFY isActiveChanged)
    Q_PROPERTY(ObjectType type READ type WRITE setType NOTIFY typeChanged)
    Q_PROPERTY(QString host READ host WRITE setHost NOTIFY hostChanged)
    Q_PROPERTY(int port READ port WRITE setPort NOTIFY portChanged)
    Q_PROPERTY(int zmqPort READ zmqPort WRITE setZmqPort NOTIFY zmqPortChanged)
    Q_PROPERTY(int centerX READ centerX WRITE setCenterX NOTIFY centerXChanged)
    Q_PROPERTY(int centerY READ centerY WRITE setCenterY NOTIFY centerYChanged)
    Q_PROPERTY(int radius READ radius WRITE setRadius NOTIFY radiusChanged)
    Q_PROPERTY(float fov READ fov WRITE setFov NOTIFY fovChanged)
    // How a stream's camera hangs: "wall" (the default), "ceiling" or "floor" (FisheyeMount's names).
    Q_PROPERTY(QString mount READ mount WRITE setMount NOTIFY mountChanged)
    // The lens projection: "equidistant" (the default), "equisolid", "stereographic" or "orthographic".
    Q_PROPERTY(QString projection READ projection WRITE setProjection NOTIFY projectionChanged)
    // The six above as one value.
    Q_PROPERTY(Lens lens READ lens WRITE setLens NOTIFY lensChanged)

public:
    enum ObjectType { UnknowType = 0, Device = 1, Stream = 2 };
    Q_ENUM(ObjectType)

    explicit Object(QObject *parent = nullptr);
    ~Object() override;

    QString id() const;
    void setId(const QString &id);
    QString idParent() const;
    void setIdParent(const QString &idParent);
    QString name() const;
    void setName(const QString &name);
    QString serial() const;
    void setSerial(const QString &serial);
    QString url() const;
    void setUrl(const QString &url);
    QString sourceUrl() const;
    void setSourceUrl(const QString &sourceUrl);
    bool isFisheye() const;
    void setIsFisheye(bool isFisheye);
    bool isActive() const;
    void setIsActive(bool isActive);
    ObjectType type() const;
    void setType(ObjectType type);
    QString host() const;
    void setHost(const QString &host);
    int port() const;
    void setPort(int port);
    int zmqPort() const;
    void setZmqPort(int zmqPort);
    int centerX() const;
    void setCenterX(int centerX);
    int centerY() const;
    void setCenterY(int centerY);
    int radius() const;
    void setRadius(int radius);
    float fov() const;
    void setFov(float fov);
    QString mount() const;
    // A name that is no mount is logged and leaves the mount as it is.
    void setMount(const QString &mount);
    QString projection() const { return m_projection; }
    Lens lens() const;
    // Sets each part through its own setter (a mount or projection that is none is logged and kept).
    void setLens(const Lens &lens);
    // A name that is no projection is logged and leaves the projection as it is.
    void setProjection(const QString &projection);

signals:
    void isActiveChanged();
    void idChanged();
    void idParentChanged();
    void nameChanged();
    void serialChanged();
    void urlChanged();
    void sourceUrlChanged();
    void isFisheyeChanged();
    void typeChanged();
    void hostChanged();
    void portChanged();
    void zmqPortChanged();
    void centerXChanged();
    void centerYChanged();
    void radiusChanged();
    void fovChanged();
    void mountChanged();
    void projectionChanged();
    // After any of centerXChanged, centerYChanged, radiusChanged, fovChanged, mountChanged and
    // projectionChanged.
    void lensChanged();

private:
    QString m_id;
    QString m_idParent;
    QString m_name;
    QString m_serial;
    QString m_url;
    QString m_sourceUrl;
    bool m_isFisheye = false;
    bool m_isActive = true;
    ObjectType m_type = UnknowType;
    QString m_host;
    int m_port = 0;
    int m_zmqPort = 0;
    int m_centerX = 0;
    int m_centerY = 0;
    int m_radius = 0;
    float m_fov = 0.0f;
    QString m_mount = QStringLiteral("wall");
    QString m_projection = QStringLiteral("equidistant");
};
