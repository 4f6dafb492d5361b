#pragma once

class QQuickItem;

// Two faults of the GL video item (GstGLVideoItem) reach an item after it is gone, on its window's render
// thread, and crash the program:
// - an item that joins a window whose scene graph is up leaves set-up work for the render thread, to run at
//   its next synchronisation, that reaches the item itself (a window closed before it drew its new content,
//   then drawn again);
// - the first item to draw makes its own GStreamer GL context the render thread's current one and leaves
//   it so; the other items, and the next ones, take that context, gone with its item.
// Content that goes hands its video items here first.
class VideoItemKeeper
{
public:
    // Keeps item, hidden and out of its content, in its window until the render thread has synchronised the
    // window once more (running everything scheduled before), keeps the render thread's current GStreamer GL
    // context then for as long as the window lives, and deletes the item, on its own thread (or with its
    // window). An item outside any window is left to its parent.
    static void keepUntilSynchronised(QQuickItem *item);
};
