#pragma once

// Test support for the defish shader: a synthetic fisheye frame whose colours tell where a sample was
// taken, a CPU bilinear lookup like GL_LINEAR, and one frame rendered through glshader with the
// shader stages of Utils.
#include "defish/fisheyeprojection.h"

#include <QByteArray>
#include <QMetaType>
#include <QSize>
#include <QString>

struct Picture
{
    int width = 0;
    int height = 0;
    QByteArray rgba; // tightly packed rows, row 0 first in memory

    const uchar *pixel(int x, int y) const
    {
        return reinterpret_cast<const uchar *>(rgba.constData()) + (static_cast<qsizetype>(y) * width + x) * 4;
    }
};

struct Setting
{
    FisheyeLens lens;
    FisheyeView view;
    FisheyeLayout layout;
};
Q_DECLARE_METATYPE(Setting)

// Red grows with x, green with y (20 to 235 across the frame), blue is 200, alpha 255.
Picture syntheticFisheye(int width, int height);
// Inverse of syntheticFisheye's colours for a bilinear sample: the position sampled, in frame pixels
// (texture coordinate times frame size).
double sampledX(const Picture &pic, double red);
double sampledY(const Picture &pic, double green);
// GL_LINEAR lookup with clamp-to-edge at normalised texture position (x, y).
void bilinear(const Picture &pic, float x, float y, double out[4]);
// How a frame is drawn: glcolorconvert ! glshader with the shader stages of Utils, the lookup
// element, the lookup element drawing the frame as it is, or glcolorconvert alone (the frame as it is).
enum class Renderer { Shader, Lookup, LookupRaw, Convert };
// One frame (raw bytes of format RGBA or I420) through appsrc ! glupload ! <renderer> ! gldownload !
// appsink with the uniforms of s, drawn at outSize (empty: the frame's size). Returns an empty picture
// and sets *error when the pipeline fails.
Picture render(const QByteArray &frame, const char *format, int width, int height, const Setting &s, Renderer renderer,
               QSize outSize, QString *error);
// An RGBA picture through glshader at its own size.
Picture renderWithGlShader(const Picture &in, const Setting &s, QString *error);
// The same setting with a lens projection and a layout.
Setting withProjection(Setting s, FisheyeLensProjection projection);
Setting withLayout(Setting s, const FisheyeLayout &layout);
// A setting with the view ratio of the frame (as the defish window sends it).
Setting setting(float w, float h, float cx, float cy, float radius, float lensFov, float roll, float tilt, float pan,
                float fov);
