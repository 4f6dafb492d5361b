#include "defish/dewraparea.h"

#include "defish/layoutcodec.h"

#include "defish/defishlogging.h"
#include "defish/fisheyeprojection.h"

#include <QSGFlatColorMaterial>
#include <QSGGeometry>
#include <QSGGeometryNode>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QSGGeometryNode *newLineNode()
{
    auto *geometry = new QSGGeometry(QSGGeometry::defaultAttributes_Point2D(), 0, 0, QSGGeometry::UnsignedShortType);
    geometry->setDrawingMode(QSGGeometry::DrawLineStrip);
    auto *material = new QSGFlatColorMaterial;
    auto *node = new QSGGeometryNode;
    node->setGeometry(geometry);
    node->setMaterial(material);
    node->setFlags(QSGNode::OwnsGeometry | QSGNode::OwnsMaterial);
    return node;
}

} // namespace

DewrapArea::DewrapArea(QQuickItem *parent)
    : QQuickItem(parent), m_segmentStep(0.03f), m_arrowHeadSize(0.4f), m_arrowMargin(0.1f), m_dragFactor(1.0f / 3.0f)
{
    setFlag(ItemHasContents, true);
    setAntialiasing(true);
    for (const auto changed :
         {&DewrapArea::vidWidthChanged, &DewrapArea::vidHeightChanged, &DewrapArea::centerXChanged,
          &DewrapArea::centerYChanged, &DewrapArea::radiusChanged, &DewrapArea::fovChanged, &DewrapArea::rollChanged,
          &DewrapArea::tiltChanged, &DewrapArea::panChanged, &DewrapArea::zoomChanged, &DewrapArea::mountChanged,
          &DewrapArea::ratioChanged})
        connect(this, changed, this, &DewrapArea::outlineChanged);
    connect(this, &QQuickItem::widthChanged, this, &DewrapArea::outlineChanged);
    connect(this, &QQuickItem::heightChanged, this, &DewrapArea::outlineChanged);
    connect(this, &QQuickItem::widthChanged, this, &DewrapArea::onFrameChanged);
    connect(this, &QQuickItem::heightChanged, this, &DewrapArea::onFrameChanged);
    connect(this, &DewrapArea::vidWidthChanged, this, &DewrapArea::onFrameChanged);
    connect(this, &DewrapArea::vidHeightChanged, this, &DewrapArea::onFrameChanged);
}

DewrapArea::~DewrapArea() = default;

void DewrapArea::setVidWidth(float value)
{
    m_vidWidth = value;
    emit vidWidthChanged();
    update();
}

void DewrapArea::setVidHeight(float value)
{
    m_vidHeight = value;
    emit vidHeightChanged();
    update();
}

void DewrapArea::setCenterX(float value)
{
    const Lens before = lens();
    keepLensInItem();
    m_centerX = value;
    emit centerXChanged();
    notifyLensValue(before);
    update();
}

void DewrapArea::setCenterY(float value)
{
    const Lens before = lens();
    keepLensInItem();
    m_centerY = value;
    emit centerYChanged();
    notifyLensValue(before);
    update();
}

void DewrapArea::setRadius(float value)
{
    const Lens before = lens();
    keepLensInItem();
    m_radius = value;
    emit radiusChanged();
    notifyLensValue(before);
    update();
}

void DewrapArea::setFov(float value)
{
    const Lens before = lens();
    m_fov = value;
    emit fovChanged();
    notifyLensValue(before);
    update();
}

void DewrapArea::setRoll(float value)
{
    m_roll = value;
    emit rollChanged();
    emit viewAimChanged();
    update();
}

void DewrapArea::setTilt(float value)
{
    m_tilt = value;
    emit tiltChanged();
    emit viewAimChanged();
    update();
}

void DewrapArea::setPan(float value)
{
    m_pan = value;
    emit panChanged();
    emit viewAimChanged();
    update();
}

void DewrapArea::setZoom(float value)
{
    m_zoom = value;
    emit zoomChanged();
    emit viewAimChanged();
    update();
}

void DewrapArea::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    emit colorChanged();
    update();
}

