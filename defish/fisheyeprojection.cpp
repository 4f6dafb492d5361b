#include "defish/fisheyeprojection.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// Every expression below keeps the shader's operand order so that the 32-bit results match it
// operation for operation (float arithmetic is not associative).

namespace {

constexpr double kPi = 3.14159265358979323846;

// An angle in radians to degrees within -180 to 180.
double wrapDegrees(double radians)
{
    return std::remainder(radians * 180.0 / kPi, 360.0);
}

// The turns of FisheyeProjection in double precision, for converting between mounts.
struct Vec3d
{
    double x;
    double y;
    double z;
};

Vec3d turnX(Vec3d p, double a)
{
    return {p.x, p.y * std::cos(a) + p.z * std::sin(a), -p.y * std::sin(a) + p.z * std::cos(a)};
}

Vec3d turnY(Vec3d p, double a)
{
    return {p.x * std::cos(a) + p.z * std::sin(a), p.y, -p.x * std::sin(a) + p.z * std::cos(a)};
}

Vec3d turnZ(Vec3d p, double a)
{
    return {p.x * std::cos(a) + p.y * std::sin(a), -p.x * std::sin(a) + p.y * std::cos(a), p.z};
}

// A direction of the view's own frame turned by its roll, tilt and pan, as viewRay() turns it.
Vec3d turned(const FisheyeView &view, Vec3d p)
{
    return turnZ(turnX(turnY(p, view.roll * kPi / 180.0), view.tilt * kPi / 180.0), view.pan * kPi / 180.0);
}

// Room directions of a mount to camera directions (toCamera) and back.
Vec3d mountToCamera(FisheyeMount mount, Vec3d p)
{
    switch (mount) {
    case FisheyeMount::Ceiling:
        // The room's horizon ahead (y) lies towards the frame's top (-z), the floor (z) along the lens axis.
        return {p.x, p.z, -p.y};
    case FisheyeMount::Floor:
        // Looking up: the room's floor lies behind the lens, and left and right swap sides.
        return {-p.x, -p.z, -p.y};
    case FisheyeMount::Wall:
        break;
    }
    return p;
}

Vec3d cameraToMount(FisheyeMount mount, Vec3d p)
{
    switch (mount) {
    case FisheyeMount::Ceiling:
        return {p.x, -p.z, p.y};
    case FisheyeMount::Floor:
        return {-p.x, -p.z, -p.y};
    case FisheyeMount::Wall:
        break;
    }
    return p;
}

// Roll, tilt and pan whose turns take the view's axis (0, 1, 0) to forward and its right (1, 0, 0) to
// right. The axis turned by tilt t and pan p is (cos t sin p, cos t cos p, -sin t); the right vector
// with pan and tilt undone is roll's (cos r, 0, -sin r).
FisheyeView anglesOf(Vec3d forward, Vec3d right, const FisheyeView &like)
{
    FisheyeView view = like;
    const double tilt = std::asin(std::max(-1.0, std::min(1.0, -forward.z)));
    const double pan = std::hypot(forward.x, forward.y) > 1e-9 ? std::atan2(forward.x, forward.y) : 0.0;
    const Vec3d r = turnX(turnZ(right, -pan), -tilt);
    view.tilt = float(wrapDegrees(tilt));
    view.pan = float(wrapDegrees(pan));
    view.roll = float(wrapDegrees(std::atan2(-r.z, r.x)));
    return view;
}

} // namespace

FisheyeProjection::FisheyeProjection(const FisheyeLens &lens, const FisheyeView &view, FisheyeMount mount,
                                     const FisheyeLayout &layout)
    : m_lens(lens), m_view(view), m_mount(mount), m_layout(layout)
{
    update();
}

void FisheyeProjection::setLens(const FisheyeLens &lens)
{
    m_lens = lens;
    update();
}

void FisheyeProjection::setView(const FisheyeView &view)
{
    m_view = view;
    update();
}

void FisheyeProjection::setLayout(const FisheyeLayout &layout)
{
    m_layout = layout;
    update();
}

void FisheyeProjection::update()
{
    m_camera = toCamera(m_mount, m_view);
    const float fov = m_view.fov * kDegToRad;
    m_dh = std::tan(0.5f * fov);
    m_dv = m_dh / m_view.ratio;
    for (int i = 0; i < 4; ++i) {
        m_quad[i].camera = m_layout.quad[i];
        m_quad[i].dh = std::tan(0.5f * (m_layout.quad[i].fov * kDegToRad));
        m_quad[i].dv = m_quad[i].dh / m_view.ratio;
    }
}

