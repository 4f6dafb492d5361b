#pragma once

#include "defish/fisheyeprojection.h"
#include "defish/lens.h"
#include "defish/remaptable.h"
#include "defish/servedsize.h"
#include "defish/viewaim.h"

#include <gst/gst.h>
#include <gst/video/video.h>

#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class SlicePool;

// How views are dewarped: on the GPU through the dewarping element, or on the CPU with a remap table.
enum class DewarpMode {
    Cpu,
    Gl,
};

// Size and rate of every served view.
struct OutputOptions
{
    int width = ServedSize::kDefaultWidth;
    int height = ServedSize::kDefaultHeight;
    int fps = 15;
    int bitrateKbps = 2000;
};

// One served view between its stream's decoder and its RTSP media.
//
// The decoder's streaming thread offers every frame (offer(), cheap: it keeps the newest frame at
// the view's rate). While a client watches (attach() .. detach()), a worker thread of the view
// dewarps the newest frame and pushes it into the media's appsrc:
//
//   CPU: worker remaps I420 -> appsrc (I420 at the output size) ! x264enc ! h264parse ! rtph264pay
//   GL:  worker passes the frame -> appsrc (the stream's I420, uploaded once for all its views)
//        ! glupload (passes GL memory on) ! quillondefish (samples the planes through its lookup)
//        ! output size ! gldownload ! videoconvert ! outcaps (I420 in the source's colorimetry)
//        ! x264enc ! h264parse ! rtph264pay
//
// The served stream describes its colours as the source does (H264Colour): the CPU path copies the
// samples, the GL path converts back with the matrix it converted with, and the encoder's SPS gets the
// source's colour description, none where the source has none.
//
// A CPU view whose remap takes longer than its frame period (a big picture, a slow machine) cuts
// it into bands that the server's slice pool dewarps beside the worker; every 32nd frame is done
// on the worker alone, to see whether it keeps up without help again.
//
// The media of GL views get their stream's GL display when they are set up, and with it the one
// GL context that all views of the stream share.
//
// Frames are stamped as they leave appsrc, from the media's clock, on the grid of the view's frame
// period, strictly increasing. While the source delivers nothing the worker repeats the last frame twice a second (or a
// frame of the missing colour when there never was one), so clients stay connected across a source restart. The remap
// table and the shader's uniforms follow setGeometry().
class ViewChannel
{
public:
    // pool: where a CPU view's bands go when it cannot keep up alone (null: never in bands).
    ViewChannel(const QString &label, DewarpMode mode, const OutputOptions &output,
                std::shared_ptr<SlicePool> pool = nullptr);
    ~ViewChannel();

    ViewChannel(const ViewChannel &) = delete;
    ViewChannel &operator=(const ViewChannel &) = delete;

    DewarpMode mode() const { return m_mode; }
    const OutputOptions &output() const { return m_output; }

    // The stream's lens (the frame size comes from the frames), the view's aim and, for a panorama or a
    // quad, its layout as read with the file (the aim's own layout map is not read again).
    void setGeometry(const Lens &lens, const ViewAim &aim, const FisheyeLayout &layout = FisheyeLayout());

    // The launch description of the RTSP media for this view.
    QString mediaLaunch() const;

    // Called with the media's elements once it is built (appsrc "src"; the dewarping element "dewarp" or null).
    void attach(GstElement *appsrc, GstElement *shader);
    // Called when that media is torn down.
    void detach(GstElement *appsrc);
    // Ends the stream of the current media (the view was removed) and stops the worker.
    void finish();

    // Decoder thread: a new frame (time in microseconds of the monotonic clock).
    void offer(GstSample *sample, qint64 nowUs);

    quint64 framesServed() const { return m_served.load(); }
    quint64 framesOffered() const { return m_accepted.load(); }
    // CPU views: frames dewarped in bands on the slice pool.
    quint64 framesInBands() const { return m_inBands.load(); }
    // Whether a media is attached (a client watches).
    bool serving() const;
    // The last error of the view's media (its encoder, its payloader), empty for none.
    QString lastError() const;
    // Any thread: the view's media failed.
    void setLastError(const QString &error);

private:
    void run();
    void produce(GstSample *sample, GstElement *appsrc, GstElement *shader, GstElement *outCaps);
    GstBuffer *dewarpCpu(GstSample *sample, GstVideoInfo *outInfo);
    GstBuffer *missingFrame(GstCaps **caps) const;
    void updateUniforms(GstElement *shader, int frameWidth, int frameHeight);
    // The view's lens and direction for a frame size; under m_mutex.
    FisheyeLens lens(int frameWidth, int frameHeight) const;
    FisheyeView view() const;
    FisheyeProjection projection(int frameWidth, int frameHeight) const;

    const QString m_label;
    const DewarpMode m_mode;
    const OutputOptions m_output;
    const qint64 m_periodUs;

    mutable std::mutex m_mutex;
    QString m_lastError; // under m_mutex
    std::condition_variable m_wake;
    GstSample *m_pending = nullptr; // newest offered frame not yet produced
    GstElement *m_appsrc = nullptr;
    GstElement *m_shader = nullptr;
    GstElement *m_outCaps = nullptr; // GL: the capsfilter before the encoder
    bool m_stop = false;
    bool m_finished = false;
    bool m_newMedia = false;
    qint64 m_nextDueUs = 0;
    // Geometry, guarded by m_mutex; m_geometryVersion grows with every change.
    Lens m_lens;
    ViewAim m_aim;
    FisheyeLayout m_layout;
    quint64 m_geometryVersion = 1;

    // Worker-only state.
    GstSample *m_last = nullptr;
    GstCaps *m_pushedCaps = nullptr;
    RemapTable m_table;
    quint64 m_tableVersion = 0;
    const std::shared_ptr<SlicePool> m_pool;
    qint64 m_remapUs = 0; // the remap on the worker alone, smoothed over frames
    quint64 m_remaps = 0;
    bool m_bands = false;
    quint64 m_uniformVersion = 0;
    int m_uniformWidth = 0;
    int m_uniformHeight = 0;

    // The source's colour description (H264Colour::packed()), for the encoders' output.
    const std::shared_ptr<std::atomic<uint32_t>> m_colour;
    std::atomic<quint64> m_served{0};
    std::atomic<quint64> m_accepted{0};
    std::atomic<quint64> m_inBands{0};
    std::thread m_worker;
};
