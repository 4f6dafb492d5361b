#pragma once

#include <QImage>
#include <QSize>

typedef struct _GstElement GstElement;

// "quillonremap": the CPU counterpart of "quillondefish" for GL stacks that draw in software, where
// uploading every whole frame costs more than dewarping it on the CPU. It dewarps I420 frames through
// a RemapTable, built once per change of the view or of a size, into I420 at whatever size its source
// pad is given (the pane's size on screen), so each frame costs one table lookup and one bilinear
// sample per output pixel and plane; only the small result goes on to GL.
//
// Properties:
//   uniforms  GstStructure  the same "uniforms" structure that quillondefish and glshader take; until
//                           it is set (or where it describes no view) the picture is the shader's
//                           missing colour.
//   defish    gboolean      TRUE (default): the dewarped view; FALSE: the frame as it is, scaled to the
//                           output size, for the raw pane.
// Input: I420 in system memory; output: I420 in system memory, even width and height.
namespace DefishRemap {

// Registers the element with GStreamer (once per process; any thread).
bool registerElement();

// The element's factory name.
constexpr const char *kFactoryName = "quillonremap";

// The last frame the element received, dewarped once more at size (even sizes; odd ones are rounded
// down) and converted to RGB. Null without a frame or a valid size.
QImage render(GstElement *element, QSize size);

} // namespace DefishRemap