bool FisheyeProjection::isValid() const
{
    const float values[] = {m_lens.width, m_lens.height, m_lens.centerX, m_lens.centerY, m_lens.radius, m_lens.fov,
                            m_view.roll,  m_view.tilt,   m_view.pan,     m_view.fov,     m_view.ratio,  m_dh,
                            m_dv};
    for (float value : values) {
        if (!std::isfinite(value))
            return false;
    }
    for (float value : {m_layout.azimuth, m_layout.upper, m_layout.lower}) {
        if (!std::isfinite(value))
            return false;
    }
    if (m_layout.mode == FisheyeViewMode::Quad) {
        for (const Aim &aim : m_quad) {
            for (float value : {aim.camera.roll, aim.camera.tilt, aim.camera.pan, aim.dh, aim.dv}) {
                if (!std::isfinite(value))
                    return false;
            }
        }
    }
    // An orthographic lens sees no further than 90 degrees off its axis.
    if (m_lens.projection == FisheyeLensProjection::Orthographic && m_lens.fov > 180.0f)
        return false;
    return m_lens.width > 0.0f && m_lens.height > 0.0f && m_lens.fov > 0.0f && m_view.ratio > 0.0f;
}

FisheyeVec3 FisheyeProjection::rotateX(FisheyeVec3 p, float a)
{
    const float c = std::cos(a);
    const float s = std::sin(a);
    return {p.x, p.y * c + p.z * s, -p.y * s + p.z * c};
}

FisheyeVec3 FisheyeProjection::rotateY(FisheyeVec3 p, float a)
{
    const float c = std::cos(a);
    const float s = std::sin(a);
    return {p.x * c + p.z * s, p.y, -p.x * s + p.z * c};
}

FisheyeVec3 FisheyeProjection::rotateZ(FisheyeVec3 p, float a)
{
    const float c = std::cos(a);
    const float s = std::sin(a);
    return {p.x * c + p.y * s, -p.x * s + p.y * c, p.z};
}

FisheyeVec3 FisheyeProjection::aimRay(const Aim &aim, float u, float v)
{
    // p = p1 + u * deltah + v * deltav with p1 = (-dh, 1, -dv), deltah = (2dh, 0, 0), deltav = (0, 0, 2dv).
    // z grows downwards like the frame's rows, so the view's upper edge (v = 0) lies at z = -dv.
    const float deltah = aim.dh - (-aim.dh);
    const float deltav = aim.dv - (-aim.dv);
    FisheyeVec3 p{-aim.dh + u * deltah, 1.0f, -aim.dv + v * deltav};
    p = rotateY(p, aim.camera.roll * kDegToRad);
    p = rotateX(p, aim.camera.tilt * kDegToRad);
    p = rotateZ(p, aim.camera.pan * kDegToRad);
    return p;
}

FisheyeVec3 FisheyeProjection::viewRay(float u, float v) const
{
    Aim aim;
    aim.camera = m_camera;
    aim.dh = m_dh;
    aim.dv = m_dv;
    return aimRay(aim, u, v);
}

namespace {

// The lens's distance from the circle's centre for angle a off its axis, up to a constant factor.
float lensCurve(FisheyeLensProjection projection, float a)
{
    switch (projection) {
    case FisheyeLensProjection::Equisolid:
        return std::sin(0.5f * a);
    case FisheyeLensProjection::Stereographic:
        return std::tan(0.5f * a);
    case FisheyeLensProjection::Orthographic:
        return std::sin(a);
    case FisheyeLensProjection::Equidistant:
        break;
    }
    return a;
}

// The angle off the axis for curve value c: lensCurve's inverse (a value past the curve's reach gives
// the angle at its end).
float lensAngle(FisheyeLensProjection projection, float c)
{
    switch (projection) {
    case FisheyeLensProjection::Equisolid:
        return 2.0f * std::asin(std::min(1.0f, c));
    case FisheyeLensProjection::Stereographic:
        return 2.0f * std::atan(c);
    case FisheyeLensProjection::Orthographic:
        return std::asin(std::min(1.0f, c));
    case FisheyeLensProjection::Equidistant:
        break;
    }
    return c;
}

} // namespace