void DewrapArea::setLineWidth(float width)
{
    if (m_lineWidth == width)
        return;
    m_lineWidth = width;
    emit lineWidthChanged();
    update();
}

void DewrapArea::setArrowVisible(bool visible)
{
    if (m_arrowVisible == visible)
        return;
    m_arrowVisible = visible;
    emit arrowVisibleChanged();
    update();
}

void DewrapArea::updateDirection(float dx, float dy)
{
    if (width() == 0.0 || height() == 0.0)
        return;
    // 32-bit arithmetic throughout: 3 * 0.33333334f is exactly 1.0f.
    const float newPan = m_pan + dx * m_dragFactor;
    if (newPan >= -180.0f && newPan <= 180.0f)
        setPan(newPan);
    const float newTilt = m_tilt - dy * m_dragFactor;
    if (newTilt >= -180.0f && newTilt <= 180.0f)
        setTilt(newTilt);
}

void DewrapArea::updateZoom(float z)
{
    if (m_fov == 0.0f)
        return;
    const float newFov = m_fov + z * m_dragFactor;
    if (newFov > 0.0f && newFov <= 180.0f)
        setFov(newFov);
}

QString DewrapArea::mount() const
{
    return QLatin1String(FisheyeProjection::mountName(m_mount));
}

bool DewrapArea::mountFromName(const QString &name, FisheyeMount *mount)
{
    if (FisheyeProjection::mountFromName(name.toUtf8().constData(), mount))
        return true;
    qCWarning(lcDefish, "Unknown camera mount \"%s\" ignored", qPrintable(name));
    return false;
}

bool DewrapArea::projectionFromName(const QString &name, FisheyeLensProjection *projection)
{
    if (FisheyeProjection::projectionFromName(name.toUtf8().constData(), projection))
        return true;
    qCWarning(lcDefish, "Unknown lens projection \"%s\" ignored", qPrintable(name));
    return false;
}

void DewrapArea::setMount(const QString &mount)
{
    FisheyeMount value = FisheyeMount::Wall;
    if (!mountFromName(mount, &value) || m_mount == value)
        return;
    const Lens before = lens();
    m_mount = value;
    emit mountChanged();
    notifyLensValue(before);
    update();
}

void DewrapArea::setRatio(float ratio)
{
    if (m_ratio == ratio)
        return;
    m_ratio = ratio;
    emit ratioChanged();
    update();
}

QString DewrapArea::lensProjection() const
{
    return QLatin1String(FisheyeProjection::projectionName(m_lensProjection));
}

void DewrapArea::setLensProjection(const QString &projection)
{
    FisheyeLensProjection value = FisheyeLensProjection::Equidistant;
    if (!projectionFromName(projection, &value) || m_lensProjection == value)
        return;
    const Lens before = lens();
    m_lensProjection = value;
    emit lensProjectionChanged();
    notifyLensValue(before);
    emit outlineChanged();
    update();
}

float DewrapArea::centerX() const
{
    return lensOn(float(width()), float(height())).centerX;
}

float DewrapArea::centerY() const
{
    return lensOn(float(width()), float(height())).centerY;
}

float DewrapArea::radius() const
{
    return lensOn(float(width()), float(height())).radius;
}

Lens DewrapArea::lens() const
{
    const FisheyeLens onVideo = lensOn(m_vidWidth, m_vidHeight);
    Lens lens = Lens::fromPixels(onVideo.centerX, onVideo.centerY, onVideo.radius, m_fov);
    lens.mount = mount();
    lens.projection = lensProjection();
    return lens;
}

