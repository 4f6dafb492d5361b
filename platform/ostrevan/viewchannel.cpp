#include "platform/ostrevan/viewchannel.h"

#include "defish/defishfilter.h"
#include "platform/ostrevan/h264colour.h"
#include "platform/ostrevan/serverlogging.h"
#include "defish/slicepool.h"

#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <chrono>

namespace {

// Silence after which the last frame is sent again, so that the clients' sessions stay alive.
constexpr auto kRepeatAfter = std::chrono::milliseconds(500);

// The time stamps of one media's frames, given as each frame leaves appsrc (in PLAYING: a live
// source sends nothing before), from the media's clock and base time. appsrc's own stamps
// (do-timestamp) cannot be trusted here: a frame pushed while the media starts can be stamped before
// the pipeline has set its base time, i.e. with the clock's absolute time, hours ahead; every frame
// after it then lies on the grid beyond that, and the clients wait for hours.
//
// A scheduling hiccup puts two frames closer than a frame period, and the frames queued before the
// media plays leave within a millisecond; a client that counts in frame periods (libavformat takes
// 1/fps from the stream's frame rate) then sees two frames at one time. Each stamp is put on the grid
// of the view's frame period, at least one period after the one before: on the grid point at or
// before the moment the frame leaves, unless that is taken. A frame stamped ahead of that moment
// reaches the client's picture that much later (up to a frame period when stamps were moved up to the
// next grid point; bench_ostrevan_latency).
struct FrameGrid
{
    int fps = 1;
    gint64 last = -1; // index on the grid of the last stamp
};

GstPadProbeReturn stampOnFrameGrid(GstPad *pad, GstPadProbeInfo *info, gpointer data)
{
    auto *grid = static_cast<FrameGrid *>(data);
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstElement *source = GST_PAD_PARENT(pad);
    GstClock *clock = source ? gst_element_get_clock(source) : nullptr;
    if (!buffer || !clock)
        return GST_PAD_PROBE_OK;
    const GstClockTime now = gst_clock_get_time(clock);
    const GstClockTime base = gst_element_get_base_time(source);
    gst_object_unref(clock);
    const GstClockTime runningTime = now > base ? now - base : 0;
    gint64 index = gint64(gst_util_uint64_scale(runningTime, guint64(grid->fps), GST_SECOND));
    if (index <= grid->last)
        index = grid->last + 1;
    grid->last = index;
    buffer = gst_buffer_make_writable(buffer);
    GST_BUFFER_PTS(buffer) = gst_util_uint64_scale_int(guint64(index), GST_SECOND, grid->fps);
    GST_BUFFER_DTS(buffer) = GST_BUFFER_PTS(buffer);
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale_int(1, GST_SECOND, grid->fps);
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    return GST_PAD_PROBE_OK;
}

// Gives every sequence parameter set leaving the encoder the source's colour description.
GstPadProbeReturn describeSourceColours(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    const auto *colour = static_cast<const std::shared_ptr<std::atomic<uint32_t>> *>(data);
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    // Parameter sets head key frames only.
    if (!buffer || GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT))
        return GST_PAD_PROBE_OK;
    if (GstBuffer *described = H264Colour::unpacked((*colour)->load()).applyTo(buffer)) {
        gst_buffer_unref(buffer);
        GST_PAD_PROBE_INFO_DATA(info) = described;
    }
    return GST_PAD_PROBE_OK;
}

} // namespace

ViewChannel::ViewChannel(const QString &label, DewarpMode mode, const OutputOptions &output,
                         std::shared_ptr<SlicePool> pool)
    : m_label(label), m_mode(mode), m_output(output), m_periodUs(1000000 / qMax(1, output.fps)),
      m_pool(pool && pool->threads() > 0 ? std::move(pool) : nullptr),
      m_colour(std::make_shared<std::atomic<uint32_t>>(H264Colour().packed()))
{
    m_worker = std::thread([this] { run(); });
}

ViewChannel::~ViewChannel()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_worker.join();
    if (m_pending)
        gst_sample_unref(m_pending);
    if (m_last)
        gst_sample_unref(m_last);
    if (m_appsrc)
        gst_object_unref(m_appsrc);
    if (m_shader)
        gst_object_unref(m_shader);
    if (m_outCaps)
        gst_object_unref(m_outCaps);
    if (m_pushedCaps)
        gst_caps_unref(m_pushedCaps);
}

