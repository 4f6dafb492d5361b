#pragma once

#include "defish/lens.h"
#include "defish/viewaim.h"
#include "repo/object.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <array>

// What the defish window edits for one stream, and the rules it edits by. From the stream it takes the
// lens (in whole video pixels), the mount and the projection; it holds the view being edited: its name,
// the stored view Ok updates (editedName; empty for a new one), the mode, the aim in room angles of the
// mount (for a quad, that of the quarter on the sliders), the panorama's band and the quad's four aims.
// store() is Ok: it updates the edited view or appends a new one ticked active, and writes the lens,
// mount and projection to the stream; a refused Ok writes nothing and says why in message.
class ViewEditor : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Object *stream READ stream WRITE setStream NOTIFY streamChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString editedName READ editedName NOTIFY editedNameChanged)
    // Why the last Ok or load was refused; it goes once another view is loaded or the refused name
    // is changed.
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    // "perspective", "panorama", "double-panorama", "quad" or "half-panorama". Another mode places its
    // parts where the mount's camera sees the room (a panorama's band, a quad's four aims).
    Q_PROPERTY(QString mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(bool isPanorama READ isPanorama NOTIFY modeChanged)
    // "wall", "ceiling" or "floor". Another mount keeps where the view looks and levels its horizon.
    Q_PROPERTY(QString mount READ mount WRITE setMount NOTIFY mountChanged)
    Q_PROPERTY(QString projection READ projection WRITE setProjection NOTIFY projectionChanged)
    Q_PROPERTY(double roll READ roll WRITE setRoll NOTIFY rollChanged)
    Q_PROPERTY(double tilt READ tilt WRITE setTilt NOTIFY tiltChanged)
    Q_PROPERTY(double pan READ pan WRITE setPan NOTIFY panChanged)
    Q_PROPERTY(double zoom READ zoom WRITE setZoom NOTIFY zoomChanged)
    Q_PROPERTY(double minZoom READ minZoom CONSTANT)
    Q_PROPERTY(double maxZoom READ maxZoom CONSTANT)
    // A panorama's left edge (turning as pan does) and the elevations of its upper and lower edges.
    Q_PROPERTY(double azimuth READ azimuth WRITE setAzimuth NOTIFY azimuthChanged)
    Q_PROPERTY(double upper READ upper WRITE setUpper NOTIFY upperChanged)
    Q_PROPERTY(double lower READ lower WRITE setLower NOTIFY lowerChanged)
    // Which quarter of a quad is on the sliders (selectQuarter()), and the four aims in room angles
    // ([{"roll", "tilt", "pan", "zoom"}]), that quarter's as the sliders stand.
    Q_PROPERTY(int quadIndex READ quadIndex NOTIFY quadChanged)
    Q_PROPERTY(QVariantList quadAims READ quadAims NOTIFY quadChanged)
    // The picture's layout as stored (LayoutCodec's map, the quad in camera angles).
    Q_PROPERTY(QVariantMap layout READ layout NOTIFY layoutChanged)
    // The lens as Ok stores it: the stream's until placeLens(), then the window's own.
    Q_PROPERTY(Lens lens READ lens NOTIFY lensChanged)
    Q_PROPERTY(double fov READ fov WRITE setFov NOTIFY lensChanged)
    Q_PROPERTY(bool lensPlaced READ lensPlaced NOTIFY lensChanged)
    // Everything undo and redo step through (restoreEditState() puts one back).
    Q_PROPERTY(QVariantMap editState READ editState NOTIFY editStateChanged)

public:
    // The lens angle of a stream without a lens, and a new view's zoom.
    static constexpr double kDefaultFov = 163.0;
    static constexpr double kDefaultZoom = 20.0;
    // The zoom's range on the slider and by hand.
    static constexpr double kMinZoom = 10.0;
    static constexpr double kMaxZoom = 150.0;

    explicit ViewEditor(QObject *parent = nullptr);

    Object *stream() const { return m_stream; }
    // Takes the stream's lens, mount and projection and starts a new perspective view aimed where the
    // mount's camera sees the room; the name typed stays.
    void setStream(Object *stream);
    QString name() const { return m_name; }
    void setName(const QString &name);
    QString editedName() const { return m_editedName; }
    QString message() const { return m_message; }
    QString mode() const { return m_mode; }
    void setMode(const QString &mode);
    bool isPanorama() const;
    QString mount() const { return m_lens.mount; }
    void setMount(const QString &mount);
    QString projection() const { return m_lens.projection; }
    void setProjection(const QString &projection);
    double roll() const { return m_aim.roll; }
    void setRoll(double roll);
    double tilt() const { return m_aim.tilt; }
    void setTilt(double tilt);
    double pan() const { return m_aim.pan; }
    void setPan(double pan);
    double zoom() const { return m_aim.zoom; }
    void setZoom(double zoom);
    double minZoom() const { return kMinZoom; }
    double maxZoom() const { return kMaxZoom; }
    double azimuth() const { return m_azimuth; }
    void setAzimuth(double azimuth);
    double upper() const { return m_upper; }
    void setUpper(double upper);
    double lower() const { return m_lower; }
    void setLower(double lower);
    int quadIndex() const { return m_quadIndex; }
    QVariantList quadAims() const;
    QVariantMap layout() const;
    Lens lens() const { return m_lens; }
    double fov() const { return double(m_lens.fov); }
    void setFov(double fov);
    bool lensPlaced() const { return m_lensPlaced; }
    QVariantMap editState() const;

    // The view's camera angles ({"roll", "tilt", "pan"}), as stored; and the whole aim in camera angles,
    // as the shader draws it.
    Q_INVOKABLE QVariantMap cameraAngles() const;
    Q_INVOKABLE ViewAim cameraAim() const;

    // Another quarter of a quad onto the sliders (0 top left ... 3 bottom right); the one there keeps
    // what it was given. False, with a log line, for no quarter.
    Q_INVOKABLE bool selectQuarter(int index);

    // Places the window's own lens once the frame size is known: the stream's, or for a stream without
    // one the centre in the middle and the radius half the width. Once only; false before a frame size.
    Q_INVOKABLE bool placeLens(int width, int height);
    // The placed lens from shares of a frame of width x height (Lens::withShares); false before placeLens().
    Q_INVOKABLE bool setLensShares(double shareX, double shareY, double shareRadius, int width, int height);

    // Loads the stream's stored view name, to update it, or with asCopy to store a copy under a free name;
    // false, with a message, where it is gone.
    Q_INVOKABLE bool loadView(const QString &name, bool asCopy);
    // Whether what is shown differs from what was loaded (or stored) last: loading another view drops it.
    Q_INVOKABLE bool isModified() const;
    Q_INVOKABLE void restoreEditState(const QVariantMap &state);

    // Ok: stores the view and the lens as described above; false, with a message, where refused.
    Q_INVOKABLE bool store();

signals:
    void streamChanged();
    void nameChanged();
    void editedNameChanged();
    void messageChanged();
    void modeChanged();
    void mountChanged();
    void projectionChanged();
    void rollChanged();
    void tiltChanged();
    void panChanged();
    void zoomChanged();
    void azimuthChanged();
    void upperChanged();
    void lowerChanged();
    void quadChanged();
    void layoutChanged();
    void lensChanged();
    void editStateChanged();
    // A stored view was loaded: what was done to the one before is gone, undo included.
    void viewLoaded();

private:
    struct Aim
    {
        double roll = 0;
        double tilt = 0;
        double pan = 0;
        double zoom = kDefaultZoom;
        bool operator==(const Aim &other) const;
    };
    using Quad = std::array<Aim, 4>;

    static Aim aimOf(const QVariant &value);
    static QVariantMap mapOf(const Aim &aim);
    Aim inCamera(const Aim &room) const;
    Aim inRoom(const Aim &camera) const;
    Quad currentQuad() const;
    QVariantMap snapshot() const;
    void markUnmodified() { m_loaded = snapshot(); }
    void placeBand();
    // Sets the aim on the sliders and what follows from it.
    void setAim(const Aim &aim);
    bool setAngle(double Aim::*angle, double value, void (ViewEditor::*changed)(), const char *what);
    bool setBandEdge(double *edge, double value, void (ViewEditor::*changed)(), const char *what);
    void setEditedName(const QString &name);
    void setMessage(const QString &message);
    void refuse(const QString &why);
    void aimChanged();

    QPointer<Object> m_stream;
    QString m_name;
    QString m_editedName;
    QString m_message;
    // The name a refusal was about: the message goes once the name is another.
    QString m_refusedName;
    QString m_mode = QStringLiteral("perspective");
    Aim m_aim;
    double m_azimuth = -180;
    double m_upper = 45;
    double m_lower = -45;
    Quad m_quad;
    int m_quadIndex = 0;
    Lens m_lens;
    bool m_lensPlaced = false;
    QVariantMap m_loaded;
};