void FisheyeProjection::rayToFisheye(const FisheyeVec3 &p, float *x, float *y, float *r, float *phi) const
{
    const float theta = std::atan2(p.z, p.x);
    *phi = std::atan2(std::sqrt(p.x * p.x + p.z * p.z), p.y);

    float rr = 0.0f;
    if (m_lens.projection == FisheyeLensProjection::Equidistant) {
        rr = *phi / (m_lens.fov * kDegToRad);
        rr = rr * (2.0f * m_lens.radius / m_lens.width);
    } else {
        // Past 90 degrees an orthographic lens folds back: such a ray is off the lens, as sample() finds.
        const float half = 0.5f * (m_lens.fov * kDegToRad);
        rr = lensCurve(m_lens.projection, *phi) / lensCurve(m_lens.projection, half) * (m_lens.radius / m_lens.width);
    }

    *x = m_lens.centerX / m_lens.width + rr * std::cos(theta);
    *y =
        (m_lens.height - 1.0f - m_lens.centerY) / m_lens.height + (m_lens.width / m_lens.height) * rr * std::sin(theta);
    *r = rr;
}

FisheyeVec3 FisheyeProjection::tileRay(int tile, float u, float v) const
{
    switch (m_layout.mode) {
    case FisheyeViewMode::Quad:
        return aimRay(m_quad[std::max(0, std::min(3, tile))], u, v);
    case FisheyeViewMode::Panorama:
    case FisheyeViewMode::DoublePanorama:
    case FisheyeViewMode::HalfPanorama: {
        const double span = m_layout.mode == FisheyeViewMode::Panorama ? 360.0 : 180.0;
        const double azimuth = (m_layout.azimuth + (tile == 1 ? 180.0 : 0.0) + u * span) * kPi / 180.0;
        const double elevation = (m_layout.upper + v * (double(m_layout.lower) - m_layout.upper)) * kPi / 180.0;
        const Vec3d room{std::cos(elevation) * std::sin(azimuth), std::cos(elevation) * std::cos(azimuth),
                         -std::sin(elevation)};
        const Vec3d camera = mountToCamera(m_layout.mount, room);
        return {float(camera.x), float(camera.y), float(camera.z)};
    }
    case FisheyeViewMode::Perspective:
        break;
    }
    return viewRay(u, v);
}

void FisheyeProjection::tileToFisheye(int tile, float u, float v, float *x, float *y) const
{
    float r = 0.0f;
    float phi = 0.0f;
    rayToFisheye(tileRay(tile, u, v), x, y, &r, &phi);
}

int FisheyeProjection::tileColumns(FisheyeViewMode mode)
{
    return mode == FisheyeViewMode::Quad ? 2 : 1;
}

int FisheyeProjection::tileRows(FisheyeViewMode mode)
{
    return mode == FisheyeViewMode::Quad || mode == FisheyeViewMode::DoublePanorama ? 2 : 1;
}

void FisheyeProjection::project(float u, float v, float *x, float *y, float *r, float *phi) const
{
    if (m_layout.mode == FisheyeViewMode::Perspective) {
        rayToFisheye(viewRay(u, v), x, y, r, phi);
        return;
    }
    // The tile the point lies in, and the point in the tile's own unit square.
    const int columns = tileColumns(m_layout.mode);
    const int rows = tileRows(m_layout.mode);
    const int column = std::max(0, std::min(columns - 1, int(u * float(columns))));
    const int row = std::max(0, std::min(rows - 1, int(v * float(rows))));
    rayToFisheye(tileRay(row * columns + column, u * float(columns) - float(column), v * float(rows) - float(row)), x,
                 y, r, phi);
}

void FisheyeProjection::viewToFisheye(float u, float v, float *x, float *y) const
{
    float r = 0.0f;
    float phi = 0.0f;
    rayToFisheye(viewRay(u, v), x, y, &r, &phi);
}

bool FisheyeProjection::sample(float u, float v, float *x, float *y) const
{
    if (!isValid())
        return false;
    float r = 0.0f;
    float phi = 0.0f;
    project(u, v, x, y, &r, &phi);
    // r is in units of the frame width; the lens circle is where phi reaches half the lens field of view.
    return !(r > 1.0f || 2.0f * phi > m_lens.fov * kDegToRad || *x < 0.0f || *x > 1.0f || *y < 0.0f || *y > 1.0f);
}

