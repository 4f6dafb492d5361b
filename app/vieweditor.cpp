#include "app/vieweditor.h"

#include "app/applogging.h"
#include "repo/repobjviews.h"

#include <QtMath>

#include <cmath>

namespace {

const QString kPerspective = QStringLiteral("perspective");
const QString kQuad = QStringLiteral("quad");
const QString kCeiling = QStringLiteral("ceiling");
const QString kFloor = QStringLiteral("floor");
const QString kWall = QStringLiteral("wall");

bool isMode(const QString &name)
{
    FisheyeViewMode mode;
    return FisheyeProjection::modeFromName(name.toUtf8().constData(), &mode);
}

bool isMount(const QString &name)
{
    FisheyeMount mount;
    return FisheyeProjection::mountFromName(name.toUtf8().constData(), &mount);
}

bool isProjection(const QString &name)
{
    FisheyeLensProjection projection;
    return FisheyeProjection::projectionFromName(name.toUtf8().constData(), &projection);
}

} // namespace

bool ViewEditor::Aim::operator==(const Aim &other) const
{
    return roll == other.roll && tilt == other.tilt && pan == other.pan && zoom == other.zoom;
}

ViewEditor::ViewEditor(QObject *parent) : QObject(parent)
{
    // Until a mode places its own: two views above the horizon and two below, a quarter turn apart.
    m_quad = {Aim{0, 20, -45, 70}, Aim{0, 20, 45, 70}, Aim{0, -20, -135, 70}, Aim{0, -20, 135, 70}};
    m_lens.fov = float(kDefaultFov);
    markUnmodified();
}

void ViewEditor::setStream(Object *stream)
{
    if (m_stream == stream)
        return;
    m_stream = stream;
    m_lens = stream ? stream->lens() : Lens();
    // The lens angle needs no frame size; the stream's is kept where it has a lens.
    if (!(m_lens.radius > 0 && m_lens.fov > 0))
        m_lens.fov = float(kDefaultFov);
    m_lensPlaced = false;
    // A view of the stream before is none of this one's to update.
    setEditedName(QString());
    if (m_mode != kPerspective) {
        m_mode = kPerspective;
        emit modeChanged();
    }
    // A new view of a camera on the ceiling or the floor starts halfway between the horizon and the
    // lens axis, where the picture holds.
    Aim start;
    start.tilt = m_lens.mount == kCeiling ? -45 : m_lens.mount == kFloor ? 45 : 0;
    setAim(start);
    placeBand();
    emit streamChanged();
    emit mountChanged();
    emit projectionChanged();
    emit lensChanged();
    aimChanged();
    markUnmodified();
}

void ViewEditor::setName(const QString &name)
{
    if (m_name == name)
        return;
    m_name = name;
    emit nameChanged();
    if (!m_message.isEmpty() && m_name != m_refusedName)
        setMessage(QString());
}

void ViewEditor::setEditedName(const QString &name)
{
    if (m_editedName == name)
        return;
    m_editedName = name;
    emit editedNameChanged();
    // What was said about the view before is about another one now.
    setMessage(QString());
}

void ViewEditor::setMessage(const QString &message)
{
    if (m_message == message)
        return;
    m_message = message;
    emit messageChanged();
}

void ViewEditor::refuse(const QString &why)
{
    qCInfo(lcApp).noquote() << "View not stored:" << why;
    m_refusedName = m_name;
    setMessage(why);
}

bool ViewEditor::isPanorama() const
{
    return m_mode == QLatin1String("panorama") || m_mode == QLatin1String("double-panorama") ||
           m_mode == QLatin1String("half-panorama");
}

