#include "platform/simulators/fisheye/fisheyescene.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kGridStep = 0.25;      // grid spacing on a face of half-size 1
constexpr double kLineHalfWidth = 0.01; // half width of a grid line
constexpr double kEdgeHalfWidth = 0.025;

struct Rgb
{
    int r, g, b;
};

Rgb faceColour(int face)
{
    switch (face) {
    case 0:
        return {225, 225, 215}; // floor, ahead along the viewing axis
    case 1:
        return {120, 170, 230}; // wall at +x
    case 2:
        return {230, 170, 120}; // wall at -x
    case 3:
        return {140, 210, 140}; // wall at +z
    case 4:
        return {210, 140, 210}; // wall at -z
    default:
        return {90, 90, 90}; // ceiling, behind the camera
    }
}

bool nearLine(double value, double halfWidth)
{
    const double cell = value / kGridStep;
    const double distance = std::fabs(cell - std::round(cell)) * kGridStep;
    return distance < halfWidth;
}

// The colour the room shows along a ray from its middle (cube of half-size 1).
Rgb roomColour(double x, double y, double z)
{
    const double ax = std::fabs(x), ay = std::fabs(y), az = std::fabs(z);
    int face;
    double a, b;
    if (ay >= ax && ay >= az) {
        face = y > 0 ? 0 : 5;
        a = x / ay;
        b = z / ay;
    } else if (ax >= az) {
        face = x > 0 ? 1 : 2;
        a = y / ax;
        b = z / ax;
    } else {
        face = z > 0 ? 3 : 4;
        a = x / az;
        b = y / az;
    }
    // Cube edges: thick dark lines where two faces meet.
    if (1.0 - std::fabs(a) < kEdgeHalfWidth || 1.0 - std::fabs(b) < kEdgeHalfWidth)
        return {20, 20, 20};
    if (nearLine(a, kLineHalfWidth) || nearLine(b, kLineHalfWidth))
        return {35, 35, 60};
    return faceColour(face);
}

std::uint8_t clampByte(double v)
{
    return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0) + 0.5);
}

// BT.601 limited range, as videoconvert and the decoders assume for I420.
void toYuv(Rgb c, std::uint8_t *y, std::uint8_t *u, std::uint8_t *v)
{
    *y = clampByte(16 + 0.257 * c.r + 0.504 * c.g + 0.098 * c.b);
    *u = clampByte(128 - 0.148 * c.r - 0.291 * c.g + 0.439 * c.b);
    *v = clampByte(128 + 0.439 * c.r - 0.368 * c.g - 0.071 * c.b);
}

} // namespace

FisheyeScene::FisheyeScene(const FisheyeLens &lens) : m_lens(lens)
{
    m_lens.width = std::max(16, m_lens.width & ~1);
    m_lens.height = std::max(16, m_lens.height & ~1);
    m_lens.radius = std::max(1.0, m_lens.radius);
    m_lens.fov = std::clamp(m_lens.fov, 1.0, 360.0);
    renderBase();
}

std::uint32_t FisheyeScene::colourAt(int column, int row) const
{
    const double dx = column + 0.5 - m_lens.centerX;
    const double dy = (m_lens.height - 1.0 - (row + 0.5)) - m_lens.centerY; // upwards
    const double distance = std::sqrt(dx * dx + dy * dy);
    if (distance > m_lens.radius)
        return kOutside;
    const double phi = distance / (2.0 * m_lens.radius) * m_lens.fov * kPi / 180.0;
    const double theta = std::atan2(dy, dx);
    const Rgb c = roomColour(std::sin(phi) * std::cos(theta), std::cos(phi), std::sin(phi) * std::sin(theta));
    return (std::uint32_t(c.r) << 16) | (std::uint32_t(c.g) << 8) | std::uint32_t(c.b);
}

bool FisheyeScene::project(double x, double y, double z, QPointF *pixel) const
{
    const double phi = std::atan2(std::sqrt(x * x + z * z), y);
    const double distance = phi / (m_lens.fov * kPi / 180.0) * 2.0 * m_lens.radius;
    if (distance > m_lens.radius)
        return false;
    const double theta = std::atan2(z, x);
    const double px = m_lens.centerX + distance * std::cos(theta);
    const double upwards = m_lens.centerY + distance * std::sin(theta);
    *pixel = QPointF(px, m_lens.height - 1.0 - upwards);
    return true;
}

void FisheyeScene::renderBase()
{
    const int w = m_lens.width, h = m_lens.height;
    const int chromaW = w / 2, chromaH = h / 2;
    m_base = QByteArray(w * h + 2 * chromaW * chromaH, Qt::Uninitialized);
    auto *yPlane = reinterpret_cast<std::uint8_t *>(m_base.data());
    std::uint8_t *uPlane = yPlane + w * h;
    std::uint8_t *vPlane = uPlane + chromaW * chromaH;

    for (int row = 0; row < h; ++row) {
        for (int col = 0; col < w; ++col) {
            const std::uint32_t rgb = colourAt(col, row);
            std::uint8_t y, u, v;
            toYuv({int(rgb >> 16), int((rgb >> 8) & 0xff), int(rgb & 0xff)}, &y, &u, &v);
            yPlane[row * w + col] = y;
            // Chroma from the top-left pixel of each 2x2 block.
            if ((row & 1) == 0 && (col & 1) == 0) {
                uPlane[(row / 2) * chromaW + col / 2] = u;
                vPlane[(row / 2) * chromaW + col / 2] = v;
            }
        }
    }
}

void FisheyeScene::paintDisc(QByteArray &frame, QPointF centre, double radius, std::uint8_t y, std::uint8_t u,
                             std::uint8_t v) const
{
    const int w = m_lens.width, h = m_lens.height;
    const int chromaW = w / 2, chromaH = h / 2;
    auto *yPlane = reinterpret_cast<std::uint8_t *>(frame.data());
    std::uint8_t *uPlane = yPlane + w * h;
    std::uint8_t *vPlane = uPlane + chromaW * chromaH;
    const int top = std::max(0, int(centre.y() - radius)), bottom = std::min(h - 1, int(centre.y() + radius));
    const int left = std::max(0, int(centre.x() - radius)), right = std::min(w - 1, int(centre.x() + radius));
    for (int row = top; row <= bottom; ++row) {
        for (int col = left; col <= right; ++col) {
            const double dx = col + 0.5 - centre.x(), dy = row + 0.5 - centre.y();
            if (dx * dx + dy * dy > radius * radius)
                continue;
            yPlane[row * w + col] = y;
            uPlane[(row / 2) * chromaW + col / 2] = u;
            vPlane[(row / 2) * chromaW + col / 2] = v;
        }
    }
}

QByteArray FisheyeScene::frame(std::int64_t number) const
{
    QByteArray frame = m_base;
    frame.detach();
    // A marker travels back and forth along a straight line across the floor,
    // once every eight seconds at 15 frames per second.
    const double phase = double(number % 120) / 120.0;
    const double along = phase < 0.5 ? -0.9 + 3.6 * phase : 2.7 - 3.6 * phase;
    QPointF pixel;
    if (project(along, 1.0, 0.5 * along, &pixel)) {
        std::uint8_t y, u, v;
        toYuv({230, 30, 30}, &y, &u, &v);
        paintDisc(frame, pixel, std::max(4.0, m_lens.radius / 30.0), y, u, v);
    }
    return frame;
}