FisheyeVec3 FisheyeProjection::lensRay(float x, float y) const
{
    // Undo the lens model: offset from the circle centre in units of the frame width.
    const float dx = x - m_lens.centerX / m_lens.width;
    const float dy = (y - (m_lens.height - 1.0f - m_lens.centerY) / m_lens.height) / (m_lens.width / m_lens.height);
    const float r = std::sqrt(dx * dx + dy * dy);
    const float theta = std::atan2(dy, dx);
    float phi = 0.0f;
    if (m_lens.projection == FisheyeLensProjection::Equidistant) {
        phi = r / (2.0f * m_lens.radius / m_lens.width) * (m_lens.fov * kDegToRad);
    } else {
        const float half = 0.5f * (m_lens.fov * kDegToRad);
        phi = lensAngle(m_lens.projection, r / (m_lens.radius / m_lens.width) * lensCurve(m_lens.projection, half));
    }

    // Unit ray at angle phi from the depth axis.
    const float s = std::sin(phi);
    return {s * std::cos(theta), std::cos(phi), s * std::sin(theta)};
}

bool FisheyeProjection::fisheyeToView(float x, float y, float *u, float *v) const
{
    if (!isValid() || m_lens.radius == 0.0f || m_dh == 0.0f)
        return false;

    // The rotations undone in reverse order.
    FisheyeVec3 p = lensRay(x, y);
    p = rotateZ(p, -m_camera.pan * kDegToRad);
    p = rotateX(p, -m_camera.tilt * kDegToRad);
    p = rotateY(p, -m_camera.roll * kDegToRad);
    if (!(p.y > 0.0f))
        return false;

    // Intersect with the image plane at depth 1 and express the hit in view units.
    const float px = p.x / p.y;
    const float pz = p.z / p.y;
    *u = (px + m_dh) / (2.0f * m_dh);
    *v = (pz + m_dv) / (2.0f * m_dv);
    return std::isfinite(*u) && std::isfinite(*v);
}

bool FisheyeProjection::isInsideLens(float x, float y) const
{
    if (!isValid())
        return false;
    const float dx = x - m_lens.centerX / m_lens.width;
    const float dy = (y - (m_lens.height - 1.0f - m_lens.centerY) / m_lens.height) / (m_lens.width / m_lens.height);
    return std::sqrt(dx * dx + dy * dy) <= m_lens.radius / m_lens.width;
}


FisheyeView FisheyeProjection::toCamera(FisheyeMount mount, const FisheyeView &room)
{
    if (mount == FisheyeMount::Wall)
        return room;
    return anglesOf(mountToCamera(mount, turned(room, {0, 1, 0})), mountToCamera(mount, turned(room, {1, 0, 0})),
                    room);
}

FisheyeView FisheyeProjection::fromCamera(FisheyeMount mount, const FisheyeView &camera)
{
    if (mount == FisheyeMount::Wall)
        return camera;
    return anglesOf(cameraToMount(mount, turned(camera, {0, 1, 0})), cameraToMount(mount, turned(camera, {1, 0, 0})),
                    camera);
}

const char *FisheyeProjection::mountName(FisheyeMount mount)
{
    switch (mount) {
    case FisheyeMount::Ceiling:
        return "ceiling";
    case FisheyeMount::Floor:
        return "floor";
    case FisheyeMount::Wall:
        break;
    }
    return "wall";
}

bool FisheyeProjection::mountFromName(const char *name, FisheyeMount *mount)
{
    for (FisheyeMount m : {FisheyeMount::Wall, FisheyeMount::Ceiling, FisheyeMount::Floor}) {
        if (name && std::strcmp(name, mountName(m)) == 0) {
            *mount = m;
            return true;
        }
    }
    return false;
}

const char *FisheyeProjection::projectionName(FisheyeLensProjection projection)
{
    switch (projection) {
    case FisheyeLensProjection::Equisolid:
        return "equisolid";
    case FisheyeLensProjection::Stereographic:
        return "stereographic";
    case FisheyeLensProjection::Orthographic:
        return "orthographic";
    case FisheyeLensProjection::Equidistant:
        break;
    }
    return "equidistant";
}

bool FisheyeProjection::projectionFromName(const char *name, FisheyeLensProjection *projection)
{
    for (FisheyeLensProjection p : {FisheyeLensProjection::Equidistant, FisheyeLensProjection::Equisolid,
                                    FisheyeLensProjection::Stereographic, FisheyeLensProjection::Orthographic}) {
        if (name && std::strcmp(name, projectionName(p)) == 0) {
            *projection = p;
            return true;
        }
    }
    return false;
}

