#include "bench/video/framestamp.h"

#include <algorithm>
#include <cmath>

namespace {
// Limited-range black and white, and the level between them.
constexpr uint8_t kZero = 16;
constexpr uint8_t kOne = 235;
constexpr int kThreshold = 128;
} // namespace

FrameStamp::FrameStamp(int left, int top, int columns, int block)
    : m_left(left), m_top(top), m_columns(std::max(1, columns)), m_block(std::max(1, block))
{
}

FrameStamp FrameStamp::topRow()
{
    return FrameStamp(0, 0, kBits, 32);
}

FrameStamp FrameStamp::middle(int width, int height, int block)
{
    return FrameStamp(width / 2 - 2 * block, height / 2 - 2 * block, 4, block);
}

void FrameStamp::draw(uint8_t *luma, int stride, uint32_t number) const
{
    for (int bit = 0; bit < kBits; ++bit) {
        const uint8_t level = (number >> bit) & 1 ? kOne : kZero;
        const int x = m_left + (bit % m_columns) * m_block;
        const int y = m_top + (bit / m_columns) * m_block;
        for (int row = 0; row < m_block; ++row)
            std::fill_n(luma + (y + row) * stride + x, m_block, level);
    }
}

QVector<QPointF> FrameStamp::centres() const
{
    QVector<QPointF> points;
    for (int bit = 0; bit < kBits; ++bit)
        points.append(QPointF(m_left + (bit % m_columns) * m_block + m_block / 2.0,
                              m_top + (bit / m_columns) * m_block + m_block / 2.0));
    return points;
}

qint64 FrameStamp::read(const uint8_t *luma, int stride, int width, int height, const QVector<QPointF> &centres)
{
    if (centres.size() != kBits)
        return -1;
    qint64 number = 0;
    for (int bit = 0; bit < kBits; ++bit) {
        const int x = int(std::floor(centres[bit].x()));
        const int y = int(std::floor(centres[bit].y()));
        if (x < 0 || y < 0 || x >= width || y >= height)
            return -1;
        if (luma[y * stride + x] > kThreshold)
            number |= qint64(1) << bit;
    }
    return number;
}
