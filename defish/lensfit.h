#pragma once

// Finds the lens circle of a fisheye frame: the boundary between the dark surround and the picture.
// Plain C++17, no Qt, so that it runs on any grey picture (tests, benchmarks, the program's frames).
//
// Method: the dark level and a threshold from the picture's histogram; a rough centre (the centroid
// of the bright pixels); along rays from that centre, scanning inwards from the frame's edge, the
// first step from dark to bright, placed to a fraction of a pixel at half the step's height; a
// circle fitted to those points by RANSAC and least squares (algebraic, then geometric); once more
// from the fitted centre. Rays that meet the frame's edge still bright (a circle cut by the frame)
// give no point, so a partly visible circle is found from its visible arcs.
//
// Coordinates are pixels from the image's top-left corner, pixel (i, j) covering [i, i+1) x [j, j+1).

#include <cstdint>
#include <string>
#include <vector>

struct LensFitResult
{
    bool found = false;
    double centerX = 0.0;
    double centerY = 0.0;
    double radius = 0.0;
    // Boundary points found on the last pass, those on the circle, and their distance from it.
    int points = 0;
    int inliers = 0;
    double rms = 0.0;
    // Why no circle was found; empty when one was.
    std::string reason;
};

class LensFit
{
public:
    struct Point
    {
        double x = 0.0;
        double y = 0.0;
    };
    struct Circle
    {
        double x = 0.0;
        double y = 0.0;
        double r = 0.0;
    };

    // An 8-bit grey picture, borrowed for the lifetime of this object.
    LensFit(const uint8_t *grey, int width, int height, int stride);

    LensFitResult fit() const;

    // Rays cast per pass.
    static constexpr int kRays = 360;

private:
    float at(double x, double y) const;
    std::vector<Point> boundary(double cx, double cy, std::vector<double> *angles) const;
    bool ransac(const std::vector<Point> &points, double tolerance, Circle *circle) const;
    static bool leastSquares(const std::vector<Point> &points, Circle *circle);
    static void geometricRefine(const std::vector<Point> &points, Circle *circle);
    static std::vector<int> inliersOf(const std::vector<Point> &points, const Circle &circle, double tolerance);
    double ringMean(const Circle &circle, double offset, int *count) const;
    // How many of the frame's four corners are dark.
    int darkCorners() const;

    const uint8_t *m_grey;
    int m_width;
    int m_height;
    int m_stride;
    // From the histogram, in the constructor.
    double m_dark = 0.0;
    double m_threshold = 0.0;
    double m_darkFraction = 0.0;
    double m_brightFraction = 0.0;
    double m_centroidX = 0.0;
    double m_centroidY = 0.0;
};
