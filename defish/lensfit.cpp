#include "defish/lensfit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

namespace {

constexpr double kPi = 3.14159265358979323846;
// Fewer boundary points than this say nothing about a circle.
constexpr int kMinPoints = 16;
// Ray samples per pixel: half-pixel steps, interpolated.
constexpr double kStep = 0.5;
// Grey steps below this are noise, not the edge of a picture.
constexpr double kMinStep = 10.0;
// The circle must show on arcs spread over at least this many of 36 sectors (90 degrees in all).
constexpr int kSectors = 36;
constexpr int kMinSectors = 9;

// Solves the 3x3 system a x = b by Gaussian elimination with partial pivoting; false if singular.
bool solve3(std::array<std::array<double, 3>, 3> a, std::array<double, 3> b, std::array<double, 3> *x)
{
    for (int col = 0; col < 3; ++col) {
        int pivot = col;
        for (int row = col + 1; row < 3; ++row) {
            if (std::fabs(a[row][col]) > std::fabs(a[pivot][col]))
                pivot = row;
        }
        if (std::fabs(a[pivot][col]) < 1e-12)
            return false;
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (int row = col + 1; row < 3; ++row) {
            const double f = a[row][col] / a[col][col];
            for (int k = col; k < 3; ++k)
                a[row][k] -= f * a[col][k];
            b[row] -= f * b[col];
        }
    }
    for (int row = 2; row >= 0; --row) {
        double sum = b[row];
        for (int k = row + 1; k < 3; ++k)
            sum -= a[row][k] * (*x)[k];
        (*x)[row] = sum / a[row][row];
    }
    return true;
}

// The circle through three points; false when they (nearly) lie on a line.
bool circleThrough(const LensFit::Point &a, const LensFit::Point &b, const LensFit::Point &c, LensFit::Circle *circle)
{
    const double bx = b.x - a.x, by = b.y - a.y, cx = c.x - a.x, cy = c.y - a.y;
    const double d = 2.0 * (bx * cy - by * cx);
    if (std::fabs(d) < 1e-9)
        return false;
    const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    const double ux = (cy * b2 - by * c2) / d;
    const double uy = (bx * c2 - cx * b2) / d;
    circle->x = a.x + ux;
    circle->y = a.y + uy;
    circle->r = std::sqrt(ux * ux + uy * uy);
    return true;
}

} // namespace

LensFit::LensFit(const uint8_t *grey, int width, int height, int stride)
    : m_grey(grey), m_width(width), m_height(height), m_stride(stride)
{
    if (!m_grey || m_width <= 0 || m_height <= 0 || m_stride < m_width)
        return;
    std::array<uint64_t, 256> histogram{};
    for (int y = 0; y < m_height; ++y) {
        const uint8_t *line = m_grey + size_t(y) * size_t(m_stride);
        for (int x = 0; x < m_width; ++x)
            ++histogram[line[x]];
    }
    const uint64_t total = uint64_t(m_width) * uint64_t(m_height);
    // The dark level: the darkest percent, so that noise in the surround does not set it.
    uint64_t seen = 0;
    int dark = 0;
    for (; dark < 255; ++dark) {
        seen += histogram[dark];
        if (seen * 100 >= total)
            break;
    }
    // The picture's level: the median of what is clearly brighter than the surround.
    const int clearly = std::min(255, dark + int(kMinStep));
    uint64_t brightCount = 0;
    for (int v = clearly; v < 256; ++v)
        brightCount += histogram[v];
    int bright = clearly;
    for (uint64_t half = 0; bright < 255; ++bright) {
        half += histogram[bright];
        if (half * 2 >= brightCount)
            break;
    }
    m_dark = dark;
    m_threshold = dark + std::max(kMinStep, 0.1 * (bright - dark));

    uint64_t darkCount = 0, litCount = 0;
    double sumX = 0.0, sumY = 0.0;
    for (int y = 0; y < m_height; ++y) {
        const uint8_t *line = m_grey + size_t(y) * size_t(m_stride);
        uint64_t lineCount = 0;
        double lineX = 0.0;
        for (int x = 0; x < m_width; ++x) {
            if (line[x] >= m_threshold) {
                ++lineCount;
                lineX += x;
            }
        }
        litCount += lineCount;
        sumX += lineX + 0.5 * double(lineCount);
        sumY += (y + 0.5) * double(lineCount);
    }
    darkCount = total - litCount;
    m_darkFraction = double(darkCount) / double(total);
    m_brightFraction = double(litCount) / double(total);
    if (litCount > 0) {
        m_centroidX = sumX / double(litCount);
        m_centroidY = sumY / double(litCount);
    }
}

