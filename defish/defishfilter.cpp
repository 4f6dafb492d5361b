#include "defish/defishfilter.h"

#include "defish/defishlogging.h"
#include "defish/fisheyeprojection.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gl/gl.h>
#include <gst/gl/gstglfuncs.h>
#include <gst/video/video.h>

#include <QString>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// One pass: the output pixel's frame position from the lookup texture (or the output position itself
// without LOOKUP), then the frame's planes sampled there and converted to RGB.
const char *const kFragmentBody = R"(
varying vec2 v_texcoord;
uniform sampler2D tex;
uniform sampler2D texU;
uniform sampler2D texV;
uniform sampler2D lut;
uniform vec3 yuvOffset;
uniform vec3 coeffR;
uniform vec3 coeffG;
uniform vec3 coeffB;

vec4 frameAt(vec2 p)
{
#if defined(PLANES_RGBA)
    return texture2D(tex, p);
#else
#if defined(PLANES_I420)
    vec3 yuv = vec3(texture2D(tex, p).r, texture2D(texU, p).r, texture2D(texV, p).r);
#elif defined(UV_LUMINANCE_ALPHA)
    vec3 yuv = vec3(texture2D(tex, p).r, texture2D(texU, p).ra);
#else
    vec3 yuv = vec3(texture2D(tex, p).r, texture2D(texU, p).rg);
#endif
    yuv -= yuvOffset;
    return vec4(dot(coeffR, yuv), dot(coeffG, yuv), dot(coeffB, yuv), 1.0);
#endif
}

void main()
{
#if defined(LOOKUP)
    vec4 e = floor(texture2D(lut, v_texcoord) * 255.0 + 0.5);
    vec2 xy = vec2(e.r * 256.0 + e.g, e.b * 256.0 + e.a);
    if (xy.x > 65534.5)
        gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0);
    else
        gl_FragColor = frameAt(xy / 65534.0);
#else
    gl_FragColor = frameAt(v_texcoord);
#endif
}
)";

// A frame position is stored as 0..65534 per axis; 65535 marks a pixel with nothing to show.
constexpr float kLutScale = 65534.0f;
constexpr quint16 kLutMissing = 65535;

enum class Planes { Rgba, I420, Nv12 };

struct Uniforms
{
    FisheyeLens lens;
    FisheyeView view;
    FisheyeLayout layout;
};

// The quad's fields, "iQuad0Roll" ... "iQuad3Fov".
QByteArray quadField(int index, const char *angle)
{
    return QByteArray("iQuad") + QByteArray::number(index) + angle;
}


// What the element keeps besides its GstGLFilter part.
struct State
{
    // Written on any thread (properties, incoming buffers), read on the GL thread.
    std::mutex lock;
    Uniforms uniforms;
    GstStructure *uniformsStructure = nullptr;
    bool defish = true;
    unsigned generation = 1;
    GstBuffer *lastInput = nullptr;
    GstVideoInfo lastInputInfo;

    // GL thread only.
    GstGLShader *shader = nullptr;
    QString shaderKey;
    GLuint lut = 0;
    int lutWidth = 0;
    int lutHeight = 0;
    unsigned lutGeneration = 0;
};

} // namespace

struct QuillonDefish
{
    GstGLFilter parent;
    State *state;
};

struct QuillonDefishClass
{
    GstGLFilterClass parent_class;
};

G_DEFINE_TYPE(QuillonDefish, quillon_defish, GST_TYPE_GL_FILTER)

#define QUILLON_DEFISH(obj) (reinterpret_cast<QuillonDefish *>(obj))

