#pragma once

#include "defish/fisheyeprojection.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class SlicePool;

// One I420 picture: three planes with their strides.
struct PlanarImage
{
    int width = 0;
    int height = 0;
    const uint8_t *planes[3] = {nullptr, nullptr, nullptr};
    int strides[3] = {0, 0, 0};
};

struct MutablePlanarImage
{
    int width = 0;
    int height = 0;
    uint8_t *planes[3] = {nullptr, nullptr, nullptr};
    int strides[3] = {0, 0, 0};
};

// The planes of an I420 frame packed in one buffer: rows without padding, chroma halved (rounded down).
template<typename Image, typename Byte> Image packedI420(Byte *data, int width, int height)
{
    Image image;
    image.width = width;
    image.height = height;
    image.planes[0] = data;
    image.planes[1] = data + size_t(width) * size_t(height);
    image.planes[2] = image.planes[1] + size_t(width / 2) * size_t(height / 2);
    image.strides[0] = width;
    image.strides[1] = image.strides[2] = width / 2;
    return image;
}
inline PlanarImage packedI420(const uint8_t *data, int width, int height)
{
    return packedI420<PlanarImage>(data, width, height);
}
inline MutablePlanarImage packedI420(uint8_t *data, int width, int height)
{
    return packedI420<MutablePlanarImage>(data, width, height);
}

// The CPU dewarp: for every output pixel, where the defish shader samples the fisheye frame,
// worked out once per view setting (and frame size) with the shared FisheyeProjection and then
// applied to every frame with bilinear interpolation in fixed point, like the GL texture unit's
// linear filter with clamp to edge. Luma and the two half-size chroma planes have tables of their
// own, so every plane samples at its own pixel centres. Pixels the shader paints in its missing
// colour get opaque red.
class RemapTable
{
public:
    // The missing colour (opaque red) in limited-range BT.601 YCbCr, until setMissingColour().
    static constexpr uint8_t kMissingY = 81;
    static constexpr uint8_t kMissingU = 90;
    static constexpr uint8_t kMissingV = 240;

    // Opaque red in the frames' YCbCr: luma weights kr and kb of red and blue, full or limited range.
    void setMissingColour(double kr, double kb, bool fullRange);
    uint8_t missingY() const { return m_missing[0]; }
    uint8_t missingU() const { return m_missing[1]; }
    uint8_t missingV() const { return m_missing[2]; }

    // Builds the tables for frames of inWidth x inHeight and output of outWidth x outHeight (both
    // even). projection's lens must describe frames of inWidth x inHeight; its view ratio is
    // normally outWidth / outHeight.
    void build(const FisheyeProjection &projection, int inWidth, int inHeight, int outWidth, int outHeight);
    // The same for the frame as it is, scaled to the output size (bilinear at every output pixel's
    // centre, as a GL texture drawn at that size samples it).
    void buildScale(int inWidth, int inHeight, int outWidth, int outHeight);

    bool isBuilt() const { return m_outWidth > 0; }
    int inWidth() const { return m_inWidth; }
    int inHeight() const { return m_inHeight; }
    int outWidth() const { return m_outWidth; }
    int outHeight() const { return m_outHeight; }
    // Output columns dewarped together, row after row, before the next strip of columns: fewer than
    // the output width where neighbouring pixels of a row sample more than one frame row apart on
    // average (a panorama of a large lens circle), so that a strip keeps to a small part of the frame.
    int stripColumns() const { return m_stripColumns; }

    // Dewarps one frame. in must be inWidth x inHeight and out outWidth x outHeight. With a pool,
    // bands of rows are dewarped on its threads at the same time; every output pixel is worked out
    // from its own table entry alone, so the picture is the same to the bit.
    void apply(const PlanarImage &in, const MutablePlanarImage &out, SlicePool *pool = nullptr) const;

private:
    // Top-left source pixel and the weights of its right and lower neighbours in 1/128, and how
    // many of the four luma pixels that a chroma sample covers have the missing colour (luma: 0 or 4).
    struct Tap
    {
        uint16_t x;
        uint16_t y;
        uint8_t fx;
        uint8_t fy;
        uint8_t missing;
        uint8_t unused;
    };
    // Where the picture samples view point (u, v) of the unit square, as FisheyeProjection::sample().
    using Sampler = std::function<bool(float u, float v, float *x, float *y)>;
    void build(const Sampler &sample, int inWidth, int inHeight, int outWidth, int outHeight);
    static void buildLuma(const Sampler &sample, int inW, int inH, int outW, int outH, std::vector<Tap> *taps);
    static void buildChroma(const Sampler &sample, int inW, int inH, int outW, int outH, std::vector<Tap> *taps);
    static Tap tapAt(float x, float y, int inW, int inH);
    // Columns of a plane dewarped together, row after row, where the picture's rows run across the frame's.
    static constexpr int kStripColumns = 256;
    // Whether neighbouring pixels of a row sample more than one frame row apart on average.
    static bool crossesFrameRows(const std::vector<Tap> &taps, int outW, int outH);
    static void applyPlane(const std::vector<Tap> &taps, const uint8_t *in, int inStride, uint8_t *out, int outStride,
                           int outW, int stripColumns, int firstRow, int endRow, uint8_t missing);
    // Output rows firstRow .. endRow - 1 (both even) and the chroma rows beside them.
    void applyRows(const PlanarImage &in, const MutablePlanarImage &out, int firstRow, int endRow) const;

    int m_inWidth = 0;
    int m_inHeight = 0;
    int m_outWidth = 0;
    int m_outHeight = 0;
    int m_stripColumns = 0; // columns of a plane dewarped together (see applyPlane())
    std::vector<Tap> m_luma;
    std::vector<Tap> m_chroma;
    uint8_t m_missing[3] = {kMissingY, kMissingU, kMissingV};
};