void DewrapArea::setLens(const Lens &lens)
{
    FisheyeMount mount = m_mount;
    mountFromName(lens.mount, &mount);
    FisheyeLensProjection projection = m_lensProjection;
    projectionFromName(lens.projection, &projection);
    if (m_lensInVideo && m_centerX == float(lens.centerX) && m_centerY == float(lens.centerY) &&
        m_radius == float(lens.radius) && m_fov == lens.fov && m_mount == mount && m_lensProjection == projection)
        return;
    const LensReading before = readLens();
    const float fov = m_fov;
    const FisheyeMount mountBefore = m_mount;
    const FisheyeLensProjection projectionBefore = m_lensProjection;
    m_lensInVideo = true;
    m_centerX = float(lens.centerX);
    m_centerY = float(lens.centerY);
    m_radius = float(lens.radius);
    m_fov = lens.fov;
    m_mount = mount;
    m_lensProjection = projection;
    if (m_fov != fov)
        emit fovChanged();
    if (m_mount != mountBefore)
        emit mountChanged();
    if (m_lensProjection != projectionBefore)
        emit lensProjectionChanged();
    notifyLens(before);
    emit outlineChanged();
    update();
}

DewrapArea::LensReading DewrapArea::readLens() const
{
    return {centerX(), centerY(), radius(), lens()};
}

void DewrapArea::notifyLensValue(const Lens &before)
{
    if (lens() != before)
        emit lensChanged();
}

void DewrapArea::notifyLens(const LensReading &before)
{
    const LensReading now = readLens();
    if (now.centerX != before.centerX)
        emit centerXChanged();
    if (now.centerY != before.centerY)
        emit centerYChanged();
    if (now.radius != before.radius)
        emit radiusChanged();
    if (now.lens != before.lens)
        emit lensChanged();
}

QSizeF DewrapArea::lensFrame() const
{
    return m_lensInVideo ? QSizeF(m_vidWidth, m_vidHeight) : size();
}

FisheyeLens DewrapArea::lensOn(float w, float h) const
{
    const QSizeF frame = lensFrame();
    const float fromW = float(frame.width());
    const float fromH = float(frame.height());
    FisheyeLens lens;
    lens.width = w;
    lens.height = h;
    lens.fov = m_fov;
    lens.projection = m_lensProjection;
    if (w == fromW && h == fromH) {
        lens.centerX = m_centerX;
        lens.centerY = m_centerY;
        lens.radius = m_radius;
    } else if (fromW > 0.0f && fromH > 0.0f && w > 0.0f && h > 0.0f) {
        const float sx = w / fromW;
        const float sy = h / fromH;
        lens.centerX = m_centerX * sx;
        // centerY counts from the bottom row: h - 1 - centerY scales as a distance from the top.
        lens.centerY = h - 1.0f - (fromH - 1.0f - m_centerY) * sy;
        lens.radius = m_radius * sx;
    }
    return lens;
}

void DewrapArea::keepLensInItem()
{
    if (!m_lensInVideo)
        return;
    const FisheyeLens inItem = lensOn(float(width()), float(height()));
    m_centerX = inItem.centerX;
    m_centerY = inItem.centerY;
    m_radius = inItem.radius;
    m_lensInVideo = false;
}

void DewrapArea::onFrameChanged()
{
    // The side the lens was set on keeps its values; the other reads them scaled.
    if (m_lensInVideo) {
        emit centerXChanged();
        emit centerYChanged();
        emit radiusChanged();
    } else {
        emit lensChanged();
    }
}

ViewAim DewrapArea::viewAim() const
{
    ViewAim aim;
    aim.roll = m_roll;
    aim.tilt = m_tilt;
    aim.pan = m_pan;
    aim.zoom = m_zoom;
    aim.mode = mode();
    aim.layout = m_layoutMap;
    return aim;
}

void DewrapArea::setViewAim(const ViewAim &aim)
{
    if (aim == viewAim())
        return;
    FisheyeLayout layout = m_layout;
    QString why;
    // The angles are taken either way; a mode and layout that do not read leave those as they are.
    const bool layoutReads = LayoutCodec::fromMap(aim.mode, aim.layout, m_layout.mount, &layout, &why);
    if (!layoutReads)
        qCWarning(lcDefish, "View mode and layout not set: %s", qPrintable(why));
    const ViewAim before = viewAim();
    const FisheyeViewMode modeBefore = m_layout.mode;
    m_roll = aim.roll;
    m_tilt = aim.tilt;
    m_pan = aim.pan;
    m_zoom = aim.zoom;
    if (layoutReads) {
        m_layout = layout;
        m_layoutMap = aim.layout;
    }
    if (m_roll != before.roll)
        emit rollChanged();
    if (m_tilt != before.tilt)
        emit tiltChanged();
    if (m_pan != before.pan)
        emit panChanged();
    if (m_zoom != before.zoom)
        emit zoomChanged();
    if (m_layout.mode != modeBefore)
        emit modeChanged();
    if (m_layoutMap != before.layout)
        emit layoutChanged();
    if (viewAim() != before) {
        emit viewAimChanged();
        emit outlineChanged();
    }
    update();
}

