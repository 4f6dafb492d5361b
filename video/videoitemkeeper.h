#pragma once

class QQuickItem;

// A GL video item (GstGLVideoItem) that joins a window whose scene graph is up leaves set-up work for the
// window's render thread, to run at its next synchronisation, that reaches the item itself; an item
// destroyed before then is reached all the same, and the program crashes (a window closed before it drew
// its new content, then drawn again). Content that goes hands its video items here first.
class VideoItemKeeper
{
public:
    // Keeps item, hidden and out of its content, in its window until the render thread has run everything
    // scheduled for that window before, and deletes it then, on its own thread (or with its window). An
    // item outside any window is left to its parent.
    static void keepUntilSynchronised(QQuickItem *item);
};