namespace {

enum { PROP_0, PROP_UNIFORMS, PROP_DEFISH };

const char *const kSinkCaps = "video/x-raw(memory:GLMemory), format=(string){ I420, NV12, RGBA }, "
                              "width=(int)[1,2147483647], height=(int)[1,2147483647], "
                              "framerate=(fraction)[0/1,2147483647/1], texture-target=(string)2D";
const char *const kSrcCaps = "video/x-raw(memory:GLMemory), format=(string)RGBA, "
                             "width=(int)[1,2147483647], height=(int)[1,2147483647], "
                             "framerate=(fraction)[0/1,2147483647/1], texture-target=(string)2D";

float fieldAsFloat(const GstStructure *s, const char *name)
{
    const GValue *v = gst_structure_get_value(s, name);
    if (!v)
        return 0.0f;
    if (G_VALUE_HOLDS_FLOAT(v))
        return g_value_get_float(v);
    if (G_VALUE_HOLDS_DOUBLE(v))
        return float(g_value_get_double(v));
    if (G_VALUE_HOLDS_INT(v))
        return float(g_value_get_int(v));
    return 0.0f;
}

// An enumeration's field, which a caller may have set as a float as glshader takes every uniform.
int fieldAsInt(const GstStructure *s, const char *name)
{
    const float value = fieldAsFloat(s, name);
    return std::isfinite(value) && std::fabs(value) < 1000.0f ? int(std::lround(value)) : -1;
}

Uniforms uniformsFrom(const GstStructure *s)
{
    Uniforms u;
    u.lens.width = fieldAsFloat(s, "iCamWidth");
    u.lens.height = fieldAsFloat(s, "iCamHeight");
    u.lens.centerX = fieldAsFloat(s, "iCamCenterX");
    u.lens.centerY = fieldAsFloat(s, "iCamCenterY");
    u.lens.radius = fieldAsFloat(s, "iCamRadius");
    u.lens.fov = fieldAsFloat(s, "iCamFOV");
    u.view.ratio = fieldAsFloat(s, "iRatio");
    u.view.roll = fieldAsFloat(s, "iRoll");
    u.view.tilt = fieldAsFloat(s, "iTilt");
    u.view.pan = fieldAsFloat(s, "iPan");
    u.view.fov = fieldAsFloat(s, "iFov");
    // Fields the structure lacks, or values out of range, read as an equidistant lens and one perspective view.
    const int projection = fieldAsInt(s, "iCamProjection");
    if (projection >= 0 && projection <= int(FisheyeLensProjection::Orthographic))
        u.lens.projection = FisheyeLensProjection(projection);
    const int mode = fieldAsInt(s, "iMode");
    if (mode >= 0 && mode <= int(FisheyeViewMode::HalfPanorama))
        u.layout.mode = FisheyeViewMode(mode);
    const int mount = fieldAsInt(s, "iMount");
    if (mount >= 0 && mount <= int(FisheyeMount::Floor))
        u.layout.mount = FisheyeMount(mount);
    u.layout.azimuth = fieldAsFloat(s, "iAzimuth");
    u.layout.upper = fieldAsFloat(s, "iUpper");
    u.layout.lower = fieldAsFloat(s, "iLower");
    for (int i = 0; i < 4; ++i) {
        FisheyeView &q = u.layout.quad[i];
        q.roll = fieldAsFloat(s, quadField(i, "Roll").constData());
        q.tilt = fieldAsFloat(s, quadField(i, "Tilt").constData());
        q.pan = fieldAsFloat(s, quadField(i, "Pan").constData());
        q.fov = fieldAsFloat(s, quadField(i, "Fov").constData());
    }
    return u;
}

// The frame position behind every output pixel's centre, rows from the top, packed for kFragmentBody.
std::vector<quint8> buildLookup(const Uniforms &u, int width, int height)
{
    std::vector<quint8> texels(size_t(width) * size_t(height) * 4);
    const FisheyeProjection projection(u.lens, u.view, FisheyeMount::Wall, u.layout);
    const bool valid = projection.isValid();
    quint8 *out = texels.data();
    for (int j = 0; j < height; ++j) {
        const float v = (float(j) + 0.5f) / float(height);
        for (int i = 0; i < width; ++i, out += 4) {
            const float uu = (float(i) + 0.5f) / float(width);
            float x = 0.0f, y = 0.0f;
            quint16 px = kLutMissing, py = kLutMissing;
            if (valid && projection.sample(uu, v, &x, &y)) {
                px = quint16(std::lround(double(x) * kLutScale));
                py = quint16(std::lround(double(y) * kLutScale));
            }
            out[0] = quint8(px >> 8);
            out[1] = quint8(px & 0xff);
            out[2] = quint8(py >> 8);
            out[3] = quint8(py & 0xff);
        }
    }
    return texels;
}

Planes planesOf(GstVideoFormat format)
{
    switch (format) {
    case GST_VIDEO_FORMAT_I420:
        return Planes::I420;
    case GST_VIDEO_FORMAT_NV12:
        return Planes::Nv12;
    default:
        return Planes::Rgba;
    }
}

// Compiles the program for the frame's layout and the element's mode, unless the one at hand fits.
GstGLShader *ensureShader(QuillonDefish *self, GstGLContext *context, Planes planes, bool lumaAlpha, bool lookup)
{
    State *s = self->state;
    QString defines;
    defines += planes == Planes::I420   ? QStringLiteral("#define PLANES_I420\n")
               : planes == Planes::Rgba ? QStringLiteral("#define PLANES_RGBA\n")
                                        : QString();
    if (lumaAlpha)
        defines += QStringLiteral("#define UV_LUMINANCE_ALPHA\n");
    if (lookup)
        defines += QStringLiteral("#define LOOKUP\n");
    if (s->shader && s->shaderKey == defines)
        return s->shader;
    if (s->shader)
        gst_object_unref(s->shader);
    s->shader = nullptr;
    s->shaderKey = defines;

    const QByteArray text =
        QByteArray(gst_gl_shader_string_get_highest_precision(
            context, GST_GLSL_VERSION_NONE, GstGLSLProfile(GST_GLSL_PROFILE_ES | GST_GLSL_PROFILE_COMPATIBILITY))) +
        "\n" + defines.toLatin1() + kFragmentBody;
    GError *error = nullptr;
    GstGLShader *shader = gst_gl_shader_new_link_with_stages(
        context, &error, gst_glsl_stage_new_default_vertex(context),
        gst_glsl_stage_new_with_string(context, GL_FRAGMENT_SHADER, GST_GLSL_VERSION_NONE,
                                       GstGLSLProfile(GST_GLSL_PROFILE_ES | GST_GLSL_PROFILE_COMPATIBILITY),
                                       text.constData()),
        nullptr);
    if (!shader) {
        GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("The defish program does not compile"),
                          ("%s", error ? error->message : "unknown error"));
        g_clear_error(&error);
        return nullptr;
    }
    s->shader = shader;
    return shader;
}