QString DewrapArea::mode() const
{
    return QLatin1String(FisheyeProjection::modeName(m_layout.mode));
}

void DewrapArea::setMode(const QString &mode)
{
    FisheyeLayout layout = m_layout;
    QString why;
    if (!LayoutCodec::fromMap(mode, m_layoutMap, m_layout.mount, &layout, &why)) {
        qCWarning(lcDefish, "View mode not set: %s", qPrintable(why));
        return;
    }
    if (layout.mode == m_layout.mode)
        return;
    m_layout = layout;
    emit modeChanged();
    emit viewAimChanged();
    emit outlineChanged();
    update();
}

void DewrapArea::setLayout(const QVariantMap &layout)
{
    FisheyeLayout value;
    QString why;
    if (!LayoutCodec::fromMap(mode(), layout, m_layout.mount, &value, &why)) {
        qCWarning(lcDefish, "View layout not set: %s", qPrintable(why));
        return;
    }
    if (m_layoutMap == layout)
        return;
    m_layoutMap = layout;
    m_layout = value;
    emit layoutChanged();
    emit viewAimChanged();
    emit outlineChanged();
    update();
}

QPointF DewrapArea::viewCentre() const
{
    if (m_layout.mode == FisheyeViewMode::Perspective)
        return mapToFisheye(0.5f, 0.5f);
    const FisheyeProjection proj = projection();
    if (!proj.isValid())
        return {std::numeric_limits<qreal>::quiet_NaN(), std::numeric_limits<qreal>::quiet_NaN()};
    float x = 0.0f;
    float y = 0.0f;
    proj.tileToFisheye(0, 0.5f, 0.5f, &x, &y);
    return {x, y};
}

QVector<QVector<QPointF>> DewrapArea::outlineStrips() const
{
    const float w = float(width());
    const float h = float(height());
    const FisheyeProjection proj = projection();
    if (!(w > 0.0f) || !(h > 0.0f) || !proj.isValid())
        return {};
    if (m_layout.mode == FisheyeViewMode::Perspective)
        return {toItem(outlinePoints(), proj, w, h)};
    QVector<QVector<QPointF>> strips;
    const QVector<QPointF> edge = outlinePoints();
    for (int tile = 0; tile < proj.tileCount(); ++tile) {
        QVector<QPointF> strip;
        strip.reserve(edge.size());
        for (const QPointF &point : edge) {
            float x = 0.0f;
            float y = 0.0f;
            proj.tileToFisheye(tile, float(point.x()), float(point.y()), &x, &y);
            strip.append({x * w, y * h});
        }
        strips.append(strip);
    }
    return strips;
}

FisheyeProjection DewrapArea::projection() const
{
    return projection(float(width()), float(height()));
}

FisheyeProjection DewrapArea::projection(float w, float h) const
{
    const float itemW = float(width());
    const float itemH = float(height());
    const FisheyeLens lens = lensOn(w, h);
    FisheyeView view;
    view.roll = m_roll;
    view.tilt = m_tilt;
    view.pan = m_pan;
    view.fov = m_zoom;
    view.ratio = m_ratio > 0.0f ? m_ratio : itemW / itemH;
    FisheyeLayout layout = m_layout;
    layout.mount = m_mount;
    return FisheyeProjection(lens, view, m_mount, layout);
}

