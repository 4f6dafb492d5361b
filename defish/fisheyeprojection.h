#pragma once

#include <cmath>

// Fisheye-to-perspective projection shared by everything that dewarps: the overlay item, the
// CPU reference of the tests and the re-streaming server's remap table. It is the exact arithmetic
// of the defish fragment shader (DefishShader::fragment()), in 32-bit floats like the shader, so that
// the picture on screen, the overlay drawn over the raw video and the streamed picture never drift
// apart. Plain C++17, no Qt: a separate program can compile fisheyeprojection.cpp or link the
// object library quillon_fisheye.
//
// Coordinates:
//  - view (u, v): the perspective picture in the unit square, u = 0 left edge, u = 1 right edge,
//    v = 0 upper edge, v = 1 lower edge (the shader's v_texcoord);
//  - fisheye (x, y): position in the fisheye frame normalised to its width and height (the shader's
//    texture coordinate; for the overlay, the item's width and height). The centre of the lens
//    circle lies at (centerX / width, (height - 1 - centerY) / height).
//  - rays: right = x, depth (viewing direction) = y, down = z. z grows with the frame's rows, so a
//    ray through the view's upper edge points towards the top of the fisheye frame and the picture
//    comes out upright, as a perspective camera pointed the same way would see it.
// With roll = tilt = pan = 0 the view looks along the lens axis with its top towards the top of the
// frame; pan turns it left and right (about z), tilt up and down (about x: positive looks up, towards
// the top of the frame), roll turns the picture about its own centre.
//
// Those are the camera's angles, what objects.data stores and the shader and the server take. How the
// camera hangs (FisheyeMount) gives the operator angles of the room instead: pan turns about the
// room's vertical, tilt is the elevation above the horizon, roll turns the picture off the level. A
// wall camera's room angles are its camera angles.

struct FisheyeVec3
{
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// How the lens maps a ray's angle off its axis to its distance from the circle's centre: in
// proportion to the angle (equidistant: every file that names none means this one), to the sine of
// half the angle (equisolid), the tangent of half the angle (stereographic) or the sine of the angle
// (orthographic, a field of view of at most 180 degrees). Each reaches the rim of the circle at half the
// lens field of view.
enum class FisheyeLensProjection
{
    Equidistant = 0,
    Equisolid = 1,
    Stereographic = 2,
    Orthographic = 3,
};

// The lens: frame size, circle centre and radius in pixels, field of view across the circle in degrees.
struct FisheyeLens
{
    // A stream's lens centre and radius are kept in whole video pixels, rounded to the nearest: what
    // the defish window shows, what objects.data holds and what a stored real loads as.
    static int wholePixels(double value)
    {
        return std::isfinite(value) ? int(std::lround(value)) : 0;
    }

