#pragma once

// Counts the GstObjects alive in this process (elements, pads, buses, clocks, GL
// contexts, buffer pools ...), through GStreamer's tracing hooks: a pipeline or
// element left behind shows as a count that grows. The counter itself is a
// tracer, created once and kept; it never touches the objects it counts.
class GstObjectCounter
{
public:
    // Starts counting; objects created before are not counted. Call after
    // gst_init(); later calls do nothing.
    static void install();
    // Objects created since install() and not yet finalised; -1 before install().
    static long live();
};
