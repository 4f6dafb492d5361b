#pragma once

#include "app/vieweditor.h"
#include "defish/dewraparea.h"

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QVariant>

// Aiming by hand in the defish window: what a press, a drag, the wheel and the arrow keys on its two
// panes do to the view of a ViewEditor. The pan and tilt come from the lens model of the overlay (area)
// over the raw pane, so the dewarped picture, the outline and the pointer agree.
//
// Positions on the raw pane are normalised to the overlay's size, as DewrapArea takes them; positions
// on the dewarped pane are normalised to that pane. A grab is what a press took hold of, handed back
// with each move of the drag; null where the press took nothing.
class PaneAiming : public QObject
{
    Q_OBJECT
    Q_PROPERTY(ViewEditor *editor READ editor WRITE setEditor NOTIFY editorChanged)
    Q_PROPERTY(DewrapArea *area READ area WRITE setArea NOTIFY areaChanged)
    // How near, in overlay pixels, a press must come to an outline to take it.
    Q_PROPERTY(qreal outlineReach READ outlineReach CONSTANT)

public:
    static constexpr qreal kOutlineReach = 6;

    explicit PaneAiming(QObject *parent = nullptr);

    ViewEditor *editor() const { return m_editor; }
    void setEditor(ViewEditor *editor);
    DewrapArea *area() const { return m_area; }
    void setArea(DewrapArea *area);
    qreal outlineReach() const { return kOutlineReach; }

    // Turns the view so that fisheye position (x, y) shows at view point (u, v) of the view on the
    // sliders; false where no pan and tilt do.
    Q_INVOKABLE bool aimAt(qreal x, qreal y, qreal u, qreal v);
    // A double click on the raw pane: brings fisheye position (x, y) to the centre of the view; false,
    // with a log line, outside the lens circle or where no view reaches it.
    Q_INVOKABLE bool centreOn(qreal x, qreal y);

    // A press on the raw pane on the outline of the view being aimed, or inside it, grabs the view
    // point there or, for a panorama, the room's azimuth there; the drag moves the view so that what
    // was grabbed lies under the pointer (a panorama turns).
    Q_INVOKABLE QVariant grabRawAt(qreal x, qreal y) const;
    Q_INVOKABLE void dragRawTo(const QVariant &grab, qreal x, qreal y);

    // A press on the dewarped pane puts a quad's quarter under it onto the sliders and grabs the fisheye
    // point under it (a panorama: where the drag starts); the drag keeps that point under the pointer,
    // or turns a panorama by the share of the pane it crossed.
    Q_INVOKABLE QVariant grabViewAt(qreal x, qreal y);
    Q_INVOKABLE void dragViewTo(const QVariant &grab, qreal x, qreal y);

    // Narrows (notches > 0) or widens the view by a tenth per notch within the zoom's range, and turns
    // it so that what lay under dewarped pane position (x, y) stays there. Panoramas have no zoom.
    Q_INVOKABLE void zoomAbout(qreal notches, qreal x, qreal y);
    // Arrow keys turn by a degree (ten with Shift) within -180 to 180 degrees; + (or =) and - zoom.
    // Whether the key was one of these.
    Q_INVOKABLE bool handleKey(int key, int modifiers);

signals:
    void editorChanged();
    void areaChanged();

private:
    // The view point on the sliders under dewarped pane position (x, y): a quad's quarter has a unit
    // square of its own.
    QPointF viewPointAt(qreal x, qreal y) const;
    // The room direction the lens sees at fisheye position (x, y): azimuth and elevation in degrees,
    // the elevation within -90 to 90; false where none.
    bool roomDirection(qreal x, qreal y, double *azimuth, double *elevation) const;
    void zoomBy(qreal notches);

    QPointer<ViewEditor> m_editor;
    QPointer<DewrapArea> m_area;
};
