#pragma once

#include <chrono>

// Hands freed heap memory back to the system once a video pipeline is gone.
//
// Decoded frames and, under software OpenGL, textures are allocated by the
// pipelines' streaming threads, each from a malloc arena of its own. When a
// pipeline stops, the C library keeps the freed pages in those arenas, so opening
// and closing video windows makes the resident size climb by tens of MiB, arena
// by arena, although nothing is leaked. A trim shortly after the last teardown
// returns the pages.
class HeapTrim
{
public:
    // Trims after `delay` on the calling (GUI) thread's event loop; requests made
    // while one is pending are folded into it. Without an event loop it trims now.
    static void schedule(std::chrono::milliseconds delay = kDefaultDelay);

    // Trims at once. Returns whether any memory went back to the system; false
    // where the C library offers no trim.
    static bool trimNow();

    // Caps the number of malloc arenas at kArenas, unless MALLOC_ARENA_MAX says
    // otherwise. By default the C library gives threads up to eight arenas per
    // core; every window's new streaming threads then spread their frames over
    // them and each arena keeps its own resident pages, which a trim cannot
    // return while a few live blocks remain in them, so the resident size climbs
    // from one window to the next. Call before the first thread starts.
    static void limitArenas();
    static constexpr int kArenas = 2;

    // Long enough for the render thread to drop the last frame it showed.
    static constexpr std::chrono::milliseconds kDefaultDelay{500};
};
