#include "video/videologging.h"

Q_LOGGING_CATEGORY(lcVideo, "quillon.video")
Q_LOGGING_CATEGORY(lcProducer, "quillon.video.producer")
Q_LOGGING_CATEGORY(lcConsumer, "quillon.video.consumer")
Q_LOGGING_CATEGORY(lcProcess, "quillon.video.process")
Q_LOGGING_CATEGORY(lcHeapTrim, "quillon.video.heaptrim")
Q_LOGGING_CATEGORY(lcGst, "quillon.video.gst")