    float width = 0.0f;
    float height = 0.0f;
    float centerX = 0.0f;
    float centerY = 0.0f;
    float radius = 0.0f;
    float fov = 0.0f;
    FisheyeLensProjection projection = FisheyeLensProjection::Equidistant;
};

// The virtual camera: direction in degrees, horizontal field of view in degrees, aspect ratio
// (width / height) of the perspective picture.
struct FisheyeView
{
    float roll = 0.0f;
    float tilt = 0.0f;
    float pan = 0.0f;
    float fov = 0.0f;
    float ratio = 1.0f;
};

// How the camera hangs, and so which way is up in the room: a wall camera looks along the horizon with
// the frame's top up; a ceiling camera looks down, the rim of its circle is the horizon and up points
// away from the circle's centre; a floor camera looks up and up points towards the centre.
enum class FisheyeMount
{
    Wall = 0,
    Ceiling = 1,
    Floor = 2,
};

// What a picture shows: one perspective view (the projection's view), or
//  - Panorama: the whole ring around the room's vertical, 360 degrees of azimuth from the left edge;
//  - DoublePanorama: the same ring cut in two halves of 180 degrees, the first above the second;
//  - Quad: four perspective views in a 2x2 picture (left to right, top to bottom), each of the
//    picture's shape;
//  - HalfPanorama: 180 degrees of azimuth from the left edge, for a camera on a wall.
// Panoramas are equirectangular: azimuth grows with the column, elevation falls with the row, both in
// proportion. Azimuth and elevation are angles of the room (FisheyeMount): azimuth 0 is where a view
// of pan 0 looks and grows the way pan does, elevation is the tilt of such a view.
enum class FisheyeViewMode
{
    Perspective = 0,
    Panorama = 1,
    DoublePanorama = 2,
    Quad = 3,
    HalfPanorama = 4,
};

struct FisheyeLayout
{
    FisheyeViewMode mode = FisheyeViewMode::Perspective;
    // Panoramas: the mount whose room angles they are in (a layout travels with camera angles for the
    // other modes, so it names its own); azimuth of the left edge; elevations of the upper and lower
    // edges; degrees.
    FisheyeMount mount = FisheyeMount::Wall;
    float azimuth = 0.0f;
    float upper = 0.0f;
    float lower = -90.0f;
    // Quad: the four views in camera angles (as stored, whatever the mount); their ratio is ignored, each
    // quarter takes the picture's.
    FisheyeView quad[4];
};

class FisheyeProjection
{
public:
    // Degrees to radians, as written in the shader (the same 32-bit float as 0.017453292).
    static constexpr float kDegToRad = 0.0174532925f;

    FisheyeProjection() = default;
    // view holds the room angles of the mount (for a wall camera, the camera's own).
    FisheyeProjection(const FisheyeLens &lens, const FisheyeView &view, FisheyeMount mount = FisheyeMount::Wall,
                      const FisheyeLayout &layout = FisheyeLayout());

    const FisheyeLens &lens() const { return m_lens; }
    // The view in room angles, as set.
    const FisheyeView &view() const { return m_view; }
    // The same view in camera angles: what is stored and what the shader draws.
    const FisheyeView &cameraView() const { return m_camera; }
    FisheyeMount mount() const { return m_mount; }
    const FisheyeLayout &layout() const { return m_layout; }
    void setLens(const FisheyeLens &lens);
    void setView(const FisheyeView &view);
    void setLayout(const FisheyeLayout &layout);

    // Room angles of a mount to camera angles and back; field of view and ratio pass unchanged. A wall
    // mount returns the angles as given. Camera angles come back with tilt within -90 to 90 and pan and
    // roll within -180 to 180; where a view looks straight along the frame's vertical (camera tilt of
    // ±90), pan and roll turn about one axis and roll takes the whole turn. Room angles come back in
    // the same ranges.
    static FisheyeView toCamera(FisheyeMount mount, const FisheyeView &room);
    static FisheyeView fromCamera(FisheyeMount mount, const FisheyeView &camera);
    // The mount's name as objects.data keeps it ("wall", "ceiling", "floor"), and back; false for a
    // name that is none of these.
    static const char *mountName(FisheyeMount mount);
    static bool mountFromName(const char *name, FisheyeMount *mount);
    // The same for lens projections ("equidistant", "equisolid", "stereographic", "orthographic") and
    // view modes ("perspective", "panorama", "double-panorama", "quad", "half-panorama").
    static const char *projectionName(FisheyeLensProjection projection);
    static bool projectionFromName(const char *name, FisheyeLensProjection *projection);
    static const char *modeName(FisheyeViewMode mode);
    static bool modeFromName(const char *name, FisheyeViewMode *mode);

    // The parts of a mode's picture, as columns x rows of equal tiles: 2 x 2 for a quad, 1 x 2 for a double
    // panorama, 1 x 1 for the others. A tile is numbered left to right, top to bottom.
    static int tileColumns(FisheyeViewMode mode);
    static int tileRows(FisheyeViewMode mode);
    int tileCount() const { return tileColumns(m_layout.mode) * tileRows(m_layout.mode); }
    // Point (u, v) of tile `tile`, in the tile's own unit square, to the fisheye position (x, y), with no
    // range test: what the overlay draws for each tile's outline. Meaningful only when isValid().
    void tileToFisheye(int tile, float u, float v, float *x, float *y) const;

