#pragma once

// Routes GStreamer's own log into Qt's, category quillon.video.gst, so that a pane that stays black
// leaves a trace beside the program's other lines. Without GST_DEBUG only warnings and errors pass;
// with it, whatever its thresholds let through. GStreamer's stderr printer is taken out so that
// nothing is printed twice (it stays when GST_DEBUG_FILE sends it to a file).
class GstLogBridge
{
public:
    // Call once, after gst_init(); later calls do nothing.
    static void install();
};
