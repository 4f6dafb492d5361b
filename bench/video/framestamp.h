#pragma once

#include <QPointF>
#include <QVector>

#include <cstdint>

// A frame's number drawn into its luma plane as a grid of blocks, one per bit (white for 1, black for
// 0), and read back from a decoded picture: the latency benchmarks know when each number left. A
// block is read at its centre, so a picture that scales or bends the frame (a dewarped view) reads
// back as well, given where each centre landed in it.
class FrameStamp
{
public:
    static constexpr int kBits = 16;

    // Blocks of block x block pixels, `columns` to a row, the first with its corner at (left, top).
    FrameStamp(int left, int top, int columns, int block);
    // One row of blocks of 32 pixels along the frame's top edge.
    static FrameStamp topRow();
    // 4 x 4 blocks around the middle of a width x height frame, where a lens circle centred in it
    // images the lens axis.
    static FrameStamp middle(int width, int height, int block);

    // Draws the low kBits bits of number into an 8-bit luma plane, which must hold the blocks.
    void draw(uint8_t *luma, int stride, uint32_t number) const;
    // Where the centre of each bit's block lies in the frame, in pixels from its top left corner.
    QVector<QPointF> centres() const;
    // The number in a width x height luma plane whose bit blocks have their centres at `centres`
    // (pixels from the picture's top left corner, e.g. centres() for the frame itself); -1 when a
    // centre lies outside the picture.
    static qint64 read(const uint8_t *luma, int stride, int width, int height, const QVector<QPointF> &centres);

private:
    int m_left;
    int m_top;
    int m_columns;
    int m_block;
};