// The YUV to RGB conversion of the frame's colorimetry, as coefficients of the sampled values.
void setColourUniforms(GstGLShader *shader, const GstVideoInfo &info)
{
    gdouble kr = 0.299, kb = 0.114;
    if (!gst_video_color_matrix_get_Kr_Kb(info.colorimetry.matrix, &kr, &kb)) {
        kr = 0.299;
        kb = 0.114;
    }
    gint offset[4] = {16, 128, 128, 0}, scale[4] = {219, 224, 224, 0};
    if (GST_VIDEO_INFO_IS_YUV(&info))
        gst_video_color_range_offsets(info.colorimetry.range, info.finfo, offset, scale);
    const double kg = 1.0 - kr - kb;
    const double ky = 255.0 / scale[0];
    const double kc = 255.0 / scale[1];
    gst_gl_shader_set_uniform_3f(shader, "yuvOffset", float(offset[0] / 255.0), float(offset[1] / 255.0),
                                 float(offset[2] / 255.0));
    gst_gl_shader_set_uniform_3f(shader, "coeffR", float(ky), 0.0f, float(2.0 * (1.0 - kr) * kc));
    gst_gl_shader_set_uniform_3f(shader, "coeffG", float(ky), float(-2.0 * kb * (1.0 - kb) / kg * kc),
                                 float(-2.0 * kr * (1.0 - kr) / kg * kc));
    gst_gl_shader_set_uniform_3f(shader, "coeffB", float(ky), float(2.0 * (1.0 - kb) * kc), 0.0f);
}

