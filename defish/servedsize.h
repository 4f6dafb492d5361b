#pragma once

#include "defish/fisheyeprojection.h"

// The size at which the streaming server serves every view unless it is started with another; the
// defish window previews and snapshots views at this size and shape. Plain C++: the server takes its
// defaults from here.
namespace ServedSize {

constexpr int kDefaultWidth = 1280;
constexpr int kDefaultHeight = 720;

// The picture of a mode for a server serving perspective views at width x height: a 360-degree
// panorama half as wide again and a quarter as tall as that is wide (1920x480 beside 1280x720), a double
// panorama half as large again each way (1920x1080), a quad and a 180-degree panorama at the size
// itself. Even numbers, as the encoder takes them.
inline void forMode(FisheyeViewMode mode, int width, int height, int *outWidth, int *outHeight)
{
    const auto even = [](int value) { return value < 2 ? 2 : value & ~1; };
    switch (mode) {
    case FisheyeViewMode::Panorama:
        *outWidth = even(width * 3 / 2);
        *outHeight = even(width * 3 / 8);
        return;
    case FisheyeViewMode::DoublePanorama:
        *outWidth = even(width * 3 / 2);
        *outHeight = even(height * 3 / 2);
        return;
    case FisheyeViewMode::Perspective:
    case FisheyeViewMode::Quad:
    case FisheyeViewMode::HalfPanorama:
        break;
    }
    *outWidth = even(width);
    *outHeight = even(height);
}

} // namespace ServedSize
