#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

// One stored view of a stream: a named direction and zoom of the virtual camera, or a picture of
// another mode (a panorama or a quad) with its layout (LayoutCodec's map).
//
// Its fields are reached from C++ through getters and setters and from QML only
// through the view list model's roles. Setters notify only on a change; floats
// compare exactly, so NaN always counts as a change.
class ObjView : public QObject
{
    Q_OBJECT

public:
    explicit ObjView(QObject *parent = nullptr);
    ~ObjView() override;

    bool isActive() const;
    void setIsActive(bool isActive);
    QString name() const;
    void setName(const QString &name);
    QString objectSerial() const;
    void setObjectSerial(const QString &objectSerial);
    float roll() const;
    void setRoll(float roll);
    float tilt() const;
    void setTilt(float tilt);
    float pan() const;
    void setPan(float pan);
    float zoom() const;
    void setZoom(float zoom);
    // "perspective" (the default) or another FisheyeProjection::modeName().
    QString mode() const { return m_mode; }
    void setMode(const QString &mode);
    QVariantMap layout() const { return m_layout; }
    void setLayout(const QVariantMap &layout);

signals:
    void isActiveChanged();
    void nameChanged();
    void objectSerialChanged();
    void rollChanged();
    void tiltChanged();
    void panChanged();
    void zoomChanged();
    void modeChanged();
    void layoutChanged();

private:
    bool m_isActive = false;
    QString m_name;
    QString m_objectSerial;
    float m_roll = 0.0f;
    float m_tilt = 0.0f;
    float m_pan = 0.0f;
    float m_zoom = 0.0f;
    QString m_mode = QStringLiteral("perspective");
    QVariantMap m_layout;
};
