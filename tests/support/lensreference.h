#pragma once

// An outside reference for the lens model: fisheye footage made by ffmpeg's v360 filter from an
// equirectangular test card (colour bars, a white grid and text, so that a mirror, a turn or an
// offset shows), and the perspective views that v360 renders from the same frames. No code of ours
// computes either picture.
//
// The lens circle sits off the middle of a wider frame, so a centre measured from the wrong edge
// or a swapped axis shows too.

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

namespace LensReference {

struct Clip
{
    QString path;
    int width = 0;
    int height = 0;
    // The lens as the program stores it: pixels, centreY measured from the bottom of the frame.
    double centerX = 0;
    double centerY = 0;
    double radius = 0;
    double fov = 0;
    // The lens projection as v360 names it: fisheye (equidistant), equisolid, sg, og.
    QString input = QStringLiteral("fisheye");
};

struct View
{
    double roll = 0;
    double tilt = 0;
    double pan = 0;
    double zoom = 90; // horizontal field of view, degrees
};

// Writes a still H.264 clip (20 s at 5 frames per second) into dir. False with a reason when ffmpeg
// fails. A pitch of -90 makes a ceiling camera's picture: the lens looks straight down at the card's
// scene, whose horizon is the rim of the circle.
bool makeClip(const QString &dir, Clip *clip, QString *error, double pitch = 0);

// The test card's scene itself as a perspective camera sees it, width x height RGB: v360 straight
// from the equirectangular card, looking at yaw, pitch and roll (degrees) with a horizontal field of
// view of zoom. Null image with a reason on failure.
QImage renderScene(const View &view, int width, int height, QString *error);

// The view of the clip's first frame as ffmpeg's v360 renders it, width x height RGB. A valid
// renderSize renders at that size first and then scales down bilinearly, as a video item shows a
// larger picture in a smaller pane. Null image with a reason on failure.
QImage render(const Clip &clip, const View &view, int width, int height, QString *error,
              const QSize &renderSize = QSize());

// Fisheye footage with a known lens circle on a dark surround: ffmpeg's v360 turns a flat test card
// (colour bars, a white grid) into a 160-degree fisheye circle of the given radius, laid on a black
// width x height frame with its centre (centerX, centerY) pixels from the top-left corner; the circle
// may reach past the frame. The clip is a still H.264 clip as makeClip writes; its lens is stored in
// clip as the program stores it. colour: ffmpeg's colour options for the clip (e.g. "-colorspace",
// "bt709"); none leaves the clip untagged.
bool makeLensClip(const QString &dir, int width, int height, int centerX, int centerY, int radius, Clip *clip,
                  QString *error, const QStringList &colour = {});

// The first frame of such footage as 8-bit grey, lossless or (compress) through H.264 as live video
// comes. Null image with a reason on failure.
QImage fisheyeStill(const QString &dir, int width, int height, int centerX, int centerY, int radius, bool compress,
                    QString *error);

// A still clip of a smooth test card (colour bars and shapes, no fine grid) through a lens of v360's
// projection input (fisheye, equisolid, sg, og) with a 180-degree field of view, a circle of 400 pixels
// off the middle of a 640x480 frame, looking at pitch (-90: down from a ceiling), tagged BT.709.
bool makeProjectionClip(const QString &dir, const QString &input, double pitch, Clip *clip, QString *error);

// The room around such a clip's camera as v360 unrolls it from the clip's first frame: an
// equirectangular picture of width x width/2 (yaw -180 at the left edge, the horizon across the middle),
// undoing the clip's pitch, laid twice side by side so that a crop may wrap around; then cropped to
// crop. Null image with a reason on failure.
QImage renderRoom(const Clip &clip, double pitch, int width, const QRect &crop, QString *error);

// Peak signal-to-noise ratio over the RGB channels, in dB (99 for equal pictures, 0 when the sizes
// differ).
double psnr(const QImage &a, const QImage &b);

} // namespace LensReference