QPointF DewrapArea::mapToFisheye(float u, float v) const
{
    const FisheyeProjection proj = projection();
    if (!proj.isValid())
        return {std::numeric_limits<qreal>::quiet_NaN(), std::numeric_limits<qreal>::quiet_NaN()};
    float x = 0.0f;
    float y = 0.0f;
    proj.viewToFisheye(u, v, &x, &y);
    return {x, y};
}

QPointF DewrapArea::mapFromFisheye(qreal x, qreal y) const
{
    float u = 0.0f;
    float v = 0.0f;
    if (!projection().fisheyeToView(float(x), float(y), &u, &v))
        return {std::numeric_limits<qreal>::quiet_NaN(), std::numeric_limits<qreal>::quiet_NaN()};
    return {u, v};
}

QVariantMap DewrapArea::aim(qreal x, qreal y, qreal u, qreal v) const
{
    float pan = 0.0f;
    float tilt = 0.0f;
    if (!projection().aim(float(x), float(y), float(u), float(v), &pan, &tilt))
        return {};
    return {{QStringLiteral("pan"), pan}, {QStringLiteral("tilt"), tilt}};
}

bool DewrapArea::isInsideLens(qreal x, qreal y) const
{
    return projection().isInsideLens(float(x), float(y));
}

qreal DewrapArea::sourcePixelsPerViewPixel(qreal u, qreal v, qreal outWidth) const
{
    if (m_vidWidth <= 0.0f || m_vidHeight <= 0.0f || width() <= 0.0 || height() <= 0.0)
        return 0.0;
    return projection(m_vidWidth, m_vidHeight).sourcePixelsPerViewPixel(float(u), float(v), float(outWidth));
}

qreal DewrapArea::distanceToOutline(qreal x, qreal y) const
{
    const float w = float(width());
    const float h = float(height());
    qreal least = std::numeric_limits<qreal>::infinity();
    if (!(w > 0.0f) || !(h > 0.0f))
        return least;
    const QPointF p(x, y);
    for (const QVector<QPointF> &line : outlineStrips())
    for (int i = 1; i < line.size(); ++i) {
        const QPointF a = line.at(i - 1);
        const QPointF ab = line.at(i) - a;
        const qreal length2 = QPointF::dotProduct(ab, ab);
        const qreal t = length2 > 0.0 ? std::clamp(QPointF::dotProduct(p - a, ab) / length2, 0.0, 1.0) : 0.0;
        const QPointF d = p - (a + t * ab);
        least = std::min(least, std::sqrt(QPointF::dotProduct(d, d)));
    }
    return least;
}

QVector<QPointF> DewrapArea::outlinePoints() const
{
    QVector<QPointF> points;
    for (float u = 0.0f; u < 1.0f; u += m_segmentStep)
        points.append({u, 1.0f});
    for (float v = 1.0f; v > 0.0f; v -= m_segmentStep)
        points.append({1.0f, v});
    for (float u = 1.0f; u > 0.0f; u -= m_segmentStep)
        points.append({u, 0.0f});
    for (float v = 0.0f; v < 1.0f; v += m_segmentStep)
        points.append({0.0f, v});
    if (!points.isEmpty())
        points.append(points.first());
    return points;
}

QVector<QPointF> DewrapArea::arrowShaftPoints() const
{
    QVector<QPointF> points;
    const float top = m_arrowMargin;
    const float bottom = 1.0f - m_arrowMargin;
    if (bottom > top) {
        for (float v = top; v < bottom; v += m_segmentStep)
            points.append({0.5f, v});
        if (!points.isEmpty())
            points.append({0.5f, bottom});
    }
    return points;
}

QVector<QPointF> DewrapArea::arrowHeadPoints() const
{
    QVector<QPointF> points;
    const float top = m_arrowMargin;
    const float bottom = 1.0f - m_arrowMargin;
    const float startU = std::max(0.0f, 0.5f - m_arrowHeadSize);
    const float startV = std::min(bottom, m_arrowHeadSize + top);
    const float endU = std::min(1.0f, m_arrowHeadSize + 0.5f);
    float u = startU;
    float v = startV;
    for (; u < 0.5f; u += m_segmentStep, v -= m_segmentStep)
        points.append({u, v});
    u = 0.5f;
    v = top;
    for (; u < endU; u += m_segmentStep, v += m_segmentStep)
        points.append({u, v});
    if (!points.isEmpty())
        points.append({endU, startV});
    return points;
}