void ViewChannel::setGeometry(const Lens &lens, const ViewAim &aim, const FisheyeLayout &layout)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lens = lens;
        m_aim = aim;
        m_layout = layout;
        ++m_geometryVersion;
    }
    // Show the new direction at once, also while the source is quiet.
    m_wake.notify_all();
}

FisheyeLens ViewChannel::lens(int frameWidth, int frameHeight) const
{
    return m_lens.fisheye(float(frameWidth), float(frameHeight));
}

FisheyeView ViewChannel::view() const
{
    return m_aim.fisheye(float(m_output.width) / float(m_output.height));
}

FisheyeProjection ViewChannel::projection(int frameWidth, int frameHeight) const
{
    return FisheyeProjection(lens(frameWidth, frameHeight), view(), FisheyeMount::Wall, m_layout);
}

QString ViewChannel::mediaLaunch() const
{
    const QString source = QStringLiteral("appsrc name=src is-live=true format=time "
                                          "max-buffers=3 leaky-type=downstream");
    // x264enc cuts each frame into slices (one per thread, tune=zerolatency). rtph264pay's
    // config-interval=-1 would put the parameter sets before every slice of a key frame, and a
    // parameter set between two slices starts a new access unit: a strict decoder (libavcodec) then
    // sees two halves of a picture with one time. As a byte stream, x264 heads every key frame with
    // its parameter sets itself, so the payloader adds none. h264parse tells the payloader the
    // stream's profile and level, which it describes as profile-level-id in the SDP (players and
    // recorders choose their decoder by it); from a bare byte stream it would leave it out.
    const QString encode = QStringLiteral("queue max-size-buffers=3 max-size-time=0 max-size-bytes=0 leaky=downstream"
                                          " ! x264enc name=encoder tune=zerolatency speed-preset=ultrafast bitrate=%1 "
                                          "key-int-max=%2 ! video/x-h264,stream-format=byte-stream,alignment=au ! "
                                          "h264parse ! rtph264pay name=pay0 pt=96 config-interval=0")
                               .arg(m_output.bitrateKbps)
                               .arg(2 * m_output.fps);
    if (m_mode == DewarpMode::Cpu)
        return QStringLiteral("( %1 ! %2 )").arg(source, encode);
    return QStringLiteral("( %1 ! glupload ! quillondefish name=dewarp ! "
                          "video/x-raw(memory:GLMemory),format=RGBA,width=%2,height=%3 ! gldownload ! "
                          "videoconvert ! capsfilter name=outcaps caps=video/x-raw,format=I420 ! %4 )")
        .arg(source)
        .arg(m_output.width)
        .arg(m_output.height)
        .arg(encode);
}

void ViewChannel::attach(GstElement *appsrc, GstElement *shader)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_finished)
            return;
        if (m_appsrc)
            gst_object_unref(m_appsrc);
        if (m_shader)
            gst_object_unref(m_shader);
        m_appsrc = GST_ELEMENT(gst_object_ref(appsrc));
        m_shader = shader ? GST_ELEMENT(gst_object_ref(shader)) : nullptr;
        if (m_outCaps)
            gst_object_unref(m_outCaps);
        m_outCaps = nullptr;
        if (GstObject *bin = gst_element_get_parent(appsrc)) {
            m_outCaps = gst_bin_get_by_name(GST_BIN(bin), "outcaps");
            if (GstElement *encoder = gst_bin_get_by_name(GST_BIN(bin), "encoder")) {
                GstPad *pad = gst_element_get_static_pad(encoder, "src");
                gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, describeSourceColours,
                                  new std::shared_ptr<std::atomic<uint32_t>>(m_colour), [](gpointer data) {
                                      delete static_cast<std::shared_ptr<std::atomic<uint32_t>> *>(data);
                                  });
                gst_object_unref(pad);
                gst_object_unref(encoder);
            }
            gst_object_unref(bin);
        }
        if (GstPad *pad = gst_element_get_static_pad(appsrc, "src")) {
            gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, stampOnFrameGrid,
                              new FrameGrid{qMax(1, m_output.fps), -1},
                              [](gpointer data) { delete static_cast<FrameGrid *>(data); });
            gst_object_unref(pad);
        }
        // The new media knows no caps yet; the first frame must come soon, since the media only
        // describes itself to the client once data flows.
        if (!m_pending && m_last)
            m_pending = gst_sample_ref(m_last);
        m_nextDueUs = 0;
        m_newMedia = true;
    }
    m_wake.notify_all();
    qCDebug(lcView, "%s: a client is watching", qUtf8Printable(m_label));
}