void ViewEditor::setMode(const QString &mode)
{
    if (m_mode == mode)
        return;
    if (!isMode(mode)) {
        qCWarning(lcApp) << "Unknown view mode" << mode << "ignored";
        return;
    }
    const bool wasPanorama = isPanorama();
    if (mode == kQuad) {
        // Four directions a quarter turn apart, where the mount's camera sees the room.
        const double tilt = m_lens.mount == kCeiling ? -35 : m_lens.mount == kFloor ? 35 : 0;
        const std::array<double, 4> pans =
            m_lens.mount == kWall ? std::array<double, 4>{-60, -20, 20, 60} : std::array<double, 4>{-135, -45, 45, 135};
        for (int i = 0; i < 4; ++i)
            m_quad[i] = Aim{0, tilt, pans[i], 70};
        m_quadIndex = 0;
        setAim(m_quad[0]);
        emit quadChanged();
    }
    m_mode = mode;
    emit modeChanged();
    if (isPanorama() && !wasPanorama)
        placeBand();
    aimChanged();
}

void ViewEditor::setMount(const QString &mount)
{
    if (m_lens.mount == mount)
        return;
    if (!isMount(mount)) {
        qCWarning(lcApp) << "Unknown camera mount" << mount << "ignored";
        return;
    }
    const Aim camera = inCamera(m_aim);
    m_lens.mount = mount;
    emit mountChanged();
    emit lensChanged();
    if (isPanorama())
        placeBand();
    const Aim room = inRoom(camera);
    setAim(Aim{0, room.tilt, room.pan, m_aim.zoom});
    aimChanged();
}

void ViewEditor::setProjection(const QString &projection)
{
    if (m_lens.projection == projection)
        return;
    if (!isProjection(projection)) {
        qCWarning(lcApp) << "Unknown lens projection" << projection << "ignored";
        return;
    }
    m_lens.projection = projection;
    emit projectionChanged();
    emit lensChanged();
    emit editStateChanged();
}

bool ViewEditor::setAngle(double Aim::*angle, double value, void (ViewEditor::*changed)(), const char *what)
{
    if (!std::isfinite(value)) {
        qCWarning(lcApp) << "View" << what << value << "ignored: not a number";
        return false;
    }
    if (m_aim.*angle == value)
        return false;
    m_aim.*angle = value;
    emit(this->*changed)();
    aimChanged();
    return true;
}

void ViewEditor::setRoll(double roll)
{
    setAngle(&Aim::roll, roll, &ViewEditor::rollChanged, "roll");
}

void ViewEditor::setTilt(double tilt)
{
    setAngle(&Aim::tilt, tilt, &ViewEditor::tiltChanged, "tilt");
}

void ViewEditor::setPan(double pan)
{
    setAngle(&Aim::pan, pan, &ViewEditor::panChanged, "pan");
}

void ViewEditor::setZoom(double zoom)
{
    setAngle(&Aim::zoom, zoom, &ViewEditor::zoomChanged, "zoom");
}

void ViewEditor::setAim(const Aim &aim)
{
    setRoll(aim.roll);
    setTilt(aim.tilt);
    setPan(aim.pan);
    setZoom(aim.zoom);
}

bool ViewEditor::setBandEdge(double *edge, double value, void (ViewEditor::*changed)(), const char *what)
{
    if (!std::isfinite(value)) {
        qCWarning(lcApp) << "Panorama" << what << value << "ignored: not a number";
        return false;
    }
    if (*edge == value)
        return false;
    *edge = value;
    emit(this->*changed)();
    aimChanged();
    return true;
}

void ViewEditor::setAzimuth(double azimuth)
{
    setBandEdge(&m_azimuth, azimuth, &ViewEditor::azimuthChanged, "azimuth");
}

void ViewEditor::setUpper(double upper)
{
    setBandEdge(&m_upper, upper, &ViewEditor::upperChanged, "upper edge");
}

void ViewEditor::setLower(double lower)
{
    setBandEdge(&m_lower, lower, &ViewEditor::lowerChanged, "lower edge");
}

void ViewEditor::placeBand()
{
    // From the horizon to near the lens axis for a camera looking down or up, about the horizon for one
    // on a wall.
    setUpper(m_lens.mount == kCeiling ? 0 : m_lens.mount == kFloor ? 70 : 45);
    setLower(m_lens.mount == kCeiling ? -70 : m_lens.mount == kFloor ? 0 : -45);
}

void ViewEditor::aimChanged()
{
    emit layoutChanged();
    emit editStateChanged();
}

