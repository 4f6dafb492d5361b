#include "repo/objview.h"

ObjView::ObjView(QObject *parent) : QObject(parent) {}

ObjView::~ObjView() = default;

bool ObjView::isActive() const
{
    return m_isActive;
}

void ObjView::setIsActive(bool isActive)
{
    if (m_isActive == isActive)
        return;
    m_isActive = isActive;
    emit isActiveChanged();
}

QString ObjView::name() const
{
    return m_name;
}

void ObjView::setName(const QString &name)
{
    if (m_name == name)
        return;
    m_name = name;
    emit nameChanged();
}

QString ObjView::objectSerial() const
{
    return m_objectSerial;
}

void ObjView::setObjectSerial(const QString &objectSerial)
{
    if (m_objectSerial == objectSerial)
        return;
    m_objectSerial = objectSerial;
    emit objectSerialChanged();
}

float ObjView::roll() const
{
    return m_roll;
}

void ObjView::setRoll(float roll)
{
    if (m_roll == roll)
        return;
    m_roll = roll;
    emit rollChanged();
}

float ObjView::tilt() const
{
    return m_tilt;
}

void ObjView::setTilt(float tilt)
{
    if (m_tilt == tilt)
        return;
    m_tilt = tilt;
    emit tiltChanged();
}

float ObjView::pan() const
{
    return m_pan;
}

void ObjView::setPan(float pan)
{
    if (m_pan == pan)
        return;
    m_pan = pan;
    emit panChanged();
}

float ObjView::zoom() const
{
    return m_zoom;
}

void ObjView::setZoom(float zoom)
{
    if (m_zoom == zoom)
        return;
    m_zoom = zoom;
    emit zoomChanged();
}

void ObjView::setMode(const QString &mode)
{
    if (m_mode == mode)
        return;
    m_mode = mode;
    emit modeChanged();
}

void ObjView::setLayout(const QVariantMap &layout)
{
    if (m_layout == layout)
        return;
    m_layout = layout;
    emit layoutChanged();
}