bool ViewChannel::serving() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_appsrc != nullptr;
}

QString ViewChannel::lastError() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastError;
}

void ViewChannel::setLastError(const QString &error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastError = error;
}

void ViewChannel::detach(GstElement *appsrc)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_appsrc != appsrc)
        return;
    gst_object_unref(m_appsrc);
    m_appsrc = nullptr;
    if (m_shader) {
        gst_object_unref(m_shader);
        m_shader = nullptr;
    }
    if (m_outCaps) {
        gst_object_unref(m_outCaps);
        m_outCaps = nullptr;
    }
    qCDebug(lcView, "%s: no client any more", qUtf8Printable(m_label));
}

void ViewChannel::finish()
{
    GstElement *appsrc = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
        appsrc = m_appsrc;
        m_appsrc = nullptr;
        if (m_shader) {
            gst_object_unref(m_shader);
            m_shader = nullptr;
        }
        if (m_outCaps) {
            gst_object_unref(m_outCaps);
            m_outCaps = nullptr;
        }
    }
    if (appsrc) {
        gst_app_src_end_of_stream(GST_APP_SRC(appsrc));
        gst_object_unref(appsrc);
    }
}

void ViewChannel::offer(GstSample *sample, qint64 nowUs)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_finished)
            return;
        // Keep the view's rate: take a frame when it is (nearly) due, drop the others.
        if (nowUs < m_nextDueUs - m_periodUs / 4)
            return;
        m_nextDueUs = (nowUs - m_nextDueUs > m_periodUs) ? nowUs + m_periodUs : m_nextDueUs + m_periodUs;
        m_accepted.fetch_add(1);
        GstSample **slot = m_appsrc ? &m_pending : &m_last;
        if (*slot)
            gst_sample_unref(*slot);
        *slot = gst_sample_ref(sample);
        if (!m_appsrc)
            return;
    }
    m_wake.notify_one();
}

void ViewChannel::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    quint64 producedVersion = 0;
    while (!m_stop) {
        const bool woken = m_wake.wait_for(lock, kRepeatAfter, [this, producedVersion] {
            return m_stop || (m_appsrc && (m_pending || m_geometryVersion != producedVersion));
        });
        if (m_stop)
            break;
        if (!m_appsrc)
            continue;
        GstSample *sample = m_pending;
        m_pending = nullptr;
        const bool fresh = sample != nullptr;
        if (!sample && m_last)
            sample = gst_sample_ref(m_last); // a repeat: the source is quiet, or the view turned
        (void)woken;
        producedVersion = m_geometryVersion;
        if (m_newMedia && m_pushedCaps) {
            gst_caps_unref(m_pushedCaps);
            m_pushedCaps = nullptr;
        }
        m_newMedia = false;
        GstElement *appsrc = GST_ELEMENT(gst_object_ref(m_appsrc));
        GstElement *shader = m_shader ? GST_ELEMENT(gst_object_ref(m_shader)) : nullptr;
        GstElement *outCaps = m_outCaps ? GST_ELEMENT(gst_object_ref(m_outCaps)) : nullptr;
        lock.unlock();

        produce(sample, appsrc, shader, outCaps);

        gst_object_unref(appsrc);
        if (shader)
            gst_object_unref(shader);
        if (outCaps)
            gst_object_unref(outCaps);
        lock.lock();
        if (fresh) {
            if (m_last)
                gst_sample_unref(m_last);
            m_last = sample;
        } else if (sample) {
            gst_sample_unref(sample);
        }
    }
}

GstBuffer *ViewChannel::missingFrame(GstCaps **caps) const
{
    GstVideoInfo info;
    gst_video_info_set_format(&info, GST_VIDEO_FORMAT_I420, guint(m_output.width), guint(m_output.height));
    GST_VIDEO_INFO_FPS_N(&info) = m_output.fps;
    GST_VIDEO_INFO_FPS_D(&info) = 1;
    // The constants are limited-range BT.601.
    gst_video_colorimetry_from_string(&info.colorimetry, GST_VIDEO_COLORIMETRY_BT601);
    GstBuffer *buffer = gst_buffer_new_allocate(nullptr, info.size, nullptr);
    GstVideoFrame frame;
    if (gst_video_frame_map(&frame, &info, buffer, GST_MAP_WRITE)) {
        const uint8_t values[3] = {RemapTable::kMissingY, RemapTable::kMissingU, RemapTable::kMissingV};
        for (guint p = 0; p < 3; ++p) {
            auto *data = static_cast<uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p));
            const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p);
            const int rows = GST_VIDEO_FRAME_COMP_HEIGHT(&frame, p);
            memset(data, values[p], size_t(stride) * size_t(rows));
        }
        gst_video_frame_unmap(&frame);
    }
    *caps = gst_video_info_to_caps(&info);
    return buffer;
}