void ViewEditor::setFov(double fov)
{
    if (!std::isfinite(fov)) {
        qCWarning(lcApp) << "Lens angle" << fov << "ignored: not a number";
        return;
    }
    if (m_lens.fov == float(fov))
        return;
    m_lens.fov = float(fov);
    emit lensChanged();
    emit editStateChanged();
}

ViewEditor::Aim ViewEditor::aimOf(const QVariant &value)
{
    const QVariantMap map = value.toMap();
    return Aim{map.value(QStringLiteral("roll")).toDouble(), map.value(QStringLiteral("tilt")).toDouble(),
               map.value(QStringLiteral("pan")).toDouble(), map.value(QStringLiteral("zoom")).toDouble()};
}

QVariantMap ViewEditor::mapOf(const Aim &aim)
{
    return {{QStringLiteral("roll"), aim.roll},
            {QStringLiteral("tilt"), aim.tilt},
            {QStringLiteral("pan"), aim.pan},
            {QStringLiteral("zoom"), aim.zoom}};
}

ViewEditor::Aim ViewEditor::inCamera(const Aim &room) const
{
    ViewAim aim;
    aim.roll = float(room.roll);
    aim.tilt = float(room.tilt);
    aim.pan = float(room.pan);
    const ViewAim camera = aim.toCamera(m_lens.mount);
    return Aim{camera.roll, camera.tilt, camera.pan, room.zoom};
}

ViewEditor::Aim ViewEditor::inRoom(const Aim &camera) const
{
    ViewAim aim;
    aim.roll = float(camera.roll);
    aim.tilt = float(camera.tilt);
    aim.pan = float(camera.pan);
    const ViewAim room = aim.toRoom(m_lens.mount);
    return Aim{room.roll, room.tilt, room.pan, camera.zoom};
}

ViewEditor::Quad ViewEditor::currentQuad() const
{
    Quad quad = m_quad;
    quad[m_quadIndex] = m_aim;
    return quad;
}

QVariantList ViewEditor::quadAims() const
{
    QVariantList aims;
    for (const Aim &aim : currentQuad())
        aims << mapOf(aim);
    return aims;
}

QVariantMap ViewEditor::layout() const
{
    QVariantList stored;
    for (const Aim &aim : currentQuad())
        stored << mapOf(inCamera(aim));
    return {{QStringLiteral("azimuth"), m_azimuth},
            {QStringLiteral("upper"), m_upper},
            {QStringLiteral("lower"), m_lower},
            {QStringLiteral("quad"), stored}};
}

QVariantMap ViewEditor::cameraAngles() const
{
    QVariantMap angles = mapOf(inCamera(m_aim));
    angles.remove(QStringLiteral("zoom"));
    return angles;
}

ViewAim ViewEditor::cameraAim() const
{
    const Aim camera = inCamera(m_aim);
    ViewAim aim;
    aim.roll = float(camera.roll);
    aim.tilt = float(camera.tilt);
    aim.pan = float(camera.pan);
    aim.zoom = float(camera.zoom);
    aim.mode = m_mode;
    aim.layout = layout();
    return aim;
}

bool ViewEditor::selectQuarter(int index)
{
    if (index < 0 || index >= int(m_quad.size())) {
        qCWarning(lcApp) << "No quarter" << index << "of a quad";
        return false;
    }
    if (index == m_quadIndex)
        return true;
    m_quad = currentQuad();
    m_quadIndex = index;
    setAim(m_quad[index]);
    emit quadChanged();
    aimChanged();
    return true;
}

bool ViewEditor::placeLens(int width, int height)
{
    if (width <= 0 || height <= 0)
        return false;
    if (m_lensPlaced)
        return true;
    if (m_lens.radius <= 0) {
        const Lens middle = Lens::fromPixels(width * 0.5, height * 0.5, width * 0.5, m_lens.fov);
        m_lens.centerX = middle.centerX;
        m_lens.centerY = middle.centerY;
        m_lens.radius = middle.radius;
    }
    m_lensPlaced = true;
    emit lensChanged();
    emit editStateChanged();
    return true;
}

