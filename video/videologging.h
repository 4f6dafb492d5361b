#pragma once

#include <QLoggingCategory>

// Video: the producer, its consumers and the streaming server's process. Sub-categories name the
// part that logs, so one can be turned up alone (QT_LOGGING_RULES=quillon.video.heaptrim.debug=true).
Q_DECLARE_LOGGING_CATEGORY(lcVideo)    // quillon.video
Q_DECLARE_LOGGING_CATEGORY(lcProducer) // quillon.video.producer
Q_DECLARE_LOGGING_CATEGORY(lcConsumer) // quillon.video.consumer
Q_DECLARE_LOGGING_CATEGORY(lcProcess)  // quillon.video.process: the streaming server's process
Q_DECLARE_LOGGING_CATEGORY(lcHeapTrim) // quillon.video.heaptrim
Q_DECLARE_LOGGING_CATEGORY(lcGst)      // quillon.video.gst: GStreamer's own warnings and errors