float LensFit::at(double x, double y) const
{
    // Bilinear between pixel centres.
    const double fx = std::clamp(x - 0.5, 0.0, double(m_width - 1));
    const double fy = std::clamp(y - 0.5, 0.0, double(m_height - 1));
    const int x0 = std::min(int(fx), m_width - 1), y0 = std::min(int(fy), m_height - 1);
    const int x1 = std::min(x0 + 1, m_width - 1), y1 = std::min(y0 + 1, m_height - 1);
    const double ax = fx - x0, ay = fy - y0;
    const uint8_t *l0 = m_grey + size_t(y0) * size_t(m_stride);
    const uint8_t *l1 = m_grey + size_t(y1) * size_t(m_stride);
    const double top = l0[x0] + ax * (l0[x1] - l0[x0]);
    const double bottom = l1[x0] + ax * (l1[x1] - l1[x0]);
    return float(top + ay * (bottom - top));
}

std::vector<LensFit::Point> LensFit::boundary(double cx, double cy, std::vector<double> *angles) const
{
    std::vector<Point> points;
    std::vector<float> samples;
    const double lo = 0.5, hiX = m_width - 0.5, hiY = m_height - 0.5;
    for (int k = 0; k < kRays; ++k) {
        const double a = 2.0 * kPi * k / kRays;
        const double dx = std::cos(a), dy = std::sin(a);
        // How far the ray runs inside the pixel centres.
        double tmax = 1e30;
        if (dx > 1e-9)
            tmax = std::min(tmax, (hiX - cx) / dx);
        else if (dx < -1e-9)
            tmax = std::min(tmax, (lo - cx) / dx);
        if (dy > 1e-9)
            tmax = std::min(tmax, (hiY - cy) / dy);
        else if (dy < -1e-9)
            tmax = std::min(tmax, (lo - cy) / dy);
        if (!(tmax > 4.0))
            continue;
        // Samples from the frame's edge inwards.
        const int n = int(tmax / kStep);
        samples.resize(size_t(n) + 1);
        for (int j = 0; j <= n; ++j) {
            const double t = tmax - j * kStep;
            samples[size_t(j)] = at(cx + t * dx, cy + t * dy);
        }
        // The edge of the frame must be dark here; a ray that starts bright crosses no boundary.
        if (samples[0] >= m_threshold || samples[1] >= m_threshold)
            continue;
        int j = 1;
        while (j < n && !(samples[size_t(j)] >= m_threshold && samples[size_t(j + 1)] >= m_threshold))
            ++j;
        if (j >= n)
            continue;
        // Half way up the step, between the surround just outside and the picture within a pixel
        // inside: a dim rim (vignetting, a dark line) before brighter picture is the edge already.
        const int from = std::max(0, j - 3);
        const int to = std::min(n, j + 2);
        const double outside = samples[size_t(from)];
        double inside = samples[size_t(j)];
        for (int i = j; i <= to; ++i)
            inside = std::max(inside, double(samples[size_t(i)]));
        const double half = 0.5 * (outside + inside);
        int i = from + 1;
        while (i < to && samples[size_t(i)] < half)
            ++i;
        const double v0 = samples[size_t(i - 1)], v1 = samples[size_t(i)];
        const double frac = v1 > v0 ? std::clamp((half - v0) / (v1 - v0), 0.0, 1.0) : 0.0;
        const double t = tmax - (i - 1 + frac) * kStep;
        points.push_back({cx + t * dx, cy + t * dy});
        if (angles)
            angles->push_back(a);
    }
    return points;
}

std::vector<int> LensFit::inliersOf(const std::vector<Point> &points, const Circle &circle, double tolerance)
{
    std::vector<int> inliers;
    for (size_t i = 0; i < points.size(); ++i) {
        const double d = std::hypot(points[i].x - circle.x, points[i].y - circle.y) - circle.r;
        if (std::fabs(d) <= tolerance)
            inliers.push_back(int(i));
    }
    return inliers;
}

