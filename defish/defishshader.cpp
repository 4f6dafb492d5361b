#include "defish/defishshader.h"

namespace {

// Fisheye-to-perspective fragment shader for glshader.
//
// For each output fragment a ray is cast through the virtual camera's image plane
// (depth axis y, right x, down z), turned by roll (about y), tilt (about x) and pan
// (about z), and mapped to the fisheye frame with the lens's projection (FisheyeLensProjection:
// equidistant unless iCamProjection says otherwise). The frame's
// rows run downwards (the first row is at texture y = 0), and so does z: the ray through
// the top of the view points to -z, towards the top of the frame.
// Rays beyond half the lens field of view, or outside the frame, are drawn red, and so is everything
// while the uniforms are unset, and a picture other than one perspective view (iMode), which only the
// lookup and CPU elements draw.
const char *const kDefishShader = R"(
    #version 120
    #ifdef GL_ES
    precision mediump float;
    #endif

    varying vec2 v_texcoord;

    uniform sampler2D tex;
    uniform float time;
    uniform float width;
    uniform float height;

    uniform float iCamWidth;
    uniform float iCamHeight;
    uniform float iCamCenterX;
    uniform float iCamCenterY;
    uniform float iCamRadius;
    uniform float iCamFOV;
    uniform float iCamProjection;
    uniform float iMode;

    uniform float iRatio;
    uniform float iRoll;
    uniform float iTilt;
    uniform float iPan;
    uniform float iFov;

    const vec4 iMissingColor = vec4(1.0, 0.0, 0.0, 1.0);

    vec3 RotateX(vec3 p, float a)
    {
        float c = cos(a);
        float s = sin(a);
        return vec3(p.x, p.y * c + p.z * s, -p.y * s + p.z * c);
    }

    vec3 RotateY(vec3 p, float a)
    {
        float c = cos(a);
        float s = sin(a);
        return vec3(p.x * c + p.z * s, p.y, -p.x * s + p.z * c);
    }

    vec3 RotateZ(vec3 p, float a)
    {
        float c = cos(a);
        float s = sin(a);
        return vec3(p.x * c + p.y * s, -p.x * s + p.y * c, p.z);
    }

    // The lens's distance from the circle's centre for angle a off its axis, up to a constant factor.
    float LensCurve(float a)
    {
        if (iCamProjection < 1.5)
            return sin(0.5 * a);
        if (iCamProjection < 2.5)
            return tan(0.5 * a);
        return sin(a);
    }

    void main()
    {
        vec3 right = vec3(1.0, 0.0, 0.0);
        vec3 depth = vec3(0.0, 1.0, 0.0);
        vec3 down = vec3(0.0, 0.0, 1.0);
        vec3 origin = vec3(0.0, 0.0, 0.0);

        float fov = iFov * 0.0174532925;
        float camFov = iCamFOV * 0.0174532925;
        float roll = iRoll * 0.0174532925;
        float tilt = iTilt * 0.0174532925;
        float pan = iPan * 0.0174532925;

        float dh = tan(0.5 * fov);
        float dv = dh / iRatio;

        vec3 p1 = depth - dh * right - dv * down; // top left
        vec3 p2 = depth - dh * right + dv * down; // bottom left
        vec3 p4 = depth + dh * right - dv * down; // top right
        vec3 deltah = p4 - p1;
        vec3 deltav = p2 - p1;

        vec3 p = p1 + v_texcoord.x * deltah + v_texcoord.y * deltav - origin;
        p = RotateY(p, roll);
        p = RotateX(p, tilt);
        p = RotateZ(p, pan);

        float theta = atan(p.z, p.x);
        float phi = atan(sqrt(p.x * p.x + p.z * p.z), p.y);

        float r;
        if (iCamProjection < 0.5) {
            r = phi / camFov;
            r = r * (2.0 * iCamRadius / iCamWidth);
        } else {
            r = LensCurve(phi) / LensCurve(0.5 * camFov) * (iCamRadius / iCamWidth);
        }

        float x = iCamCenterX / iCamWidth + r * cos(theta);
        float y = (iCamHeight - 1.0 - iCamCenterY) / iCamHeight + (iCamWidth / iCamHeight) * r * sin(theta);

        // r is in units of the frame width, so r > 1.0 alone does not find the lens circle: a ray more
        // than half the lens field of view off axis is tested by its angle. Until the uniforms are set
        // (all 0) the arithmetic divides by zero, so the picture is red then.
        bool unset = iCamWidth <= 0.0 || iCamHeight <= 0.0 || iCamFOV <= 0.0 || iRatio <= 0.0 || iMode > 0.5
                     || (iCamProjection > 2.5 && iCamFOV > 180.0);
        if (unset || r > 1.0 || 2.0 * phi > camFov || x < 0.0 || x > 1.0 || y < 0.0 || y > 1.0)
            gl_FragColor = iMissingColor;
        else
            gl_FragColor = texture2D(tex, vec2(x, y));
    }
)";

// glshader's default vertex stage (same attribute and varying names, which glshader looks up by
// name), declared as GLSL 1.20 to link with the fragment shader above.
const char *const kDefishVertexShader = R"(
    #version 120
    attribute vec4 a_position;
    attribute vec2 a_texcoord;
    varying vec2 v_texcoord;

    void main()
    {
        gl_Position = a_position;
        v_texcoord = a_texcoord;
    }
)";

} // namespace

namespace DefishShader {

const char *fragment()
{
    return kDefishShader;
}

const char *vertex()
{
    return kDefishVertexShader;
}

} // namespace DefishShader
