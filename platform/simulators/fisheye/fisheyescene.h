#pragma once

#include <QByteArray>
#include <QPointF>
#include <cstdint>

// Lens and frame of the synthetic fisheye camera. Lengths are in pixels; the
// centre's vertical coordinate is measured from the bottom of the frame, as the
// defish shader and the overlay measure it: the centre lies height - 1 - centerY
// pixels below the frame's top edge.
struct FisheyeLens
{
    int width = 1280;
    int height = 960;
    double centerX = 640;
    double centerY = 480;
    double radius = 480;
    double fov = 180; // degrees across the whole circle
};

// A room seen from its middle through an equidistant fisheye lens: the camera
// looks at the floor, every face carries a grid of straight lines, so the
// picture shows the typical bent lines that dewarping straightens again.
//
// The lens model is the one the defish shader inverts: a ray at angle phi from
// the viewing axis lands at distance phi / fov * 2 * radius from the centre.
class FisheyeScene
{
public:
    explicit FisheyeScene(const FisheyeLens &lens);

    const FisheyeLens &lens() const { return m_lens; }

    // One I420 frame: the static room plus a marker that moves along a straight
    // line on the floor with the frame number.
    QByteArray frame(std::int64_t number) const;
    int frameSize() const { return m_base.size(); }

    // Where a direction in camera space (x right, y along the viewing axis,
    // z up) lands in the frame, in pixel coordinates with rows counted from
    // the top; false when it lies outside the lens circle.
    bool project(double x, double y, double z, QPointF *pixel) const;

    // The RGB colour the room shows at a pixel (rows from the top).
    static constexpr std::uint32_t kOutside = 0x000000;
    std::uint32_t colourAt(int column, int row) const;

private:
    void renderBase();
    void paintDisc(QByteArray &frame, QPointF centre, double radius, std::uint8_t y, std::uint8_t u,
                   std::uint8_t v) const;

    FisheyeLens m_lens;
    QByteArray m_base;
};