GstBuffer *ViewChannel::dewarpCpu(GstSample *sample, GstVideoInfo *outInfo)
{
    GstVideoInfo inInfo;
    GstCaps *caps = gst_sample_get_caps(sample);
    GstBuffer *inBuffer = gst_sample_get_buffer(sample);
    if (!caps || !inBuffer || !gst_video_info_from_caps(&inInfo, caps) ||
        GST_VIDEO_INFO_FORMAT(&inInfo) != GST_VIDEO_FORMAT_I420)
        return nullptr;
    const int inWidth = GST_VIDEO_INFO_WIDTH(&inInfo);
    const int inHeight = GST_VIDEO_INFO_HEIGHT(&inInfo);

    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_tableVersion != m_geometryVersion || m_table.inWidth() != inWidth || m_table.inHeight() != inHeight) {
            m_tableVersion = m_geometryVersion;
            m_table.build(projection(inWidth, inHeight), inWidth, inHeight, m_output.width, m_output.height);
            gdouble kr = 0.299;
            gdouble kb = 0.114;
            gst_video_color_matrix_get_Kr_Kb(inInfo.colorimetry.matrix, &kr, &kb);
            m_table.setMissingColour(kr, kb, inInfo.colorimetry.range == GST_VIDEO_COLOR_RANGE_0_255);
            qCDebug(lcView, "%s: remap table for %dx%d frames built", qUtf8Printable(m_label), inWidth, inHeight);
        }
    }

    // The output keeps the frames' colorimetry: the samples are copied, not converted.
    gst_video_info_set_format(outInfo, GST_VIDEO_FORMAT_I420, guint(m_output.width), guint(m_output.height));
    GST_VIDEO_INFO_FPS_N(outInfo) = m_output.fps;
    GST_VIDEO_INFO_FPS_D(outInfo) = 1;
    outInfo->colorimetry = inInfo.colorimetry;
    outInfo->chroma_site = inInfo.chroma_site;
    GstBuffer *outBuffer = gst_buffer_new_allocate(nullptr, outInfo->size, nullptr);
    GstVideoFrame in;
    GstVideoFrame out;
    if (!gst_video_frame_map(&in, &inInfo, inBuffer, GST_MAP_READ)) {
        gst_buffer_unref(outBuffer);
        return nullptr;
    }
    if (!gst_video_frame_map(&out, outInfo, outBuffer, GST_MAP_WRITE)) {
        gst_video_frame_unmap(&in);
        gst_buffer_unref(outBuffer);
        return nullptr;
    }
    PlanarImage src;
    src.width = inWidth;
    src.height = inHeight;
    MutablePlanarImage dst;
    dst.width = m_output.width;
    dst.height = m_output.height;
    for (int p = 0; p < 3; ++p) {
        src.planes[p] = static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&in, p));
        src.strides[p] = GST_VIDEO_FRAME_PLANE_STRIDE(&in, p);
        dst.planes[p] = static_cast<uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&out, p));
        dst.strides[p] = GST_VIDEO_FRAME_PLANE_STRIDE(&out, p);
    }
    // Alone while the worker keeps up, and every 32nd frame to measure that again; in bands otherwise.
    const bool probe = m_remaps++ % 32 == 0;
    const bool bands = m_pool && m_bands && !probe;
    const qint64 start = g_get_monotonic_time();
    m_table.apply(src, dst, bands ? m_pool.get() : nullptr);
    if (bands) {
        m_inBands.fetch_add(1);
    } else {
        const qint64 took = g_get_monotonic_time() - start;
        m_remapUs = m_remapUs == 0 ? took : (3 * m_remapUs + took) / 4;
        if (m_pool && m_bands != (m_remapUs > m_periodUs)) {
            m_bands = !m_bands;
            qCDebug(lcView, "%s: the remap takes %lld us for a frame period of %lld us; %s", qUtf8Printable(m_label),
                    static_cast<long long>(m_remapUs), static_cast<long long>(m_periodUs),
                    m_bands ? "dewarping in bands on the slice pool" : "dewarping on the view's worker alone");
        }
    }
    gst_video_frame_unmap(&out);
    gst_video_frame_unmap(&in);
    return outBuffer;
}

