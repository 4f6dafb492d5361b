#pragma once

#include <gst/gst.h>

#include <cstdint>

// The colour description that an H.264 stream's sequence parameter sets carry in their video
// usability information, as codes of ITU-T H.273 (2: unspecified).
//
// x264enc always describes the colours of what it encodes, taking GStreamer's guess from the size
// when the caps say nothing. A source without colour tags must stay without them: players guess
// differently (libavcodec's take BT.601 at any size, GStreamer BT.709 above 576 rows), and a stream
// tagged with GStreamer's guess shows other colours than the source in the former. The encoded
// stream's description is therefore set to the source's afterwards.
struct H264Colour
{
    static constexpr uint8_t kUnspecified = 2;

    uint8_t primaries = kUnspecified;
    uint8_t transfer = kUnspecified;
    uint8_t matrix = kUnspecified;

    bool operator==(const H264Colour &other) const
    {
        return primaries == other.primaries && transfer == other.transfer && matrix == other.matrix;
    }

    // The description of raw video caps: unspecified for whatever they leave out (all of it without a
    // "colorimetry" field).
    static H264Colour ofCaps(const GstCaps *caps);

    uint32_t packed() const { return uint32_t(primaries) << 16 | uint32_t(transfer) << 8 | matrix; }
    static H264Colour unpacked(uint32_t packed)
    {
        return {uint8_t(packed >> 16), uint8_t(packed >> 8), uint8_t(packed)};
    }

    // Sets this description in every sequence parameter set of an H.264 byte-stream buffer that has
    // one. A new buffer with the same metadata, or null when nothing had to change.
    GstBuffer *applyTo(GstBuffer *buffer) const;
};
