#include "defish/remaptable.h"

#include "defish/slicepool.h"

#include <algorithm>
#include <cmath>

RemapTable::Tap RemapTable::tapAt(float x, float y, int inW, int inH)
{
    // Texture coordinate to pixel position, texel centres at +0.5; the texture's t = 0 is the first
    // row of the frame. Clamped to the edge pixels as GL_CLAMP_TO_EDGE does.
    const float px = std::clamp(x * float(inW) - 0.5f, 0.0f, float(inW - 1));
    const float py = std::clamp(y * float(inH) - 0.5f, 0.0f, float(inH - 1));
    const int x0 = std::min(int(px), inW - 2);
    const int y0 = std::min(int(py), inH - 2);
    const int fx = int(std::lround((px - float(x0)) * 128.0f));
    const int fy = int(std::lround((py - float(y0)) * 128.0f));
    return {uint16_t(x0), uint16_t(y0), uint8_t(fx), uint8_t(fy), 0, 0};
}

void RemapTable::buildLuma(const Sampler &sample, int inW, int inH, int outW, int outH, std::vector<Tap> *taps)
{
    taps->resize(size_t(outW) * size_t(outH));
    Tap *tap = taps->data();
    for (int j = 0; j < outH; ++j) {
        // The shader's v_texcoord at the pixel centre: v = 0 on the upper edge.
        const float v = (float(j) + 0.5f) / float(outH);
        for (int i = 0; i < outW; ++i, ++tap) {
            const float u = (float(i) + 0.5f) / float(outW);
            float x = 0.0f;
            float y = 0.0f;
            if (sample(u, v, &x, &y))
                *tap = tapAt(x, y, inW, inH);
            else
                *tap = {0, 0, 0, 0, 4, 0};
        }
    }
}

void RemapTable::buildChroma(const Sampler &sample, int inW, int inH, int outW, int outH, std::vector<Tap> *taps)
{
    // A chroma sample stands for a 2x2 block of output pixels, as if the shader's RGB picture were
    // subsampled: where the block straddles the edge of the missing colour, the sample is mixed
    // from the missing colour and the picture by the number of missing pixels.
    const int cw = outW / 2;
    const int ch = outH / 2;
    taps->resize(size_t(cw) * size_t(ch));
    Tap *tap = taps->data();
    for (int j = 0; j < ch; ++j) {
        for (int i = 0; i < cw; ++i, ++tap) {
            float x = 0.0f;
            float y = 0.0f;
            const float u = (float(i) + 0.5f) / float(cw);
            const float v = (float(j) + 0.5f) / float(ch);
            bool centre = sample(u, v, &x, &y);
            int missing = 0;
            float fallbackX = 0.0f;
            float fallbackY = 0.0f;
            bool haveFallback = false;
            for (int k = 0; k < 4; ++k) {
                const float lu = (float(2 * i + (k & 1)) + 0.5f) / float(outW);
                const float lv = (float(2 * j + (k >> 1)) + 0.5f) / float(outH);
                float lx = 0.0f;
                float ly = 0.0f;
                if (!sample(lu, lv, &lx, &ly)) {
                    ++missing;
                } else if (!haveFallback) {
                    fallbackX = lx;
                    fallbackY = ly;
                    haveFallback = true;
                }
            }
            if (missing == 4) {
                *tap = {0, 0, 0, 0, 4, 0};
                continue;
            }
            if (!centre) {
                x = fallbackX;
                y = fallbackY;
            }
            *tap = tapAt(x, y, inW, inH);
            tap->missing = uint8_t(missing);
        }
    }
}

void RemapTable::build(const FisheyeProjection &projection, int inWidth, int inHeight, int outWidth, int outHeight)
{
    build([&projection](float u, float v, float *x, float *y) { return projection.sample(u, v, x, y); }, inWidth,
          inHeight, outWidth, outHeight);
}

void RemapTable::buildScale(int inWidth, int inHeight, int outWidth, int outHeight)
{
    build(
        [](float u, float v, float *x, float *y) {
            *x = u;
            *y = v;
            return true;
        },
        inWidth, inHeight, outWidth, outHeight);
}

void RemapTable::build(const Sampler &sample, int inWidth, int inHeight, int outWidth, int outHeight)
{
    m_inWidth = inWidth;
    m_inHeight = inHeight;
    m_outWidth = outWidth;
    m_outHeight = outHeight;
    m_stripColumns = std::max(outWidth, 1);
    if (inWidth < 4 || inHeight < 4 || inWidth > 0xFFFF || inHeight > 0xFFFF || outWidth < 2 || outHeight < 2) {
        // Nothing sensible to sample: every pixel gets the missing colour.
        m_luma.assign(size_t(std::max(outWidth, 0)) * size_t(std::max(outHeight, 0)), Tap{0, 0, 0, 0, 4, 0});
        m_chroma.assign(size_t(std::max(outWidth / 2, 0)) * size_t(std::max(outHeight / 2, 0)), Tap{0, 0, 0, 0, 4, 0});
        return;
    }
    // Chroma samples sit at the centres of 2x2 luma blocks, so the same unit-square coordinates
    // over half the pixels give their positions in the half-size chroma planes.
    buildLuma(sample, inWidth, inHeight, outWidth, outHeight, &m_luma);
    buildChroma(sample, (inWidth + 1) / 2, (inHeight + 1) / 2, outWidth, outHeight, &m_chroma);
    if (crossesFrameRows(m_luma, outWidth, outHeight))
        m_stripColumns = kStripColumns;
}

