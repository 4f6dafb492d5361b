#pragma once

#include "defish/fisheyeprojection.h"
#include "defish/lens.h"
#include "defish/viewaim.h"

#include <QColor>
#include <QPointF>
#include <QQuickItem>
#include <QSizeF>
#include <QVariantMap>
#include <QVector>

class QSGGeometryNode;

// Red overlay over the raw fisheye video: the outline of the current perspective view and an arrow
// towards the view's up direction, projected with the defish shader's lens model (FisheyeProjection)
// in the item's own coordinates.
//
// The same item outlines the stored views of a stream too, each in a colour of its own (color,
// lineWidth, without the arrow).
//
// The lens and the view can also be set as the values the rest of the program passes around (lens,
// viewAim); each sets the same state as the separate properties, and whichever was set last counts. Those
// two compare before they notify; the separate lens and view setters store and notify without comparing,
// so a binding that writes the same value still repaints. Painting runs in the scene graph's
// synchronisation step (render thread, main thread blocked) and reads the properties without locks.
class DewrapArea : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(float vidWidth READ vidWidth WRITE setVidWidth NOTIFY vidWidthChanged)
    Q_PROPERTY(float vidHeight READ vidHeight WRITE setVidHeight NOTIFY vidHeightChanged)
    Q_PROPERTY(float centerX READ centerX WRITE setCenterX NOTIFY centerXChanged)
    Q_PROPERTY(float centerY READ centerY WRITE setCenterY NOTIFY centerYChanged)
    Q_PROPERTY(float radius READ radius WRITE setRadius NOTIFY radiusChanged)
    Q_PROPERTY(float fov READ fov WRITE setFov NOTIFY fovChanged)
    Q_PROPERTY(float roll READ roll WRITE setRoll NOTIFY rollChanged)
    Q_PROPERTY(float tilt READ tilt WRITE setTilt NOTIFY tiltChanged)
    Q_PROPERTY(float pan READ pan WRITE setPan NOTIFY panChanged)
    Q_PROPERTY(float zoom READ zoom WRITE setZoom NOTIFY zoomChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(float lineWidth READ lineWidth WRITE setLineWidth NOTIFY lineWidthChanged)
    Q_PROPERTY(bool arrowVisible READ arrowVisible WRITE setArrowVisible NOTIFY arrowVisibleChanged)
    // How the camera hangs ("wall", the default, "ceiling" or "floor"): roll, tilt and pan are the room
    // angles of that mount. The stored views' outlines keep "wall" and take the stored camera angles.
    Q_PROPERTY(QString mount READ mount WRITE setMount NOTIFY mountChanged)
    // The view's shape, width over height (the served picture's); 0, the default: the item's own.
    Q_PROPERTY(float ratio READ ratio WRITE setRatio NOTIFY ratioChanged)
    // The lens projection: "equidistant" (the default), "equisolid", "stereographic" or "orthographic".
    Q_PROPERTY(QString lensProjection READ lensProjection WRITE setLensProjection NOTIFY lensProjectionChanged)
    // The picture's mode ("perspective", the default, "panorama", "double-panorama", "quad",
    // "half-panorama") and its layout (LayoutCodec's map: a panorama's azimuth and elevations in room
    // angles of the mount, a quad's four views in camera angles). Other than a perspective view, the
    // outline is that of every part of the picture; roll, tilt, pan and zoom stay the view that aim()
    // and mapToFisheye() work with.
    Q_PROPERTY(QString mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(QVariantMap layout READ layout WRITE setLayout NOTIFY layoutChanged)
    // The lens as the stream keeps it: centre and radius in whole pixels of the vidWidth x vidHeight frame
    // (centerY from its bottom row, drawn scaled to the item), the field of view, the mount and the
    // projection. Set this way, the lens follows the item's size and the video's; centerX, centerY and
    // radius read it in the item's pixels. Set through those, it reads back rounded to whole video pixels.
    Q_PROPERTY(Lens lens READ lens WRITE setLens NOTIFY lensChanged)
    // The view: roll, tilt and pan in room angles of the mount (as roll, tilt and pan take them), zoom,
    // mode and layout.
    Q_PROPERTY(ViewAim viewAim READ viewAim WRITE setViewAim NOTIFY viewAimChanged)
    // Where the view's centre lies, normalised as mapToFisheye() gives it (NaN where nothing projects);
    // for another mode, the centre of the picture's first part.
    Q_PROPERTY(QPointF viewCentre READ viewCentre NOTIFY outlineChanged)

public:
    explicit DewrapArea(QQuickItem *parent = nullptr);
    ~DewrapArea() override;

    float vidWidth() const { return m_vidWidth; }
    float vidHeight() const { return m_vidHeight; }
    float centerX() const;
    float centerY() const;
    float radius() const;
    float fov() const { return m_fov; }
    float roll() const { return m_roll; }
    float tilt() const { return m_tilt; }
    float pan() const { return m_pan; }
    float zoom() const { return m_zoom; }
    QColor color() const { return m_color; }
    float lineWidth() const { return m_lineWidth; }
    bool arrowVisible() const { return m_arrowVisible; }
    QString mount() const;
    float ratio() const { return m_ratio; }
    QPointF viewCentre() const;
    QString lensProjection() const;
    void setLensProjection(const QString &projection);
    QString mode() const;
    void setMode(const QString &mode);
    QVariantMap layout() const { return m_layoutMap; }
    void setLayout(const QVariantMap &layout);
    Lens lens() const;
    void setLens(const Lens &lens);
    ViewAim viewAim() const;
    void setViewAim(const ViewAim &aim);

    void setVidWidth(float value);
    void setVidHeight(float value);
    void setCenterX(float value);
    void setCenterY(float value);
    void setRadius(float value);
    void setFov(float value);
    void setRoll(float value);
    void setTilt(float value);
    void setPan(float value);
    void setZoom(float value);
    void setColor(const QColor &color);
    void setLineWidth(float width);
    void setArrowVisible(bool visible);
    void setMount(const QString &mount);
    void setRatio(float ratio);

    // Turns the view by dx, dy units of input (pan grows with dx, tilt falls with dy); each axis is
    // applied only while it stays within -180 to 180 degrees. Nothing happens on an item of size 0.
    Q_INVOKABLE void updateDirection(float dx, float dy);
    // Widens or narrows the lens angle (fov) by z units of input, kept above 0 and at most 180 degrees.
    Q_INVOKABLE void updateZoom(float z);

    // View point (u, v) in the unit square (u = 0 left, v = 0 upper edge) to a position in the item
    // normalised to its width and height. NaN while the item, the lens angle or the view ratio is 0.
    Q_INVOKABLE QPointF mapToFisheye(float u, float v) const;

    // The inverse: the view point (u, v) whose ray lands on item position (x, y), normalised as above; it
    // lies outside the unit square where the position is outside the view. NaN where the position lies
    // behind the view or the item cannot project.
    Q_INVOKABLE QPointF mapFromFisheye(qreal x, qreal y) const;

    // Aiming by hand, in the same normalised positions as mapToFisheye(): the pan and tilt ({"pan",
    // "tilt"}, degrees) that bring fisheye position (x, y) to view point (u, v) with roll and zoom kept,
    // or an empty map where none does or the item cannot project (FisheyeProjection::aim()).
    Q_INVOKABLE QVariantMap aim(qreal x, qreal y, qreal u, qreal v) const;
    // Whether fisheye position (x, y) lies inside the lens circle.
    Q_INVOKABLE bool isInsideLens(qreal x, qreal y) const;
    // Video pixels behind one pixel of a view outWidth pixels wide at view point (u, v); 0 while the
    // video size is not known.
    Q_INVOKABLE qreal sourcePixelsPerViewPixel(qreal u, qreal v, qreal outWidth) const;
    // Distance in item pixels from item point (x, y) to the outline as drawn; infinite where nothing
    // is drawn.
    Q_INVOKABLE qreal distanceToOutline(qreal x, qreal y) const;

    // The outline as painted, in item pixels: one closed line per part of the picture.
    QVector<QVector<QPointF>> outlineStrips() const;
    // The three point lists in view units, as painted: outline, arrow shaft, arrow head.
    QVector<QPointF> outlinePoints() const;
    QVector<QPointF> arrowShaftPoints() const;
    QVector<QPointF> arrowHeadPoints() const;

signals:
    void vidWidthChanged();
    void vidHeightChanged();
    void centerXChanged();
    void centerYChanged();
    void radiusChanged();
    void fovChanged();
    void rollChanged();
    void tiltChanged();
    void panChanged();
    void zoomChanged();
    void colorChanged();
    void lineWidthChanged();
    void arrowVisibleChanged();
    void mountChanged();
    void ratioChanged();
    void lensProjectionChanged();
    void modeChanged();
    void layoutChanged();
    void lensChanged();
    void viewAimChanged();
    // Any change of the lens, the view or the item's size.
    void outlineChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *data) override;

private:
    // What the item-side lens properties read and the lens value, for notifying what a change moved.
    struct LensReading
    {
        float centerX;
        float centerY;
        float radius;
        Lens lens;
    };
    LensReading readLens() const;
    // Notifies the lens properties whose reading differs from before; the other, the lens value alone.
    void notifyLens(const LensReading &before);
    void notifyLensValue(const Lens &before);
    // The size of the frame the lens centre and radius were set in: the video's or the item's.
    QSizeF lensFrame() const;
    // The lens (centre, radius, angle, projection) on a frame of w x h, scaled from the frame it was set in.
    FisheyeLens lensOn(float w, float h) const;
    // A lens set in video pixels taken over in the item's, before a separate lens property changes it.
    void keepLensInItem();
    // The item's size or the video's changed: the lens reads differently on the other side.
    void onFrameChanged();
    // The names the properties take, to values; false, with a log line, for none.
    static bool mountFromName(const QString &name, FisheyeMount *mount);
    static bool projectionFromName(const QString &name, FisheyeLensProjection *projection);

    // The lens and view of the current properties on the item's current size.
    FisheyeProjection projection() const;
    // The same lens measured in pixels of a frame w x h instead of the item's.
    FisheyeProjection projection(float w, float h) const;
    // View points to item pixels, as drawn.
    static QVector<QPointF> toItem(const QVector<QPointF> &points, const FisheyeProjection &projection, float w,
                                   float h);
    void fillNode(QSGGeometryNode *node, const QVector<QPointF> &points, const FisheyeProjection &projection, float w,
                  float h) const;

    float m_vidWidth = 0.0f;
    float m_vidHeight = 0.0f;
    float m_centerX = 0.0f;
    float m_centerY = 0.0f;
    float m_radius = 0.0f;
    float m_fov = 0.0f;
    // Whether m_centerX, m_centerY and m_radius are video pixels (lens) or the item's (the separate properties).
    bool m_lensInVideo = false;
    float m_roll = 0.0f;
    float m_tilt = 0.0f;
    float m_pan = 0.0f;
    float m_zoom = 0.0f;
    QColor m_color = QColor(255, 0, 0);
    float m_lineWidth = 2.0f;
    bool m_arrowVisible = true;
    FisheyeMount m_mount = FisheyeMount::Wall;
    float m_ratio = 0.0f;
    FisheyeLensProjection m_lensProjection = FisheyeLensProjection::Equidistant;
    FisheyeLayout m_layout;
    QVariantMap m_layoutMap;
    const float m_segmentStep;
    const float m_arrowHeadSize;
    const float m_arrowMargin;
    const float m_dragFactor;
};