    // False when the shader's arithmetic would divide by zero or has nothing to show: a frame width or
    // height, lens field of view or view ratio that is not positive, or any setting that is not finite.
    // The shader draws its missing colour then; the overlay draws nothing.
    bool isValid() const;

    // The shader's rotations (angle in radians).
    static FisheyeVec3 rotateX(FisheyeVec3 p, float a);
    static FisheyeVec3 rotateY(FisheyeVec3 p, float a);
    static FisheyeVec3 rotateZ(FisheyeVec3 p, float a);

    // Ray through view point (u, v) of the perspective view, turned by roll, tilt and pan in this order.
    FisheyeVec3 viewRay(float u, float v) const;

    // View point (u, v) of the perspective view to the fisheye position (x, y), with no range test.
    // Meaningful only when isValid().
    void viewToFisheye(float u, float v, float *x, float *y) const;

    // The picture's pixel at (u, v), in the layout's mode: true with (x, y) the texture position to
    // sample, or false where the shader draws its missing colour (invalid setting, ray more than half
    // the lens field of view off the lens axis, or a position outside the frame).
    bool sample(float u, float v, float *x, float *y) const;

    // Inverse direction: the view point (u, v) whose ray lands on fisheye position (x, y). False when
    // that ray points behind the virtual camera, or the setting is invalid or has a view field of view
    // or lens radius of 0. (u, v) may lie outside the unit square: the fisheye point is outside the view.
    bool fisheyeToView(float x, float y, float *u, float *v) const;

    // Unit ray, in the lens's own frame (before the view's rotations), that the lens images at fisheye
    // position (x, y). Meaningful only when isValid() and the lens radius is not 0.
    FisheyeVec3 lensRay(float x, float y) const;

    // Whether fisheye position (x, y) lies inside the lens circle (false on an invalid setting).
    bool isInsideLens(float x, float y) const;

    // Pan and tilt, room angles in degrees within -180 to 180, that bring fisheye position (x, y) to view
    // point (u, v) while roll and the view's field of view stay: what a drag on the picture and a click on the
    // fisheye frame need. Of the two tilts that reach it, the one nearer the current tilt, so that a drag
    // moves smoothly; the current pan stays where any pan would do. False on an invalid setting, a lens
    // radius or view field of view of 0, or where no tilt brings the point to (u, v).
    bool aim(float x, float y, float u, float v, float *pan, float *tilt) const;

    // Source pixels behind one output pixel at view point (u, v): how far, in pixels of the lens's frame,
    // the fisheye position moves for one pixel step of a view outWidth pixels wide (the mean of the
    // horizontal and vertical steps). Below 1 the view magnifies past what the source holds. 0 on an
    // invalid setting or an outWidth that is not positive.
    float sourcePixelsPerViewPixel(float u, float v, float outWidth) const;

private:
    // A perspective view as drawn: camera angles and the half extents of the view on the plane at depth 1.
    struct Aim
    {
        FisheyeView camera;
        float dh = 0.0f;
        float dv = 0.0f;
    };

    FisheyeLens m_lens;
    FisheyeView m_view;
    FisheyeView m_camera;
    FisheyeMount m_mount = FisheyeMount::Wall;
    FisheyeLayout m_layout;
    // Derived once per setting: half extents of the view on the plane at depth 1.
    float m_dh = 0.0f;
    float m_dv = 0.0f;
    // The quad's four views.
    Aim m_quad[4];
    void update();
    static FisheyeVec3 aimRay(const Aim &aim, float u, float v);
    // A ray of the camera's frame to the fisheye position; r in units of the frame width, phi its angle
    // off the lens axis.
    void rayToFisheye(const FisheyeVec3 &p, float *x, float *y, float *r, float *phi) const;
    // The camera ray behind point (u, v) of tile `tile`.
    FisheyeVec3 tileRay(int tile, float u, float v) const;
    void project(float u, float v, float *x, float *y, float *r, float *phi) const;
};
