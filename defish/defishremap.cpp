#include "defish/defishremap.h"

#include "defish/defishfilter.h"
#include "defish/fisheyeprojection.h"
#include "defish/remaptable.h"

#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>

#include <climits>
#include <mutex>
#include <vector>

namespace {

// Shared between the streaming thread and the threads that set the uniforms or ask for a snapshot.
struct RemapState
{
    std::mutex lock;
    GstStructure *uniforms = nullptr;
    bool defish = true;
    // Bumped on every change of the uniforms; the streaming thread rebuilds its table when it differs.
    unsigned generation = 1;
    GstBuffer *lastInput = nullptr;
    GstVideoInfo lastInputInfo;

    // The streaming thread's own.
    RemapTable table;
    unsigned tableGeneration = 0;
};

// The planes of a mapped I420 frame.
PlanarImage planesOf(const GstVideoFrame &frame)
{
    PlanarImage image;
    image.width = GST_VIDEO_FRAME_WIDTH(&frame);
    image.height = GST_VIDEO_FRAME_HEIGHT(&frame);
    for (int p = 0; p < 3; ++p) {
        image.planes[p] = static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p));
        image.strides[p] = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p);
    }
    return image;
}

MutablePlanarImage mutablePlanesOf(GstVideoFrame &frame)
{
    MutablePlanarImage image;
    image.width = GST_VIDEO_FRAME_WIDTH(&frame);
    image.height = GST_VIDEO_FRAME_HEIGHT(&frame);
    for (int p = 0; p < 3; ++p) {
        image.planes[p] = static_cast<uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p));
        image.strides[p] = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p);
    }
    return image;
}

// A table for frames of in and output of outWidth x outHeight from a uniforms structure (or none); without
// defish, the frame as it is.
void buildTable(RemapTable *table, bool defish, const GstStructure *uniforms, const GstVideoInfo &in, int outWidth,
                int outHeight)
{
    if (!defish) {
        table->buildScale(GST_VIDEO_INFO_WIDTH(&in), GST_VIDEO_INFO_HEIGHT(&in), outWidth, outHeight);
        return;
    }
    const GstVideoColorimetry &c = in.colorimetry;
    gdouble kr = 0.299, kb = 0.114;
    gst_video_color_matrix_get_Kr_Kb(
        c.matrix == GST_VIDEO_COLOR_MATRIX_UNKNOWN ? GST_VIDEO_COLOR_MATRIX_BT601 : c.matrix, &kr, &kb);
    table->setMissingColour(kr, kb, c.range == GST_VIDEO_COLOR_RANGE_0_255);
    table->build(DefishFilter::projection(uniforms), GST_VIDEO_INFO_WIDTH(&in), GST_VIDEO_INFO_HEIGHT(&in), outWidth,
                 outHeight);
}

} // namespace

struct QuillonRemap
{
    GstVideoFilter parent;
    RemapState *state;
};

struct QuillonRemapClass
{
    GstVideoFilterClass parent_class;
};

G_DEFINE_TYPE(QuillonRemap, quillon_remap, GST_TYPE_VIDEO_FILTER)

#define QUILLON_REMAP(obj) (reinterpret_cast<QuillonRemap *>(obj))