void ViewChannel::updateUniforms(GstElement *shader, int frameWidth, int frameHeight)
{
    GstStructure *uniforms = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_uniformVersion == m_geometryVersion && m_uniformWidth == frameWidth && m_uniformHeight == frameHeight)
            return;
        m_uniformVersion = m_geometryVersion;
        m_uniformWidth = frameWidth;
        m_uniformHeight = frameHeight;
        uniforms = DefishFilter::uniforms(lens(frameWidth, frameHeight), view(), m_layout);
    }
    g_object_set(shader, "uniforms", uniforms, nullptr);
    gst_structure_free(uniforms);
}

void ViewChannel::produce(GstSample *sample, GstElement *appsrc, GstElement *shader, GstElement *outCaps)
{
    GstBuffer *buffer = nullptr;
    GstCaps *caps = nullptr;
    if (!sample) {
        buffer = missingFrame(&caps);
        if (shader)
            updateUniforms(shader, m_output.width, m_output.height);
    } else if (m_mode == DewarpMode::Cpu) {
        GstVideoInfo info;
        buffer = dewarpCpu(sample, &info);
        if (!buffer)
            return;
        caps = gst_video_info_to_caps(&info);
    } else {
        GstVideoInfo info;
        if (!gst_sample_get_caps(sample) || !gst_sample_get_buffer(sample) ||
            !gst_video_info_from_caps(&info, gst_sample_get_caps(sample)))
            return;
        if (shader)
            updateUniforms(shader, GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info));
        // The frame itself goes on, already in GL memory, in a buffer of our own that shares its
        // memory: the decoder's timestamps mean nothing in the media's pipeline, and it is stamped
        // anew as it leaves appsrc.
        buffer = gst_buffer_copy(gst_sample_get_buffer(sample));
        GST_BUFFER_PTS(buffer) = GST_CLOCK_TIME_NONE;
        GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
        GST_BUFFER_DURATION(buffer) = GST_CLOCK_TIME_NONE;
        caps = gst_caps_copy(gst_sample_get_caps(sample));
        gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, m_output.fps, 1, nullptr);
        // Through RGBA and back, the samples stay as they are only where the frame is converted with
        // the matrix it was made with; what is out of that matrix's gamut is clipped. Untagged video
        // is taken as BT.601 at any size, as libavcodec's encoders make it and its players show it
        // (GStreamer would guess BT.709 above 576 rows). The served stream stays untagged.
        if (!gst_structure_has_field(gst_caps_get_structure(caps, 0), "colorimetry"))
            gst_caps_set_simple(caps, "colorimetry", G_TYPE_STRING, GST_VIDEO_COLORIMETRY_BT601, nullptr);
    }

    const GstCaps *sourceCaps = sample ? gst_sample_get_caps(sample) : caps;
    m_colour->store(H264Colour::ofCaps(sourceCaps).packed());
    if (!m_pushedCaps || !gst_caps_is_equal(m_pushedCaps, caps)) {
        // The GL path converts the dewarped RGBA back with the matrix that the dewarping element
        // converted the frame with.
        GstVideoInfo pushedInfo;
        if (outCaps && gst_video_info_from_caps(&pushedInfo, caps)) {
            g_autofree gchar *colorimetry = gst_video_colorimetry_to_string(&pushedInfo.colorimetry);
            GstCaps *converted = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", nullptr);
            if (colorimetry)
                gst_caps_set_simple(converted, "colorimetry", G_TYPE_STRING, colorimetry, nullptr);
            g_object_set(outCaps, "caps", converted, nullptr);
            gst_caps_unref(converted);
        }
        gst_app_src_set_caps(GST_APP_SRC(appsrc), caps);
        if (m_pushedCaps)
            gst_caps_unref(m_pushedCaps);
        m_pushedCaps = gst_caps_ref(caps);
    }
    gst_caps_unref(caps);
    // Buffers pushed again (repeats) are shared; appsrc timestamps a writable copy of the header.
    if (gst_app_src_push_buffer(GST_APP_SRC(appsrc), buffer) == GST_FLOW_OK)
        m_served.fetch_add(1);
}
