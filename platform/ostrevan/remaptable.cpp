#include "platform/ostrevan/remaptable.h"

#include <algorithm>
#include <cmath>

void RemapTable::buildPlane(const FisheyeProjection &projection, int inW, int inH, int outW, int outH,
                            std::vector<Tap> *taps)
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
            if (!projection.sample(u, v, &x, &y)) {
                *tap = {kMissing, 0, 0, 0};
                continue;
            }
            // Texture coordinate to pixel position, texel centres at +0.5; the texture's t = 0 is the
            // first row of the frame. Clamped to the edge pixels as GL_CLAMP_TO_EDGE does.
            float px = std::clamp(x * float(inW) - 0.5f, 0.0f, float(inW - 1));
            float py = std::clamp(y * float(inH) - 0.5f, 0.0f, float(inH - 1));
            int x0 = std::min(int(px), inW - 2);
            int y0 = std::min(int(py), inH - 2);
            const int fx = int(std::lround((px - float(x0)) * 256.0f));
            const int fy = int(std::lround((py - float(y0)) * 256.0f));
            *tap = {uint16_t(x0), uint16_t(y0), uint16_t(fx), uint16_t(fy)};
        }
    }
}

void RemapTable::build(const FisheyeProjection &projection, int inWidth, int inHeight, int outWidth, int outHeight)
{
    m_inWidth = inWidth;
    m_inHeight = inHeight;
    m_outWidth = outWidth;
    m_outHeight = outHeight;
    if (inWidth < 4 || inHeight < 4 || inWidth >= kMissing || inHeight >= kMissing || outWidth < 2 || outHeight < 2) {
        // Nothing sensible to sample: every pixel gets the missing colour.
        m_luma.assign(size_t(std::max(outWidth, 0)) * size_t(std::max(outHeight, 0)), Tap{kMissing, 0, 0, 0});
        m_chroma.assign(size_t(std::max(outWidth / 2, 0)) * size_t(std::max(outHeight / 2, 0)), Tap{kMissing, 0, 0, 0});
        return;
    }
    // Chroma samples sit at the centres of 2x2 luma blocks, so the same unit-square coordinates
    // over half the pixels give their positions.
    buildPlane(projection, inWidth, inHeight, outWidth, outHeight, &m_luma);
    buildPlane(projection, (inWidth + 1) / 2, (inHeight + 1) / 2, outWidth / 2, outHeight / 2, &m_chroma);
}

void RemapTable::applyPlane(const std::vector<Tap> &taps, const uint8_t *in, int inStride, uint8_t *out, int outStride,
                            int outW, int outH, uint8_t missing)
{
    const Tap *tap = taps.data();
    for (int j = 0; j < outH; ++j) {
        uint8_t *row = out + size_t(j) * size_t(outStride);
        for (int i = 0; i < outW; ++i, ++tap) {
            if (tap->x == kMissing) {
                row[i] = missing;
                continue;
            }
            const uint8_t *p = in + size_t(tap->y) * size_t(inStride) + tap->x;
            const uint32_t fx = tap->fx;
            const uint32_t fy = tap->fy;
            const uint32_t top = uint32_t(p[0]) * (256 - fx) + uint32_t(p[1]) * fx;
            const uint32_t bottom = uint32_t(p[inStride]) * (256 - fx) + uint32_t(p[inStride + 1]) * fx;
            row[i] = uint8_t((top * (256 - fy) + bottom * fy + 32768) >> 16);
        }
    }
}

void RemapTable::apply(const PlanarImage &in, const MutablePlanarImage &out) const
{
    if (!isBuilt() || in.width != m_inWidth || in.height != m_inHeight || out.width != m_outWidth ||
        out.height != m_outHeight)
        return;
    applyPlane(m_luma, in.planes[0], in.strides[0], out.planes[0], out.strides[0], m_outWidth, m_outHeight, kMissingY);
    applyPlane(m_chroma, in.planes[1], in.strides[1], out.planes[1], out.strides[1], m_outWidth / 2, m_outHeight / 2,
               kMissingU);
    applyPlane(m_chroma, in.planes[2], in.strides[2], out.planes[2], out.strides[2], m_outWidth / 2, m_outHeight / 2,
               kMissingV);
}
