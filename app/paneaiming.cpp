#include "app/paneaiming.h"

#include "app/applogging.h"

#include <QVariantMap>
#include <algorithm>
#include <cmath>

namespace {

// An angle in degrees brought within -180 to 180.
double wrapDegrees(double angle)
{
    return std::remainder(angle, 360.0);
}

// Whether a view point lies on the view, or at most margin beside it.
bool onView(const QPointF &uv, qreal margin)
{
    return !std::isnan(uv.x()) && uv.x() >= -margin && uv.x() <= 1 + margin && uv.y() >= -margin &&
           uv.y() <= 1 + margin;
}

} // namespace

PaneAiming::PaneAiming(QObject *parent) : QObject(parent) {}

void PaneAiming::setEditor(ViewEditor *editor)
{
    if (m_editor == editor)
        return;
    m_editor = editor;
    emit editorChanged();
}

void PaneAiming::setArea(DewrapArea *area)
{
    if (m_area == area)
        return;
    m_area = area;
    emit areaChanged();
}

bool PaneAiming::aimAt(qreal x, qreal y, qreal u, qreal v)
{
    if (!m_editor || !m_area)
        return false;
    const QVariantMap turned = m_area->aim(x, y, u, v);
    if (!turned.contains(QStringLiteral("pan")))
        return false;
    m_editor->setPan(turned.value(QStringLiteral("pan")).toDouble());
    m_editor->setTilt(turned.value(QStringLiteral("tilt")).toDouble());
    return true;
}

bool PaneAiming::centreOn(qreal x, qreal y)
{
    if (!m_area)
        return false;
    if (!m_area->isInsideLens(x, y)) {
        qCDebug(lcApp, "Double click outside the lens circle ignored");
        return false;
    }
    if (!aimAt(x, y, 0.5, 0.5)) {
        qCDebug(lcApp, "No view reaches the clicked point");
        return false;
    }
    return true;
}

bool PaneAiming::roomDirection(qreal x, qreal y, double *azimuth, double *elevation) const
{
    const QVariantMap turned = m_area->aim(x, y, 0.5, 0.5);
    if (!turned.contains(QStringLiteral("pan")))
        return false;
    const double pan = turned.value(QStringLiteral("pan")).toDouble();
    const double tilt = turned.value(QStringLiteral("tilt")).toDouble();
    // Of the two pan and tilt pairs that look that way, the one with the tilt within -90 to 90.
    if (std::fabs(tilt) <= 90) {
        *azimuth = pan;
        *elevation = tilt;
    } else {
        *azimuth = wrapDegrees(pan + 180);
        *elevation = (tilt > 0 ? 180 : -180) - tilt;
    }
    return true;
}

QVariant PaneAiming::grabRawAt(qreal x, qreal y) const
{
    if (!m_editor || !m_area)
        return {};
    const bool onOutline = m_area->distanceToOutline(x * m_area->width(), y * m_area->height()) <= kOutlineReach;
    if (m_editor->isPanorama()) {
        double azimuth = 0;
        double elevation = 0;
        if (!roomDirection(x, y, &azimuth, &elevation))
            return {};
        const bool inside =
            elevation >= m_editor->lower() && elevation <= m_editor->upper() &&
            (m_editor->mode() != QLatin1String("half-panorama") || wrapDegrees(azimuth - m_editor->azimuth()) >= 0);
        if (!inside && !onOutline)
            return {};
        return QVariantMap{{QStringLiteral("azimuth"), azimuth}, {QStringLiteral("start"), m_editor->azimuth()}};
    }
    // A quad's other quarters are not on the sliders: only the one that is can be grabbed.
    const QPointF uv = m_area->mapFromFisheye(x, y);
    if (!onView(uv, 0.05) || (!onView(uv, 0) && !onOutline))
        return {};
    return QVariantMap{{QStringLiteral("u"), uv.x()}, {QStringLiteral("v"), uv.y()}};
}

