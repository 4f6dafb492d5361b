#pragma once

#include "defish/fisheyeprojection.h"

#include <QImage>
#include <QString>
#include <QSize>

typedef struct _GstElement GstElement;
typedef struct _GstStructure GstStructure;
typedef struct _GObjectClass GObjectClass;
typedef unsigned int guint;

// "quillondefish": a GStreamer GL filter that draws the dewarped view straight from the planes of a
// YUV frame, at whatever size its source pad is given (the pane's size on screen).
//
// The lens mapping is worked out once per change of the view, not per pixel per frame: a lookup
// texture holds, for every output pixel, the frame position FisheyeProjection::sample() gives for its
// centre (16 bits per axis, packed in RGBA8 so that any GL stack takes it). Each frame then costs one
// lookup and one bilinear sample per plane, with the colour conversion in the same pass. With
// "defish" false the element draws the frame as it is, scaled to the output size, which lets the raw
// pane share the dewarped pane's upload of each frame.
//
// Properties:
//   uniforms  GstStructure  the defish shader's uniforms (iCamWidth, iCamHeight, iCamCenterX,
//                           iCamCenterY, iCamRadius, iCamFOV, iRatio, iRoll, iTilt, iPan, iFov), as
//                           glshader takes them; until they are set the view is drawn in the shader's
//                           missing colour, as the shader does. Beyond the shader's: iCamProjection
//                           (the lens projection), and for a picture other than one perspective view
//                           iMode, iMount, iAzimuth, iUpper, iLower and iQuad0Roll ... iQuad3Fov
//                           (FisheyeLayout); missing, they read as an equidistant lens and one view.
//   defish    gboolean      TRUE (default): the dewarped view; FALSE: the frame as it is.
// Input: I420, NV12 or RGBA in GL memory; output: RGBA in GL memory, at any size.
namespace DefishFilter {

// Registers the element with GStreamer (once per process; any thread). False when the GL library
// refuses it.
bool registerElement();

// The element's factory name.
constexpr const char *kFactoryName = "quillondefish";

// The "uniforms" structure for a lens, a view in camera angles and the picture's layout, as the
// element (and, for one perspective view of an equidistant lens, glshader) takes it; the caller frees it.
GstStructure *uniforms(const FisheyeLens &lens, const FisheyeView &view, const FisheyeLayout &layout = {});

// Installs the two properties both dewarping elements share: "uniforms" (GstStructure) and "defish"
// (gboolean, default TRUE, described by defishBlurb), with the given property ids.
void installProperties(GObjectClass *klass, guint uniformsId, guint defishId, const char *defishBlurb);

// The projection a "uniforms" structure describes (fields it lacks read as 0); an invalid one for none.
FisheyeProjection projection(const GstStructure *uniforms);

// Whether a GL_RENDERER string names a software rasteriser (Mesa's llvmpipe, softpipe, swrast).
bool isSoftwareRenderer(const QString &renderer);

// Draws the last frame the element received once more, at width x height, through the element's
// current lookup (read back from GL). Null without a frame, a GL context or a valid size.
QImage render(GstElement *element, QSize size);

// Whether this GL stack runs the element: one small frame goes through it in a pipeline of its own
// (checked once per process, the result kept). *why says what failed where it does not.
bool works(QString *why = nullptr);

// GL_RENDERER of the GL stack that check ran on (empty where it got no GL context).
QString renderer();

} // namespace DefishFilter