bool ViewEditor::setLensShares(double shareX, double shareY, double shareRadius, int width, int height)
{
    if (!m_lensPlaced || width <= 0 || height <= 0)
        return false;
    if (!std::isfinite(shareX) || !std::isfinite(shareY) || !std::isfinite(shareRadius)) {
        qCWarning(lcApp) << "Lens shares" << shareX << shareY << shareRadius << "ignored: not numbers";
        return false;
    }
    const Lens lens = m_lens.withShares(shareX, shareY, shareRadius, width, height);
    if (lens != m_lens) {
        m_lens = lens;
        emit lensChanged();
        emit editStateChanged();
    }
    return true;
}

bool ViewEditor::loadView(const QString &name, bool asCopy)
{
    RepoObjViews *views = RepoObjViews::instance();
    const QString serial = m_stream ? m_stream->serial() : QString();
    const QVariantMap values = m_stream && views ? views->viewOf(serial, name) : QVariantMap();
    if (values.isEmpty()) {
        qCInfo(lcApp) << "No view" << name << "of stream" << serial << "to load";
        // Says what Ok does instead.
        m_refusedName = m_name;
        setMessage(m_editedName.isEmpty() ? tr("The view “%1” no longer exists; Ok stores a new view.").arg(name)
                                          : tr("The view “%1” no longer exists.").arg(name));
        return false;
    }
    const QVariantMap layout = values.value(QStringLiteral("layout")).toMap();
    if (layout.contains(QStringLiteral("azimuth"))) {
        setAzimuth(layout.value(QStringLiteral("azimuth")).toDouble());
        setUpper(layout.value(QStringLiteral("upper")).toDouble());
        setLower(layout.value(QStringLiteral("lower")).toDouble());
    }
    // The stored quad is in camera angles (RepoObjViews keeps four or none).
    const QVariantList quad = layout.value(QStringLiteral("quad")).toList();
    if (quad.size() == int(m_quad.size())) {
        for (int i = 0; i < quad.size(); ++i)
            m_quad[i] = inRoom(aimOf(quad.at(i)));
        m_quadIndex = 0;
        emit quadChanged();
    }
    const QString mode = values.value(QStringLiteral("mode")).toString();
    m_mode = isMode(mode) ? mode : kPerspective;
    emit modeChanged();
    setAim(m_mode == kQuad ? m_quad[0] : inRoom(aimOf(values)));
    setName(asCopy ? views->copyName(serial, name) : name);
    setEditedName(asCopy ? QString() : name);
    aimChanged();
    markUnmodified();
    emit viewLoaded();
    return true;
}

QVariantMap ViewEditor::snapshot() const
{
    QVariantMap state = mapOf(m_aim);
    state.insert(QStringLiteral("name"), m_name);
    state.insert(QStringLiteral("mode"), m_mode);
    state.insert(QStringLiteral("layout"), layout());
    return state;
}

bool ViewEditor::isModified() const
{
    const QVariantMap now = snapshot();
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        const QVariant was = m_loaded.value(it.key());
        const bool same = it.value().type() == QVariant::Double ? qAbs(it.value().toDouble() - was.toDouble()) < 1e-6
                                                                : it.value() == was;
        if (!same)
            return true;
    }
    return false;
}

QVariantMap ViewEditor::editState() const
{
    QVariantMap state = mapOf(m_aim);
    state.insert({{QStringLiteral("mount"), m_lens.mount},
                  {QStringLiteral("mode"), m_mode},
                  {QStringLiteral("projection"), m_lens.projection},
                  {QStringLiteral("azimuth"), m_azimuth},
                  {QStringLiteral("upper"), m_upper},
                  {QStringLiteral("lower"), m_lower},
                  {QStringLiteral("quadAims"), quadAims()},
                  {QStringLiteral("quadIndex"), m_quadIndex},
                  {QStringLiteral("fov"), fov()},
                  {QStringLiteral("lensPlaced"), m_lensPlaced},
                  {QStringLiteral("centerX"), m_lens.centerX},
                  {QStringLiteral("centerY"), m_lens.centerY},
                  {QStringLiteral("radius"), m_lens.radius}});
    return state;
}