void bindTexture(const GstGLFuncs *gl, GLenum unit, GLuint texture, GLint filter)
{
    gl->ActiveTexture(unit);
    gl->BindTexture(GL_TEXTURE_2D, texture);
    gl->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    gl->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    gl->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl->TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

void uploadLookup(const GstGLFuncs *gl, GLuint texture, const Uniforms &u, int width, int height)
{
    const std::vector<quint8> texels = buildLookup(u, width, height);
    bindTexture(gl, GL_TEXTURE4, texture, GL_NEAREST);
    gl->PixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gl->TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
}

// One frame drawn into out: the program chosen, the planes and the lookup bound, the quad drawn.
// GL thread only; lut is the lookup texture for out's size (0 without lookup).
bool drawFrame(QuillonDefish *self, GstGLContext *context, GstVideoFrame *in, GstGLMemory *out, GLuint lut)
{
    GstGLFilter *filter = GST_GL_FILTER(self);
    const GstGLFuncs *gl = context->gl_vtable;
    const Planes planes = planesOf(GST_VIDEO_FRAME_FORMAT(in));
    bool lumaAlpha = false;
    if (planes == Planes::Nv12)
        lumaAlpha = gst_gl_memory_get_texture_format(reinterpret_cast<GstGLMemory *>(in->map[1].memory)) ==
                    GST_GL_LUMINANCE_ALPHA;
    GstGLShader *shader = ensureShader(self, context, planes, lumaAlpha, lut != 0);
    if (!shader)
        return false;
    // GstGLFilter binds the first plane itself (as "tex", on unit 1); the others go on units 2 to 4.
    gst_gl_shader_use(shader);
    gst_gl_shader_set_uniform_1i(shader, "texU", 2);
    gst_gl_shader_set_uniform_1i(shader, "texV", 3);
    gst_gl_shader_set_uniform_1i(shader, "lut", 4);
    setColourUniforms(shader, in->info);
    const auto plane = [in](int i) {
        return gst_gl_memory_get_texture_id(reinterpret_cast<GstGLMemory *>(in->map[i].memory));
    };
    if (planes != Planes::Rgba)
        bindTexture(gl, GL_TEXTURE2, plane(1), GL_LINEAR);
    if (planes == Planes::I420)
        bindTexture(gl, GL_TEXTURE3, plane(2), GL_LINEAR);
    if (lut)
        bindTexture(gl, GL_TEXTURE4, lut, GL_NEAREST);
    gst_gl_filter_render_to_target_with_shader(filter, reinterpret_cast<GstGLMemory *>(in->map[0].memory), out, shader);
    gl->ActiveTexture(GL_TEXTURE0);
    return true;
}

struct FilterCall
{
    QuillonDefish *self;
    GstBuffer *inbuf;
    GstBuffer *outbuf;
    bool ok = false;
};

void filterOnGlThread(GstGLContext *context, gpointer data)
{
    auto *call = static_cast<FilterCall *>(data);
    QuillonDefish *self = call->self;
    GstGLFilter *filter = GST_GL_FILTER(self);
    State *s = self->state;
    const GstGLFuncs *gl = context->gl_vtable;

    Uniforms uniforms;
    bool defish = true;
    unsigned generation = 0;
    {
        std::lock_guard<std::mutex> lock(s->lock);
        uniforms = s->uniforms;
        defish = s->defish;
        generation = s->generation;
    }
    const int width = GST_VIDEO_INFO_WIDTH(&filter->out_info);
    const int height = GST_VIDEO_INFO_HEIGHT(&filter->out_info);
    if (defish) {
        if (!s->lut)
            gl->GenTextures(1, &s->lut);
        if (s->lutGeneration != generation || s->lutWidth != width || s->lutHeight != height) {
            uploadLookup(gl, s->lut, uniforms, width, height);
            s->lutGeneration = generation;
            s->lutWidth = width;
            s->lutHeight = height;
        }
    }

    GstVideoFrame in, out;
    if (!gst_video_frame_map(&in, &filter->in_info, call->inbuf, GstMapFlags(GST_MAP_READ | GST_MAP_GL)))
        return;
    if (!gst_video_frame_map(&out, &filter->out_info, call->outbuf, GstMapFlags(GST_MAP_WRITE | GST_MAP_GL))) {
        gst_video_frame_unmap(&in);
        return;
    }
    call->ok = drawFrame(self, context, &in, reinterpret_cast<GstGLMemory *>(out.map[0].memory), defish ? s->lut : 0);
    gst_video_frame_unmap(&out);
    gst_video_frame_unmap(&in);
}

gboolean quillonDefishFilter(GstGLFilter *filter, GstBuffer *inbuf, GstBuffer *outbuf)
{
    QuillonDefish *self = QUILLON_DEFISH(filter);
    {
        std::lock_guard<std::mutex> lock(self->state->lock);
        gst_buffer_replace(&self->state->lastInput, inbuf);
        self->state->lastInputInfo = filter->in_info;
    }
    FilterCall call{self, inbuf, outbuf};
    gst_gl_context_thread_add(GST_GL_BASE_FILTER(filter)->context, filterOnGlThread, &call);
    return call.ok;
}

GstCaps *quillonDefishTransformInternalCaps(GstGLFilter *, GstPadDirection direction, GstCaps *caps, GstCaps *)
{
    GstCaps *result = gst_caps_new_empty();
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        GstStructure *s = gst_structure_copy(gst_caps_get_structure(caps, i));
        gst_structure_set(s, "width", GST_TYPE_INT_RANGE, 1, G_MAXINT, "height", GST_TYPE_INT_RANGE, 1, G_MAXINT,
                          nullptr);
        gst_structure_remove_fields(s, "pixel-aspect-ratio", "colorimetry", "chroma-site", nullptr);
        if (direction == GST_PAD_SINK) {
            gst_structure_set(s, "format", G_TYPE_STRING, "RGBA", nullptr);
        } else {
            GValue formats = G_VALUE_INIT;
            gst_value_list_init(&formats, 3);
            for (const char *f : {"I420", "NV12", "RGBA"}) {
                GValue v = G_VALUE_INIT;
                g_value_init(&v, G_TYPE_STRING);
                g_value_set_static_string(&v, f);
                gst_value_list_append_and_take_value(&formats, &v);
            }
            gst_structure_take_value(s, "format", &formats);
        }
        const GstCapsFeatures *features = gst_caps_get_features(caps, i);
        result = gst_caps_merge_structure_full(result, s, features ? gst_caps_features_copy(features) : nullptr);
    }
    return result;
}