void RemapTable::setMissingColour(double kr, double kb, bool fullRange)
{
    // R = 1, G = B = 0: Y' = kr, Cb = -kr / (2 (1 - kb)), Cr = 1/2.
    const double y = kr;
    const double cb = -kr / (2.0 * (1.0 - kb));
    const double cr = 0.5;
    const auto clamp8 = [](double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); };
    if (fullRange) {
        m_missing[0] = clamp8(255.0 * y);
        m_missing[1] = clamp8(128.0 + 255.0 * cb);
        m_missing[2] = clamp8(128.0 + 255.0 * cr);
    } else {
        m_missing[0] = clamp8(16.0 + 219.0 * y);
        m_missing[1] = clamp8(128.0 + 224.0 * cb);
        m_missing[2] = clamp8(128.0 + 224.0 * cr);
    }
}

bool RemapTable::crossesFrameRows(const std::vector<Tap> &taps, int outW, int outH)
{
    uint64_t rows = 0;
    uint64_t pairs = 0;
    for (int j = 0; j < outH; ++j) {
        const Tap *tap = taps.data() + size_t(j) * size_t(outW);
        for (int i = 1; i < outW; ++i) {
            if (tap[i].missing == 4 || tap[i - 1].missing == 4)
                continue;
            rows += uint64_t(std::abs(int(tap[i].y) - int(tap[i - 1].y)));
            ++pairs;
        }
    }
    return rows > pairs;
}

void RemapTable::applyPlane(const std::vector<Tap> &taps, const uint8_t *in, int inStride, uint8_t *out, int outStride,
                            int outW, int stripColumns, int firstRow, int endRow, uint8_t missing)
{
    // A row of a panorama runs around the lens circle, through a new frame row, and often a new memory
    // page, at almost every pixel where the circle runs up and down; the pages of a whole row do not
    // stay cached until the next row needs them again. A strip of columns, top to bottom, keeps to a
    // small part of the frame. Where a row of the picture runs along the frame's rows (a perspective
    // view), whole rows read the taps, the frame and the output in the order that memory prefetches.
    for (int left = 0; left < outW; left += stripColumns) {
        const int right = std::min(outW, left + stripColumns);
        for (int j = firstRow; j < endRow; ++j) {
            uint8_t *row = out + size_t(j) * size_t(outStride);
            const Tap *tap = taps.data() + size_t(j) * size_t(outW) + size_t(left);
            for (int i = left; i < right; ++i, ++tap) {
                const uint32_t m = tap->missing;
                if (m == 4) {
                    row[i] = missing;
                    continue;
                }
                const uint8_t *p = in + size_t(tap->y) * size_t(inStride) + tap->x;
                const uint32_t fx = tap->fx;
                const uint32_t fy = tap->fy;
                const uint32_t top = uint32_t(p[0]) * (128 - fx) + uint32_t(p[1]) * fx;
                const uint32_t bottom = uint32_t(p[inStride]) * (128 - fx) + uint32_t(p[inStride + 1]) * fx;
                const uint32_t value = (top * (128 - fy) + bottom * fy + 8192) >> 14;
                row[i] = m == 0 ? uint8_t(value) : uint8_t((value * (4 - m) + uint32_t(missing) * m + 2) >> 2);
            }
        }
    }
}

void RemapTable::applyRows(const PlanarImage &in, const MutablePlanarImage &out, int firstRow, int endRow) const
{
    applyPlane(m_luma, in.planes[0], in.strides[0], out.planes[0], out.strides[0], m_outWidth, m_stripColumns, firstRow,
               endRow, m_missing[0]);
    for (int p = 1; p < 3; ++p)
        applyPlane(m_chroma, in.planes[p], in.strides[p], out.planes[p], out.strides[p], m_outWidth / 2, m_stripColumns,
                   firstRow / 2, endRow / 2, m_missing[p]);
}

void RemapTable::apply(const PlanarImage &in, const MutablePlanarImage &out, SlicePool *pool) const
{
    if (!isBuilt() || in.width != m_inWidth || in.height != m_inHeight || out.width != m_outWidth ||
        out.height != m_outHeight)
        return;
    // Bands of an even number of rows, so that each chroma row belongs to one band; a few more
    // bands than threads, so that a thread that started late still finds work.
    const int bands = pool ? std::min(m_outHeight / 2, 2 * (pool->threads() + 1)) : 1;
    if (bands <= 1) {
        applyRows(in, out, 0, m_outHeight);
        return;
    }
    const auto edge = [this, bands](int k) { return k == bands ? m_outHeight : (m_outHeight * k / bands) & ~1; };
    pool->run(bands, [&](int k) { applyRows(in, out, edge(k), edge(k + 1)); });
}