void PaneAiming::dragRawTo(const QVariant &grab, qreal x, qreal y)
{
    const QVariantMap held = grab.toMap();
    if (!m_editor || !m_area || held.isEmpty())
        return;
    if (!held.contains(QStringLiteral("azimuth"))) {
        aimAt(x, y, held.value(QStringLiteral("u")).toReal(), held.value(QStringLiteral("v")).toReal());
        return;
    }
    double azimuth = 0;
    double elevation = 0;
    if (roomDirection(x, y, &azimuth, &elevation))
        m_editor->setAzimuth(wrapDegrees(held.value(QStringLiteral("start")).toDouble() + azimuth -
                                         held.value(QStringLiteral("azimuth")).toDouble()));
}

QPointF PaneAiming::viewPointAt(qreal x, qreal y) const
{
    if (!m_editor || m_editor->mode() != QLatin1String("quad"))
        return {x, y};
    const int quarter = m_editor->quadIndex();
    return {2 * x - quarter % 2, 2 * y - quarter / 2};
}

QVariant PaneAiming::grabViewAt(qreal x, qreal y)
{
    if (!m_editor || !m_area)
        return {};
    if (m_editor->isPanorama())
        return QVariantMap{{QStringLiteral("x"), x}, {QStringLiteral("start"), m_editor->azimuth()}};
    if (m_editor->mode() == QLatin1String("quad"))
        m_editor->selectQuarter((x >= 0.5 ? 1 : 0) + (y >= 0.5 ? 2 : 0));
    const QPointF uv = viewPointAt(x, y);
    const QPointF fisheye = m_area->mapToFisheye(float(uv.x()), float(uv.y()));
    if (std::isnan(fisheye.x()))
        return {};
    return QVariantMap{{QStringLiteral("fx"), fisheye.x()}, {QStringLiteral("fy"), fisheye.y()}};
}

void PaneAiming::dragViewTo(const QVariant &grab, qreal x, qreal y)
{
    const QVariantMap held = grab.toMap();
    if (!m_editor || !m_area || held.isEmpty())
        return;
    if (held.contains(QStringLiteral("start"))) {
        if (!m_editor->isPanorama())
            return;
        // The room turns with the pointer: the whole pane spans the panorama's width.
        const double span = m_editor->mode() == QLatin1String("panorama") ? 360 : 180;
        const double crossed = x - held.value(QStringLiteral("x")).toDouble();
        m_editor->setAzimuth(wrapDegrees(held.value(QStringLiteral("start")).toDouble() - crossed * span));
        return;
    }
    const QPointF uv = viewPointAt(x, y);
    aimAt(held.value(QStringLiteral("fx")).toReal(), held.value(QStringLiteral("fy")).toReal(), uv.x(), uv.y());
}

void PaneAiming::zoomBy(qreal notches)
{
    m_editor->setZoom(
        std::clamp(m_editor->zoom() * std::pow(0.9, notches), ViewEditor::kMinZoom, ViewEditor::kMaxZoom));
}

void PaneAiming::zoomAbout(qreal notches, qreal x, qreal y)
{
    if (!m_editor || !m_area || m_editor->isPanorama())
        return;
    const QPointF uv = viewPointAt(x, y);
    const QPointF held = m_area->mapToFisheye(float(uv.x()), float(uv.y()));
    zoomBy(notches);
    if (!std::isnan(held.x()))
        aimAt(held.x(), held.y(), uv.x(), uv.y());
}

bool PaneAiming::handleKey(int key, int modifiers)
{
    if (!m_editor)
        return false;
    const double step = (modifiers & Qt::ShiftModifier) ? 10 : 1;
    const auto within = [](double angle) { return std::clamp(angle, -180.0, 180.0); };
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        m_editor->setPan(within(m_editor->pan() + (key == Qt::Key_Left ? -step : step)));
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
        m_editor->setTilt(within(m_editor->tilt() + (key == Qt::Key_Down ? -step : step)));
        return true;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomBy(1);
        return true;
    case Qt::Key_Minus:
        zoomBy(-1);
        return true;
    default:
        return false;
    }
}