namespace {

enum { PROP_0, PROP_UNIFORMS, PROP_DEFISH };

const char *const kCaps = "video/x-raw, format=(string)I420, width=(int)[2,32766], height=(int)[2,32766], "
                          "framerate=(fraction)[0/1,2147483647/1]";

// Any size on the other side; the rest of the caps passes.
GstCaps *quillonRemapTransformCaps(GstBaseTransform *, GstPadDirection, GstCaps *caps, GstCaps *filter)
{
    GstCaps *result = gst_caps_copy(caps);
    for (guint i = 0; i < gst_caps_get_size(result); ++i) {
        GstStructure *s = gst_caps_get_structure(result, i);
        gst_structure_set(s, "width", GST_TYPE_INT_RANGE, 2, 32766, "height", GST_TYPE_INT_RANGE, 2, 32766, nullptr);
        gst_structure_remove_field(s, "pixel-aspect-ratio");
    }
    if (filter) {
        GstCaps *both = gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(result);
        result = both;
    }
    return result;
}

// Without a size from downstream the output takes the frame's (even) size.
GstCaps *quillonRemapFixateCaps(GstBaseTransform *, GstPadDirection, GstCaps *caps, GstCaps *othercaps)
{
    othercaps = gst_caps_truncate(gst_caps_make_writable(othercaps));
    GstStructure *out = gst_caps_get_structure(othercaps, 0);
    const GstStructure *in = gst_caps_get_structure(caps, 0);
    int width = 0, height = 0;
    if (gst_structure_get_int(in, "width", &width) && gst_structure_get_int(in, "height", &height)) {
        gst_structure_fixate_field_nearest_int(out, "width", width & ~1);
        gst_structure_fixate_field_nearest_int(out, "height", height & ~1);
    }
    return gst_caps_fixate(othercaps);
}

GstFlowReturn quillonRemapTransformFrame(GstVideoFilter *filter, GstVideoFrame *in, GstVideoFrame *out)
{
    RemapState *s = QUILLON_REMAP(filter)->state;
    const int outWidth = GST_VIDEO_FRAME_WIDTH(out) & ~1;
    const int outHeight = GST_VIDEO_FRAME_HEIGHT(out) & ~1;
    GstStructure *uniforms = nullptr;
    bool defish = true;
    bool rebuild = false;
    {
        std::lock_guard<std::mutex> lock(s->lock);
        gst_buffer_replace(&s->lastInput, in->buffer);
        s->lastInputInfo = in->info;
        rebuild = s->tableGeneration != s->generation || s->table.inWidth() != GST_VIDEO_FRAME_WIDTH(in) ||
                  s->table.inHeight() != GST_VIDEO_FRAME_HEIGHT(in) || s->table.outWidth() != outWidth ||
                  s->table.outHeight() != outHeight;
        if (rebuild) {
            s->tableGeneration = s->generation;
            uniforms = s->uniforms ? gst_structure_copy(s->uniforms) : nullptr;
            defish = s->defish;
        }
    }
    if (rebuild) {
        buildTable(&s->table, defish, uniforms, in->info, outWidth, outHeight);
        if (uniforms)
            gst_structure_free(uniforms);
    }
    MutablePlanarImage target = mutablePlanesOf(*out);
    target.width = outWidth;
    target.height = outHeight;
    s->table.apply(planesOf(*in), target);
    return GST_FLOW_OK;
}

gboolean quillonRemapStop(GstBaseTransform *trans)
{
    RemapState *s = QUILLON_REMAP(trans)->state;
    std::lock_guard<std::mutex> lock(s->lock);
    gst_buffer_replace(&s->lastInput, nullptr);
    return TRUE;
}

void quillonRemapSetProperty(GObject *object, guint id, const GValue *value, GParamSpec *pspec)
{
    RemapState *s = QUILLON_REMAP(object)->state;
    switch (id) {
    case PROP_UNIFORMS: {
        const GstStructure *set = gst_value_get_structure(value);
        std::lock_guard<std::mutex> lock(s->lock);
        if (s->uniforms)
            gst_structure_free(s->uniforms);
        s->uniforms = set ? gst_structure_copy(set) : nullptr;
        ++s->generation;
        break;
    }
    case PROP_DEFISH: {
        std::lock_guard<std::mutex> lock(s->lock);
        s->defish = g_value_get_boolean(value);
        ++s->generation;
        break;
    }
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

void quillonRemapGetProperty(GObject *object, guint id, GValue *value, GParamSpec *pspec)
{
    RemapState *s = QUILLON_REMAP(object)->state;
    std::lock_guard<std::mutex> lock(s->lock);
    switch (id) {
    case PROP_UNIFORMS:
        gst_value_set_structure(value, s->uniforms);
        break;
    case PROP_DEFISH:
        g_value_set_boolean(value, s->defish);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

void quillonRemapFinalize(GObject *object)
{
    RemapState *s = QUILLON_REMAP(object)->state;
    gst_buffer_replace(&s->lastInput, nullptr);
    if (s->uniforms)
        gst_structure_free(s->uniforms);
    delete s;
    G_OBJECT_CLASS(quillon_remap_parent_class)->finalize(object);
}

} // namespace

static void quillon_remap_class_init(QuillonRemapClass *klass)
{
    GObjectClass *object = G_OBJECT_CLASS(klass);
    object->set_property = quillonRemapSetProperty;
    object->get_property = quillonRemapGetProperty;
    object->finalize = quillonRemapFinalize;
    DefishFilter::installProperties(object, PROP_UNIFORMS, PROP_DEFISH,
                                    "The dewarped view (TRUE) or the frame as it is, scaled (FALSE)");

    GstElementClass *element = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_pad_template(
        element, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, gst_caps_from_string(kCaps)));
    gst_element_class_add_pad_template(
        element, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, gst_caps_from_string(kCaps)));
    gst_element_class_set_static_metadata(element, "Quillon remap", "Filter/Effect/Video",
                                          "Dewarps a fisheye frame on the CPU through a remap table", "Quillon");

    GstBaseTransformClass *transform = GST_BASE_TRANSFORM_CLASS(klass);
    transform->transform_caps = quillonRemapTransformCaps;
    transform->fixate_caps = quillonRemapFixateCaps;
    transform->stop = quillonRemapStop;
    GST_VIDEO_FILTER_CLASS(klass)->transform_frame = quillonRemapTransformFrame;
}

static void quillon_remap_init(QuillonRemap *self)
{
    self->state = new RemapState;
    gst_video_info_init(&self->state->lastInputInfo);
}

namespace DefishRemap {

bool registerElement()
{
    static const bool registered = gst_element_register(nullptr, kFactoryName, GST_RANK_NONE, quillon_remap_get_type());
    return registered;
}

QImage render(GstElement *element, QSize size)
{
    const int width = size.width() & ~1;
    const int height = size.height() & ~1;
    if (!element || G_TYPE_FROM_INSTANCE(element) != quillon_remap_get_type() || width <= 0 || height <= 0)
        return {};
    RemapState *s = QUILLON_REMAP(element)->state;
    GstBuffer *input = nullptr;
    GstVideoInfo inputInfo;
    GstStructure *uniforms = nullptr;
    bool defish = true;
    {
        std::lock_guard<std::mutex> lock(s->lock);
        if (!s->lastInput)
            return {};
        defish = s->defish;
        input = gst_buffer_ref(s->lastInput);
        inputInfo = s->lastInputInfo;
        uniforms = s->uniforms ? gst_structure_copy(s->uniforms) : nullptr;
    }
    RemapTable table;
    buildTable(&table, defish, uniforms, inputInfo, width, height);
    if (uniforms)
        gst_structure_free(uniforms);

    // Dewarped into I420 with the frame's colours, then converted to RGB by GStreamer's converter.
    GstVideoInfo yuvInfo;
    gst_video_info_set_format(&yuvInfo, GST_VIDEO_FORMAT_I420, guint(width), guint(height));
    yuvInfo.colorimetry = inputInfo.colorimetry;
    GstBuffer *yuv = gst_buffer_new_allocate(nullptr, yuvInfo.size, nullptr);
    QImage image(width, height, QImage::Format_RGBX8888);
    GstVideoInfo rgbInfo;
    gst_video_info_set_format(&rgbInfo, GST_VIDEO_FORMAT_RGBx, guint(width), guint(height));
    GstVideoFrame in, dewarped, rgb;
    bool done = false;
    if (gst_video_frame_map(&in, &inputInfo, input, GST_MAP_READ)) {
        if (gst_video_frame_map(&dewarped, &yuvInfo, yuv, GST_MAP_WRITE)) {
            table.apply(planesOf(in), mutablePlanesOf(dewarped));
            gst_video_frame_unmap(&dewarped);
            done = true;
        }
        gst_video_frame_unmap(&in);
    }
    gst_buffer_unref(input);
    GstBuffer *wrapped = gst_buffer_new_wrapped_full(GstMemoryFlags(0), image.bits(), size_t(image.sizeInBytes()), 0,
                                                     size_t(image.sizeInBytes()), nullptr, nullptr);
    rgbInfo.stride[0] = image.bytesPerLine();
    if (done && gst_video_frame_map(&dewarped, &yuvInfo, yuv, GST_MAP_READ)) {
        if (gst_video_frame_map(&rgb, &rgbInfo, wrapped, GST_MAP_WRITE)) {
            GstVideoConverter *converter = gst_video_converter_new(&yuvInfo, &rgbInfo, nullptr);
            gst_video_converter_frame(converter, &dewarped, &rgb);
            gst_video_converter_free(converter);
            gst_video_frame_unmap(&rgb);
        } else {
            done = false;
        }
        gst_video_frame_unmap(&dewarped);
    }
    gst_buffer_unref(wrapped);
    gst_buffer_unref(yuv);
    return done ? image : QImage();
}

} // namespace DefishRemap