void ViewEditor::restoreEditState(const QVariantMap &state)
{
    const QString mode = state.value(QStringLiteral("mode")).toString();
    const QString mount = state.value(QStringLiteral("mount")).toString();
    const QString projection = state.value(QStringLiteral("projection")).toString();
    const QVariantList quad = state.value(QStringLiteral("quadAims")).toList();
    const int quadIndex = state.value(QStringLiteral("quadIndex")).toInt();
    if (!isMode(mode) || !isMount(mount) || !isProjection(projection) || quad.size() != int(m_quad.size()) ||
        quadIndex < 0 || quadIndex >= quad.size()) {
        qCWarning(lcApp) << "Not an edit state of the view:" << state;
        return;
    }
    // Put back as recorded, without what setMode() and setMount() do besides.
    m_lens.mount = mount;
    m_lens.projection = projection;
    for (int i = 0; i < quad.size(); ++i)
        m_quad[i] = aimOf(quad.at(i));
    m_quadIndex = quadIndex;
    m_mode = mode;
    emit mountChanged();
    emit projectionChanged();
    emit quadChanged();
    emit modeChanged();
    setAim(aimOf(state));
    setAzimuth(state.value(QStringLiteral("azimuth")).toDouble());
    setUpper(state.value(QStringLiteral("upper")).toDouble());
    setLower(state.value(QStringLiteral("lower")).toDouble());
    setFov(state.value(QStringLiteral("fov")).toDouble());
    if (state.value(QStringLiteral("lensPlaced")).toBool() && m_lensPlaced) {
        m_lens.centerX = state.value(QStringLiteral("centerX")).toInt();
        m_lens.centerY = state.value(QStringLiteral("centerY")).toInt();
        m_lens.radius = state.value(QStringLiteral("radius")).toInt();
    }
    emit lensChanged();
    aimChanged();
}

bool ViewEditor::store()
{
    RepoObjViews *views = RepoObjViews::instance();
    if (!m_stream || !views) {
        refuse(tr("The stream of this view is gone: nothing was stored."));
        return false;
    }
    if (m_name.trimmed().isEmpty()) {
        refuse(tr("Type a name for the view."));
        return false;
    }
    const QString serial = m_stream->serial();
    const QString taken = tr("The stream has a view named “%1” already: choose another name.").arg(m_name);
    const Aim camera = inCamera(m_aim);
    // The view store refuses a name another view of the stream has, on append and on rename alike.
    if (!m_editedName.isEmpty()) {
        if (!views->updateView(serial, m_editedName, m_name, float(camera.roll), float(camera.tilt), float(camera.pan),
                               float(camera.zoom))) {
            if (views->hasView(serial, m_editedName)) {
                qCInfo(lcApp, "View exists");
                refuse(taken);
            } else {
                refuse(tr("The view “%1” could not be updated.").arg(m_editedName));
            }
            return false;
        }
    } else {
        if (!views->appendView(m_name, serial, float(camera.roll), float(camera.tilt), float(camera.pan),
                               float(camera.zoom))) {
            qCInfo(lcApp, "View exists");
            refuse(taken);
            return false;
        }
        // A new view is served by the next Start; an edited one keeps its tick as it was.
        if (!views->setViewActive(serial, m_name, true))
            qCWarning(lcApp) << "The new view" << m_name << "was not switched on";
    }
    if (!views->setViewLayout(serial, m_name, m_mode, layout()))
        qCWarning(lcApp) << "The layout of view" << m_name << "was not stored";

    // Without a frame size the window holds no lens of its own: the stream keeps its own.
    if (m_lensPlaced) {
        m_stream->setLens(m_lens);
    } else {
        m_stream->setMount(m_lens.mount);
        m_stream->setProjection(m_lens.projection);
        qCInfo(lcApp) << "Lens geometry not taken over: the video size is not known yet";
    }
    // A second Ok updates what the first stored.
    setEditedName(m_name);
    markUnmodified();
    return true;
}
