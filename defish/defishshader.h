#pragma once

// The defish shader for GStreamer's glshader: its fragment stage and the matching vertex stage.
// Plain C++, no Qt, so that the streaming server takes the very texts the program draws with
// (Utils hands them to QML; fisheyeprojection.cpp is the same arithmetic on the CPU).
namespace DefishShader {

// The fragment stage, GLSL 1.20 (its model is described beside its text).
const char *fragment();
// glshader's "vertex" property: GStreamer's default vertex stage carries no version line, and GL
// refuses to link stages of different versions.
const char *vertex();

} // namespace DefishShader