bool LensFit::ransac(const std::vector<Point> &points, double tolerance, Circle *circle) const
{
    // A fixed seed: the same picture always gives the same circle.
    std::minstd_rand random(12345);
    std::uniform_int_distribution<size_t> pick(0, points.size() - 1);
    size_t best = 0;
    const double largest = std::hypot(double(m_width), double(m_height));
    for (int round = 0; round < 400; ++round) {
        const size_t a = pick(random), b = pick(random), c = pick(random);
        if (a == b || b == c || a == c)
            continue;
        Circle candidate;
        if (!circleThrough(points[a], points[b], points[c], &candidate) || candidate.r > largest)
            continue;
        const size_t count = inliersOf(points, candidate, tolerance).size();
        if (count > best) {
            best = count;
            *circle = candidate;
        }
    }
    return best >= 3;
}

bool LensFit::leastSquares(const std::vector<Point> &points, Circle *circle)
{
    // x^2 + y^2 + D x + E y + F = 0 about the points' mean, for conditioning.
    if (points.size() < 3)
        return false;
    double mx = 0.0, my = 0.0;
    for (const Point &p : points) {
        mx += p.x;
        my += p.y;
    }
    mx /= double(points.size());
    my /= double(points.size());
    std::array<std::array<double, 3>, 3> a{};
    std::array<double, 3> b{};
    for (const Point &p : points) {
        const double x = p.x - mx, y = p.y - my, z = x * x + y * y;
        const std::array<double, 3> row = {x, y, 1.0};
        for (int i = 0; i < 3; ++i) {
            for (int k = 0; k < 3; ++k)
                a[size_t(i)][size_t(k)] += row[size_t(i)] * row[size_t(k)];
            b[size_t(i)] -= row[size_t(i)] * z;
        }
    }
    std::array<double, 3> s{};
    if (!solve3(a, b, &s))
        return false;
    const double x = -s[0] / 2.0, y = -s[1] / 2.0, r2 = x * x + y * y - s[2];
    if (!(r2 > 0.0))
        return false;
    *circle = {x + mx, y + my, std::sqrt(r2)};
    return true;
}

void LensFit::geometricRefine(const std::vector<Point> &points, Circle *circle)
{
    // Gauss-Newton on the distances from the circle: the algebraic fit leans towards smaller
    // circles when only an arc is seen.
    for (int iteration = 0; iteration < 10; ++iteration) {
        std::array<std::array<double, 3>, 3> a{};
        std::array<double, 3> b{};
        for (const Point &p : points) {
            const double dx = p.x - circle->x, dy = p.y - circle->y;
            const double d = std::hypot(dx, dy);
            if (d < 1e-9)
                continue;
            const std::array<double, 3> j = {-dx / d, -dy / d, -1.0};
            const double e = d - circle->r;
            for (int i = 0; i < 3; ++i) {
                for (int k = 0; k < 3; ++k)
                    a[size_t(i)][size_t(k)] += j[size_t(i)] * j[size_t(k)];
                b[size_t(i)] -= j[size_t(i)] * e;
            }
        }
        std::array<double, 3> step{};
        if (!solve3(a, b, &step))
            return;
        circle->x += step[0];
        circle->y += step[1];
        circle->r += step[2];
        if (std::fabs(step[0]) + std::fabs(step[1]) + std::fabs(step[2]) < 1e-4)
            return;
    }
}

double LensFit::ringMean(const Circle &circle, double offset, int *count) const
{
    double sum = 0.0;
    *count = 0;
    const double r = circle.r + offset;
    for (int k = 0; k < kRays; ++k) {
        const double a = 2.0 * kPi * k / kRays;
        const double x = circle.x + r * std::cos(a), y = circle.y + r * std::sin(a);
        if (x < 0.5 || y < 0.5 || x > m_width - 0.5 || y > m_height - 0.5)
            continue;
        sum += at(x, y);
        ++*count;
    }
    return *count > 0 ? sum / *count : 0.0;
}

int LensFit::darkCorners() const
{
    const int side = std::max(2, std::min(m_width, m_height) / 40);
    int dark = 0;
    for (const int x0 : {0, m_width - side}) {
        for (const int y0 : {0, m_height - side}) {
            double sum = 0.0;
            for (int y = y0; y < y0 + side; ++y) {
                for (int x = x0; x < x0 + side; ++x)
                    sum += m_grey[size_t(y) * size_t(m_stride) + size_t(x)];
            }
            dark += sum / double(side * side) < m_threshold ? 1 : 0;
        }
    }
    return dark;
}