void quillonDefishGlStop(GstGLBaseFilter *base)
{
    State *s = QUILLON_DEFISH(base)->state;
    if (s->shader)
        gst_object_unref(s->shader);
    s->shader = nullptr;
    s->shaderKey.clear();
    if (s->lut && base->context)
        base->context->gl_vtable->DeleteTextures(1, &s->lut);
    s->lut = 0;
    s->lutGeneration = 0;
    GST_GL_BASE_FILTER_CLASS(quillon_defish_parent_class)->gl_stop(base);
}

gboolean quillonDefishStop(GstBaseTransform *trans)
{
    State *s = QUILLON_DEFISH(trans)->state;
    {
        std::lock_guard<std::mutex> lock(s->lock);
        gst_buffer_replace(&s->lastInput, nullptr);
    }
    return GST_BASE_TRANSFORM_CLASS(quillon_defish_parent_class)->stop(trans);
}

void quillonDefishSetProperty(GObject *object, guint id, const GValue *value, GParamSpec *pspec)
{
    State *s = QUILLON_DEFISH(object)->state;
    std::lock_guard<std::mutex> lock(s->lock);
    switch (id) {
    case PROP_UNIFORMS: {
        const GstStructure *structure = gst_value_get_structure(value);
        if (s->uniformsStructure)
            gst_structure_free(s->uniformsStructure);
        s->uniformsStructure = structure ? gst_structure_copy(structure) : nullptr;
        s->uniforms = structure ? uniformsFrom(structure) : Uniforms();
        ++s->generation;
        break;
    }
    case PROP_DEFISH:
        s->defish = g_value_get_boolean(value);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

void quillonDefishGetProperty(GObject *object, guint id, GValue *value, GParamSpec *pspec)
{
    State *s = QUILLON_DEFISH(object)->state;
    std::lock_guard<std::mutex> lock(s->lock);
    switch (id) {
    case PROP_UNIFORMS:
        gst_value_set_structure(value, s->uniformsStructure);
        break;
    case PROP_DEFISH:
        g_value_set_boolean(value, s->defish);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

void quillonDefishFinalize(GObject *object)
{
    State *s = QUILLON_DEFISH(object)->state;
    gst_buffer_replace(&s->lastInput, nullptr);
    if (s->uniformsStructure)
        gst_structure_free(s->uniformsStructure);
    delete s;
    G_OBJECT_CLASS(quillon_defish_parent_class)->finalize(object);
}

} // namespace

static void quillon_defish_class_init(QuillonDefishClass *klass)
{
    GObjectClass *object = G_OBJECT_CLASS(klass);
    object->set_property = quillonDefishSetProperty;
    object->get_property = quillonDefishGetProperty;
    object->finalize = quillonDefishFinalize;
    DefishFilter::installProperties(object, PROP_UNIFORMS, PROP_DEFISH,
                                    "Draw the dewarped view (TRUE) or the frame as it is (FALSE)");

    GstElementClass *element = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_pad_template(
        element, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, gst_caps_from_string(kSinkCaps)));
    gst_element_class_add_pad_template(
        element, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, gst_caps_from_string(kSrcCaps)));
    gst_element_class_set_static_metadata(element, "Quillon defish", "Filter/Effect/Video",
                                          "Dewarps a fisheye frame through a lookup texture, sampling its planes",
                                          "Quillon");

    GST_BASE_TRANSFORM_CLASS(klass)->stop = quillonDefishStop;
    GST_GL_BASE_FILTER_CLASS(klass)->supported_gl_api =
        GstGLAPI(GST_GL_API_OPENGL | GST_GL_API_OPENGL3 | GST_GL_API_GLES2);
    GST_GL_BASE_FILTER_CLASS(klass)->gl_stop = quillonDefishGlStop;
    GST_GL_FILTER_CLASS(klass)->filter = quillonDefishFilter;
    GST_GL_FILTER_CLASS(klass)->transform_internal_caps = quillonDefishTransformInternalCaps;
}

static void quillon_defish_init(QuillonDefish *self)
{
    self->state = new State;
    gst_video_info_init(&self->state->lastInputInfo);
}

namespace DefishFilter {

GstStructure *uniforms(const FisheyeLens &lens, const FisheyeView &view, const FisheyeLayout &layout)
{
    GstStructure *s = gst_structure_new(
        "uniforms", "iCamWidth", G_TYPE_FLOAT, lens.width, "iCamHeight", G_TYPE_FLOAT, lens.height, "iCamCenterX",
        G_TYPE_FLOAT, lens.centerX, "iCamCenterY", G_TYPE_FLOAT, lens.centerY, "iCamRadius", G_TYPE_FLOAT, lens.radius,
        "iCamFOV", G_TYPE_FLOAT, lens.fov, "iRatio", G_TYPE_FLOAT, view.ratio, "iRoll", G_TYPE_FLOAT, view.roll,
        "iTilt", G_TYPE_FLOAT, view.tilt, "iPan", G_TYPE_FLOAT, view.pan, "iFov", G_TYPE_FLOAT, view.fov, nullptr);
    // Every field a float, as glshader sets its uniforms; what the shader's program lacks stays out of the
    // structure where it would say nothing new.
    if (lens.projection != FisheyeLensProjection::Equidistant)
        gst_structure_set(s, "iCamProjection", G_TYPE_FLOAT, float(lens.projection), nullptr);
    if (layout.mode != FisheyeViewMode::Perspective) {
        gst_structure_set(s, "iMode", G_TYPE_FLOAT, float(layout.mode), "iMount", G_TYPE_FLOAT, float(layout.mount), "iAzimuth",
                          G_TYPE_FLOAT, layout.azimuth, "iUpper", G_TYPE_FLOAT, layout.upper, "iLower", G_TYPE_FLOAT,
                          layout.lower, nullptr);
        for (int i = 0; i < 4; ++i) {
            const FisheyeView &q = layout.quad[i];
            gst_structure_set(s, quadField(i, "Roll").constData(), G_TYPE_FLOAT, q.roll,
                              quadField(i, "Tilt").constData(), G_TYPE_FLOAT, q.tilt, quadField(i, "Pan").constData(),
                              G_TYPE_FLOAT, q.pan, quadField(i, "Fov").constData(), G_TYPE_FLOAT, q.fov, nullptr);
        }
    }
    return s;
}

void installProperties(GObjectClass *klass, guint uniformsId, guint defishId, const char *defishBlurb)
{
    g_object_class_install_property(
        klass, uniformsId,
        g_param_spec_boxed("uniforms", "Uniforms", "The defish shader's uniforms, as glshader takes them",
                           GST_TYPE_STRUCTURE, GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(klass, defishId,
                                    g_param_spec_boolean("defish", "Defish", defishBlurb, TRUE,
                                                         GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
}

FisheyeProjection projection(const GstStructure *uniforms)
{
    if (!uniforms)
        return FisheyeProjection();
    const Uniforms u = uniformsFrom(uniforms);
    return FisheyeProjection(u.lens, u.view, FisheyeMount::Wall, u.layout);
}

bool isSoftwareRenderer(const QString &renderer)
{
    for (const char *name : {"llvmpipe", "softpipe", "swrast", "software"}) {
        if (renderer.contains(QLatin1String(name), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool registerElement()
{
    static const bool registered =
        gst_element_register(nullptr, kFactoryName, GST_RANK_NONE, quillon_defish_get_type());
    return registered;
}

namespace {

struct RenderCall
{
    QuillonDefish *self;
    GstBuffer *input;
    GstVideoInfo inputInfo;
    Uniforms uniforms;
    QSize size;
    QImage image;
};

// The snapshot: the last frame drawn once more at the requested size, into a framebuffer of its own
// (the element's own one has its depth buffer at the pane's size).
void renderOnGlThread(GstGLContext *context, gpointer data)
{
    auto *call = static_cast<RenderCall *>(data);
    GstGLFilter *filter = GST_GL_FILTER(call->self);
    const GstGLFuncs *gl = context->gl_vtable;

    GstVideoInfo outInfo;
    gst_video_info_set_format(&outInfo, GST_VIDEO_FORMAT_RGBA, guint(call->size.width()), guint(call->size.height()));
    GstGLVideoAllocationParams *params = gst_gl_video_allocation_params_new(context, nullptr, &outInfo, 0, nullptr,
                                                                            GST_GL_TEXTURE_TARGET_2D, GST_GL_RGBA8);
    GstGLMemoryAllocator *allocator = gst_gl_memory_allocator_get_default(context);
    auto *out = reinterpret_cast<GstGLMemory *>(
        gst_gl_base_memory_alloc(GST_GL_BASE_MEMORY_ALLOCATOR(allocator), (GstGLAllocationParams *)params));
    gst_gl_allocation_params_free((GstGLAllocationParams *)params);
    gst_object_unref(allocator);
    if (!out)
        return;

    GLuint lut = 0;
    gl->GenTextures(1, &lut);
    uploadLookup(gl, lut, call->uniforms, call->size.width(), call->size.height());

    GstVideoFrame in;
    if (gst_video_frame_map(&in, &call->inputInfo, call->input, GstMapFlags(GST_MAP_READ | GST_MAP_GL))) {
        GstGLFramebuffer *own = gst_gl_framebuffer_new(context);
        GstGLFramebuffer *pane = filter->fbo;
        filter->fbo = own;
        const bool drawn = drawFrame(call->self, context, &in, out, lut);
        filter->fbo = pane;
        gst_object_unref(own);
        gst_video_frame_unmap(&in);
        QImage image(call->size, QImage::Format_RGBA8888);
        if (drawn && !image.isNull() && image.bytesPerLine() == call->size.width() * 4 &&
            gst_gl_memory_read_pixels(out, image.bits()))
            call->image = image;
    }
    gl->DeleteTextures(1, &lut);
    gst_memory_unref(GST_MEMORY_CAST(out));
}

} // namespace

QImage render(GstElement *element, QSize size)
{
    if (!element || G_TYPE_FROM_INSTANCE(element) != quillon_defish_get_type() || size.isEmpty())
        return {};
    QuillonDefish *self = QUILLON_DEFISH(element);
    GstGLContext *context = GST_GL_BASE_FILTER(element)->context;
    RenderCall call{self, nullptr, {}, {}, size, {}};
    {
        std::lock_guard<std::mutex> lock(self->state->lock);
        if (!self->state->lastInput || !context)
            return {};
        call.input = gst_buffer_ref(self->state->lastInput);
        call.inputInfo = self->state->lastInputInfo;
        call.uniforms = self->state->uniforms;
    }
    GstGLContext *held = GST_GL_CONTEXT(gst_object_ref(context));
    gst_gl_context_thread_add(held, renderOnGlThread, &call);
    gst_object_unref(held);
    gst_buffer_unref(call.input);
    return call.image;
}

namespace {

void readRenderer(GstGLContext *context, gpointer data)
{
    const GstGLFuncs *gl = context->gl_vtable;
    const GLubyte *name = gl->GetString ? gl->GetString(GL_RENDERER) : nullptr;
    *static_cast<QString *>(data) = name ? QString::fromLatin1(reinterpret_cast<const char *>(name)) : QString();
}

// A 64x64 grey ramp (luma = 2 x column + 32) through the element, dewarped with a view straight down
// the lens axis: the picture's centre column samples the frame's centre column. *renderer gets the GL
// stack's GL_RENDERER where the element got a context.
bool probe(QString *why, QString *renderer)
{
    if (!registerElement()) {
        *why = QStringLiteral("the element could not be registered");
        return false;
    }
    const int w = 64, h = 64;
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(
        "appsrc name=src format=time caps=video/x-raw,format=I420,width=64,height=64,framerate=1/1 "
        "! glupload ! quillondefish name=defish ! video/x-raw(memory:GLMemory),format=RGBA,width=32,height=32 "
        "! gldownload ! video/x-raw,format=RGBA ! appsink name=sink sync=false",
        &error);
    if (!pipeline || error) {
        *why = QString::fromUtf8(error ? error->message : "no pipeline");
        g_clear_error(&error);
        if (pipeline)
            gst_object_unref(pipeline);
        return false;
    }
    GstElement *defish = gst_bin_get_by_name(GST_BIN(pipeline), "defish");
    GstStructure *uniforms =
        DefishFilter::uniforms(FisheyeLens{float(w), float(h), w / 2.0f, h / 2.0f, w / 2.0f, 180.0f},
                               FisheyeView{0.0f, 0.0f, 0.0f, 60.0f, 1.0f});
    g_object_set(defish, "uniforms", uniforms, nullptr);
    gst_structure_free(uniforms);
    gst_object_unref(defish);

    std::vector<quint8> frame(size_t(w * h + 2 * (w / 2) * (h / 2)), 128);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
            frame[size_t(j * w + i)] = quint8(2 * i + 32);
    GstElement *src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBuffer *buffer = gst_buffer_new_memdup(frame.data(), frame.size());
    GST_BUFFER_PTS(buffer) = 0;
    gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 20 * GST_SECOND);
    bool ok = false;
    if (!sample) {
        GstBus *bus = gst_element_get_bus(pipeline);
        GstMessage *msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
        GError *err = nullptr;
        gchar *debug = nullptr;
        if (msg)
            gst_message_parse_error(msg, &err, &debug);
        *why = err ? QStringLiteral("%1 (%2)").arg(QString::fromUtf8(err->message), QString::fromUtf8(debug))
                   : QStringLiteral("no picture came out within 20 s");
        g_clear_error(&err);
        g_free(debug);
        if (msg)
            gst_message_unref(msg);
        gst_object_unref(bus);
    } else {
        GstMapInfo map;
        GstBuffer *out = gst_sample_get_buffer(sample);
        if (out && gst_buffer_map(out, &map, GST_MAP_READ) && map.size >= 32 * 32 * 4) {
            // Output column 16 looks along the axis: the frame's centre, luma 2 x 32 + 32 = 96.
            const quint8 *centre = map.data + (16 * 32 + 16) * 4;
            const int expected = int(std::lround((96 - 16) * 255.0 / 219.0));
            ok = std::abs(centre[0] - expected) <= 8 && std::abs(centre[1] - expected) <= 8 &&
                 std::abs(centre[2] - expected) <= 8;
            if (!ok)
                *why = QStringLiteral("the test picture came out wrong (%1,%2,%3 where %4 was due)")
                           .arg(centre[0])
                           .arg(centre[1])
                           .arg(centre[2])
                           .arg(expected);
            gst_buffer_unmap(out, &map);
        } else {
            *why = QStringLiteral("the test picture could not be read");
        }
        gst_sample_unref(sample);
        GstElement *element = gst_bin_get_by_name(GST_BIN(pipeline), "defish");
        if (GstGLContext *context = GST_GL_BASE_FILTER(element)->context)
            gst_gl_context_thread_add(context, readRenderer, renderer);
        gst_object_unref(element);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(src);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return ok;
}

} // namespace

namespace {

struct ProbeResult
{
    bool works = false;
    QString why;
    QString renderer;
};

const ProbeResult &probeOnce()
{
    static std::once_flag once;
    static ProbeResult result;
    std::call_once(once, [] { result.works = probe(&result.why, &result.renderer); });
    return result;
}

} // namespace

bool works(QString *why)
{
    const ProbeResult &result = probeOnce();
    if (why)
        *why = result.why;
    return result.works;
}

QString renderer()
{
    return probeOnce().renderer;
}

} // namespace DefishFilter
