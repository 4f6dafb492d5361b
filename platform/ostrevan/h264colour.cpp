#include "platform/ostrevan/h264colour.h"

#include <gst/video/video.h>

#include <algorithm>
#include <iterator>
#include <vector>

namespace {

// Reads an SPS's RBSP bit by bit (exp-Golomb codes as H.264 7.2); past the end, ok turns false.
class BitReader
{
public:
    explicit BitReader(const std::vector<uint8_t> &data) : m_data(data) {}

    uint32_t bits(int n)
    {
        uint32_t value = 0;
        for (int i = 0; i < n; ++i) {
            if (m_pos >= m_data.size() * 8) {
                m_ok = false;
                return 0;
            }
            value = value << 1 | ((m_data[m_pos >> 3] >> (7 - (m_pos & 7))) & 1u);
            ++m_pos;
        }
        return value;
    }
    uint32_t ue()
    {
        int zeros = 0;
        while (m_ok && bits(1) == 0) {
            if (++zeros > 31) {
                m_ok = false;
                return 0;
            }
        }
        return zeros == 0 ? 0 : ((1u << zeros) - 1) + bits(zeros);
    }
    int32_t se()
    {
        const uint32_t k = ue();
        return (k & 1) ? int32_t((k + 1) / 2) : -int32_t(k / 2);
    }
    size_t position() const { return m_pos; }
    bool ok() const { return m_ok; }

private:
    const std::vector<uint8_t> &m_data;
    size_t m_pos = 0;
    bool m_ok = true;
};

void skipScalingList(BitReader &r, int size)
{
    int last = 8;
    int next = 8;
    for (int j = 0; j < size && r.ok(); ++j) {
        if (next != 0)
            next = (last + r.se() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

// The bit position of colour_primaries in an SPS's RBSP (NAL header included), or 0 when it has no
// colour description.
size_t colourDescriptionPosition(const std::vector<uint8_t> &rbsp)
{
    BitReader r(rbsp);
    r.bits(8); // NAL header
    const uint32_t profile = r.bits(8);
    r.bits(16); // constraint flags, level
    r.ue();     // seq_parameter_set_id
    static const uint32_t kHighProfiles[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
    if (std::find(std::begin(kHighProfiles), std::end(kHighProfiles), profile) != std::end(kHighProfiles)) {
        const uint32_t chromaFormat = r.ue();
        if (chromaFormat == 3)
            r.bits(1);
        r.ue();
        r.ue();
        r.bits(1);
        if (r.bits(1)) {
            for (int i = 0; i < (chromaFormat != 3 ? 8 : 12) && r.ok(); ++i) {
                if (r.bits(1))
                    skipScalingList(r, i < 6 ? 16 : 64);
            }
        }
    }
    r.ue(); // log2_max_frame_num_minus4
    const uint32_t pocType = r.ue();
    if (pocType == 0) {
        r.ue();
    } else if (pocType == 1) {
        r.bits(1);
        r.se();
        r.se();
        const uint32_t cycle = r.ue();
        for (uint32_t i = 0; i < cycle && r.ok(); ++i)
            r.se();
    }
    r.ue();         // max_num_ref_frames
    r.bits(1);      // gaps_in_frame_num_value_allowed_flag
    r.ue();         // pic_width_in_mbs_minus1
    r.ue();         // pic_height_in_map_units_minus1
    if (!r.bits(1)) // frame_mbs_only_flag
        r.bits(1);
    r.bits(1); // direct_8x8_inference_flag
    if (r.bits(1)) {
        for (int i = 0; i < 4; ++i)
            r.ue();
    }
    if (!r.bits(1)) // vui_parameters_present_flag
        return 0;
    if (r.bits(1) && r.bits(8) == 255) // aspect ratio, extended SAR
        r.bits(32);
    if (r.bits(1)) // overscan
        r.bits(1);
    if (!r.bits(1)) // video_signal_type_present_flag
        return 0;
    r.bits(4); // video_format, video_full_range_flag
    if (!r.bits(1) || !r.ok())
        return 0;
    return r.position() + 24 <= rbsp.size() * 8 ? r.position() : 0;
}

std::vector<uint8_t> unescape(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> out;
    out.reserve(size);
    int zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;
            continue;
        }
        out.push_back(data[i]);
        zeros = data[i] == 0 ? zeros + 1 : 0;
    }
    return out;
}

void appendEscaped(std::vector<uint8_t> *out, const std::vector<uint8_t> &rbsp)
{
    int zeros = 0;
    for (uint8_t byte : rbsp) {
        if (zeros >= 2 && byte <= 3) {
            out->push_back(3);
            zeros = 0;
        }
        out->push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
}

} // namespace

H264Colour H264Colour::ofCaps(const GstCaps *caps)
{
    H264Colour colour;
    const GstStructure *s = caps && gst_caps_get_size(caps) > 0 ? gst_caps_get_structure(caps, 0) : nullptr;
    const gchar *text = s ? gst_structure_get_string(s, "colorimetry") : nullptr;
    GstVideoColorimetry colorimetry;
    if (!text || !gst_video_colorimetry_from_string(&colorimetry, text))
        return colour;
    if (colorimetry.primaries != GST_VIDEO_COLOR_PRIMARIES_UNKNOWN)
        colour.primaries = uint8_t(gst_video_color_primaries_to_iso(colorimetry.primaries));
    if (colorimetry.transfer != GST_VIDEO_TRANSFER_UNKNOWN)
        colour.transfer = uint8_t(gst_video_transfer_function_to_iso(colorimetry.transfer));
    if (colorimetry.matrix != GST_VIDEO_COLOR_MATRIX_UNKNOWN)
        colour.matrix = uint8_t(gst_video_color_matrix_to_iso(colorimetry.matrix));
    return colour;
}

GstBuffer *H264Colour::applyTo(GstBuffer *buffer) const
{
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return nullptr;
    const uint8_t *data = map.data;
    const size_t size = map.size;
    // Start codes: each NAL unit runs from after one to the next (its trailing zeros belong to the
    // next one's 4-byte form).
    std::vector<size_t> starts;
    for (size_t i = 0; i + 2 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    }
    std::vector<uint8_t> out;
    size_t copied = 0;
    bool changed = false;
    for (size_t n = 0; n < starts.size(); ++n) {
        const size_t begin = starts[n];
        size_t end = n + 1 < starts.size() ? starts[n + 1] - 3 : size;
        while (end > begin && data[end - 1] == 0)
            --end;
        if (end <= begin || (data[begin] & 0x1f) != 7)
            continue;
        std::vector<uint8_t> rbsp = unescape(data + begin, end - begin);
        const size_t bit = colourDescriptionPosition(rbsp);
        if (bit == 0)
            continue;
        const uint32_t wanted = packed();
        bool differs = false;
        for (int i = 0; i < 24; ++i) {
            const size_t at = bit + size_t(i);
            const uint8_t mask = uint8_t(0x80 >> (at & 7));
            const bool set = (wanted >> (23 - i)) & 1u;
            if (bool(rbsp[at >> 3] & mask) != set) {
                differs = true;
                rbsp[at >> 3] = set ? uint8_t(rbsp[at >> 3] | mask) : uint8_t(rbsp[at >> 3] & ~mask);
            }
        }
        if (!differs)
            continue;
        out.insert(out.end(), data + copied, data + begin);
        appendEscaped(&out, rbsp);
        copied = end;
        changed = true;
    }
    if (!changed) {
        gst_buffer_unmap(buffer, &map);
        return nullptr;
    }
    out.insert(out.end(), data + copied, data + size);
    gst_buffer_unmap(buffer, &map);
    GstBuffer *result = gst_buffer_new_memdup(out.data(), out.size());
    gst_buffer_copy_into(result, buffer, GST_BUFFER_COPY_METADATA, 0, -1);
    return result;
}