QVector<QPointF> DewrapArea::toItem(const QVector<QPointF> &points, const FisheyeProjection &projection, float w,
                                    float h)
{
    QVector<QPointF> result;
    result.reserve(points.size());
    for (const QPointF &point : points) {
        float x = 0.0f;
        float y = 0.0f;
        projection.viewToFisheye(float(point.x()), float(point.y()), &x, &y);
        result.append({x * w, y * h});
    }
    return result;
}

void DewrapArea::fillNode(QSGGeometryNode *node, const QVector<QPointF> &points, const FisheyeProjection &projection,
                          float w, float h) const
{
    auto *material = static_cast<QSGFlatColorMaterial *>(node->material());
    if (material->color() != m_color) {
        material->setColor(m_color);
        node->markDirty(QSGNode::DirtyMaterial);
    }
    QSGGeometry *geometry = node->geometry();
    geometry->setLineWidth(m_lineWidth);
    const QVector<QPointF> line = toItem(points, projection, w, h);
    // An empty list (the arrow hidden) draws nothing.
    geometry->allocate(line.size());
    QSGGeometry::Point2D *vertices = geometry->vertexDataAsPoint2D();
    for (int i = 0; i < line.size(); ++i)
        vertices[i].set(float(line.at(i).x()), float(line.at(i).y()));
    node->markDirty(QSGNode::DirtyGeometry);
}

QSGNode *DewrapArea::updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *)
{
    const float w = float(width());
    const float h = float(height());
    if (m_vidWidth == 0.0f || m_vidHeight == 0.0f || !(w > 0.0f) || !(h > 0.0f))
        return nullptr;
    // A lens angle of 0 (or any setting the projection cannot use) would divide by zero: nothing is
    // drawn then. Returning no node lets the scene graph delete the old one.
    const FisheyeProjection proj = projection();
    if (!proj.isValid())
        return nullptr;

    auto *root = static_cast<QSGGeometryNode *>(oldNode);
    if (!root) {
        root = newLineNode();
        root->appendChildNode(newLineNode());
        root->appendChildNode(newLineNode());
    }
    if (m_layout.mode == FisheyeViewMode::Perspective) {
        root->geometry()->setDrawingMode(QSGGeometry::DrawLineStrip);
        fillNode(root, outlinePoints(), proj, w, h);
    } else {
        // The outline's parts as separate segments, so that no line joins one part to the next.
        auto *material = static_cast<QSGFlatColorMaterial *>(root->material());
        if (material->color() != m_color) {
            material->setColor(m_color);
            root->markDirty(QSGNode::DirtyMaterial);
        }
        QSGGeometry *geometry = root->geometry();
        geometry->setDrawingMode(QSGGeometry::DrawLines);
        geometry->setLineWidth(m_lineWidth);
        const QVector<QVector<QPointF>> strips = outlineStrips();
        int count = 0;
        for (const QVector<QPointF> &strip : strips)
            count += std::max(0, int(strip.size()) - 1) * 2;
        geometry->allocate(count);
        QSGGeometry::Point2D *vertices = geometry->vertexDataAsPoint2D();
        for (const QVector<QPointF> &strip : strips) {
            for (int i = 1; i < strip.size(); ++i) {
                (vertices++)->set(float(strip.at(i - 1).x()), float(strip.at(i - 1).y()));
                (vertices++)->set(float(strip.at(i).x()), float(strip.at(i).y()));
            }
        }
        root->markDirty(QSGNode::DirtyGeometry);
    }
    fillNode(static_cast<QSGGeometryNode *>(root->childAtIndex(0)),
             m_arrowVisible ? arrowShaftPoints() : QVector<QPointF>(), proj, w, h);
    fillNode(static_cast<QSGGeometryNode *>(root->childAtIndex(1)),
             m_arrowVisible ? arrowHeadPoints() : QVector<QPointF>(), proj, w, h);
    return root;
}