const char *FisheyeProjection::modeName(FisheyeViewMode mode)
{
    switch (mode) {
    case FisheyeViewMode::Panorama:
        return "panorama";
    case FisheyeViewMode::DoublePanorama:
        return "double-panorama";
    case FisheyeViewMode::Quad:
        return "quad";
    case FisheyeViewMode::HalfPanorama:
        return "half-panorama";
    case FisheyeViewMode::Perspective:
        break;
    }
    return "perspective";
}

bool FisheyeProjection::modeFromName(const char *name, FisheyeViewMode *mode)
{
    for (FisheyeViewMode m : {FisheyeViewMode::Perspective, FisheyeViewMode::Panorama, FisheyeViewMode::DoublePanorama,
                              FisheyeViewMode::Quad, FisheyeViewMode::HalfPanorama}) {
        if (name && std::strcmp(name, modeName(m)) == 0) {
            *mode = m;
            return true;
        }
    }
    return false;
}

bool FisheyeProjection::aim(float x, float y, float u, float v, float *pan, float *tilt) const
{
    if (!isValid() || m_lens.radius == 0.0f || m_dh == 0.0f)
        return false;
    // Wanted: rotateZ(rotateX(c, tilt), pan) = d, with c the camera's ray through (u, v) after roll and d
    // the ray the lens images at (x, y), in the room's frame of the mount. Rotating about x leaves |c| and
    // rotating about z leaves the z component, so tilt alone must give c the z component of d; pan then
    // turns it about z onto d.
    const FisheyeVec3 ray = lensRay(x, y);
    const Vec3d room = cameraToMount(m_mount, {ray.x, ray.y, ray.z});
    const FisheyeVec3 d{float(room.x), float(room.y), float(room.z)};
    FisheyeVec3 p{-m_dh + u * 2.0f * m_dh, 1.0f, -m_dv + v * 2.0f * m_dv};
    p = rotateY(p, m_view.roll * kDegToRad);
    const double norm = std::sqrt(double(p.x) * p.x + double(p.y) * p.y + double(p.z) * p.z);
    const double cx = p.x / norm;
    const double cy = p.y / norm;
    const double cz = p.z / norm;

    // -cy sin t + cz cos t = rho cos(t + beta).
    const double rho = std::sqrt(cy * cy + cz * cz);
    if (!(rho > 0.0))
        return false;
    double ratio = d.z / rho;
    if (std::fabs(ratio) > 1.0 + 1e-5)
        return false;
    ratio = std::max(-1.0, std::min(1.0, ratio));
    const double beta = std::atan2(cy, cz);
    const double a = std::acos(ratio);
    const double t1 = wrapDegrees(a - beta);
    const double t2 = wrapDegrees(-a - beta);
    const double current = m_view.tilt * kPi / 180.0;
    const double t =
        std::fabs(wrapDegrees(t1 * kPi / 180.0 - current)) <= std::fabs(wrapDegrees(t2 * kPi / 180.0 - current)) ? t1
                                                                                                                 : t2;
    const double tr = t * kPi / 180.0;
    const double qx = cx;
    const double qy = cy * std::cos(tr) + cz * std::sin(tr);

    // rotateZ turns (x, y) by -pan: pan = angle of q - angle of d.
    double newPan = m_view.pan;
    if (std::hypot(qx, qy) > 1e-6 && std::hypot(double(d.x), double(d.y)) > 1e-6)
        newPan = wrapDegrees(std::atan2(qy, qx) - std::atan2(double(d.y), double(d.x)));
    *pan = float(newPan);
    *tilt = float(t);
    return std::isfinite(*pan) && std::isfinite(*tilt);
}

float FisheyeProjection::sourcePixelsPerViewPixel(float u, float v, float outWidth) const
{
    if (!isValid() || !(outWidth > 0.0f))
        return 0.0f;
    const float outHeight = outWidth / m_view.ratio;
    const float du = 1.0f / outWidth;
    const float dv = 1.0f / outHeight;
    float x0 = 0.0f, y0 = 0.0f, xu = 0.0f, yu = 0.0f, xv = 0.0f, yv = 0.0f;
    viewToFisheye(u - 0.5f * du, v, &x0, &y0);
    viewToFisheye(u + 0.5f * du, v, &xu, &yu);
    const float horizontal = std::hypot((xu - x0) * m_lens.width, (yu - y0) * m_lens.height);
    viewToFisheye(u, v - 0.5f * dv, &x0, &y0);
    viewToFisheye(u, v + 0.5f * dv, &xv, &yv);
    const float vertical = std::hypot((xv - x0) * m_lens.width, (yv - y0) * m_lens.height);
    return 0.5f * (horizontal + vertical);
}