LensFitResult LensFit::fit() const
{
    LensFitResult result;
    if (!m_grey || m_width < 16 || m_height < 16 || m_stride < m_width) {
        result.reason = "the picture is too small or empty";
        return result;
    }
    if (m_brightFraction < 0.01) {
        result.reason = "the picture is flat or dark: nothing stands out from its darkest part";
        return result;
    }
    // A circular fisheye picture leaves the frame's corners dark; a picture that reaches all four is
    // some other kind, whatever dark parts it has inside.
    if (m_darkFraction < 0.015 || darkCorners() == 0) {
        result.reason = "not a circular fisheye picture: it reaches all four corners of the frame, with no dark "
                        "surround around a lens circle";
        return result;
    }

    const double tolerance = std::max(1.0, 0.004 * std::max(m_width, m_height));
    std::vector<Point> points = boundary(m_centroidX, m_centroidY, nullptr);
    result.points = int(points.size());
    if (int(points.size()) < kMinPoints) {
        result.reason =
            "too few points on a boundary between dark surround and picture (" + std::to_string(points.size()) + ")";
        return result;
    }
    Circle circle;
    if (!ransac(points, tolerance, &circle)) {
        result.reason = "no circle fits the boundary points";
        return result;
    }
    std::vector<Point> kept;
    for (int i : inliersOf(points, circle, tolerance))
        kept.push_back(points[size_t(i)]);
    if (!leastSquares(kept, &circle)) {
        result.reason = "no circle fits the boundary points";
        return result;
    }
    geometricRefine(kept, &circle);
    if (!(circle.x > 0.0 && circle.y > 0.0 && circle.x < m_width && circle.y < m_height)) {
        result.reason = "the circle found has its centre off the frame";
        return result;
    }

    // Once more from the fitted centre: the rays now cross the boundary square on.
    std::vector<double> angles;
    points = boundary(circle.x, circle.y, &angles);
    result.points = int(points.size());
    std::vector<int> inliers = inliersOf(points, circle, 3.0 * tolerance);
    kept.clear();
    for (int i : inliers)
        kept.push_back(points[size_t(i)]);
    if (!leastSquares(kept, &circle)) {
        result.reason = "no circle fits the boundary points";
        return result;
    }
    geometricRefine(kept, &circle);
    inliers = inliersOf(points, circle, tolerance);
    kept.clear();
    std::array<bool, kSectors> sectors{};
    double squares = 0.0;
    for (int i : inliers) {
        const Point &p = points[size_t(i)];
        kept.push_back(p);
        const double d = std::hypot(p.x - circle.x, p.y - circle.y) - circle.r;
        squares += d * d;
        sectors[size_t(std::min(kSectors - 1, int(angles[size_t(i)] / (2.0 * kPi) * kSectors)))] = true;
    }
    if (kept.size() >= 3)
        geometricRefine(kept, &circle);
    result.inliers = int(inliers.size());
    result.rms = inliers.empty() ? 0.0 : std::sqrt(squares / double(inliers.size()));
    result.centerX = circle.x;
    result.centerY = circle.y;
    result.radius = circle.r;

    const int covered = int(std::count(sectors.begin(), sectors.end(), true));
    if (result.inliers < kMinPoints || 2 * result.inliers < result.points) {
        result.reason = "the boundary points do not lie on one circle (" + std::to_string(result.inliers) + " of " +
                        std::to_string(result.points) + ")";
        return result;
    }
    if (covered < kMinSectors) {
        result.reason = "the boundary shows on too short an arc to place a circle";
        return result;
    }
    if (!(circle.x > 0.0 && circle.y > 0.0 && circle.x < m_width && circle.y < m_height)) {
        result.reason = "the circle found has its centre off the frame";
        return result;
    }
    if (circle.r < 0.05 * std::min(m_width, m_height) || circle.r > std::hypot(double(m_width), double(m_height))) {
        result.reason = "the circle found is too small or too large for the frame";
        return result;
    }
    // Dark just outside the circle, the picture just inside.
    const double margin = std::max(2.0, 0.01 * circle.r);
    int outsideCount = 0, insideCount = 0;
    const double outside = ringMean(circle, margin, &outsideCount);
    const double inside = ringMean(circle, -margin, &insideCount);
    if (outsideCount < kMinPoints || outside >= m_threshold || inside - outside < m_threshold - m_dark) {
        result.reason = "the circle found does not separate a dark surround from the picture";
        return result;
    }
    result.found = true;
    return result;
}
