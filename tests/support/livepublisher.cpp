#include "support/livepublisher.h"

#include <QString>
#include <gst/gst.h>

LivePublisher::LivePublisher(int port)
{
    GstElement *pipeline = gst_parse_launch(
        QStringLiteral("videotestsrc is-live=true ! video/x-raw,width=320,height=240,framerate=15/1 ! "
                       "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=15 ! mpegtsmux alignment=7 ! "
                       "zmqsink endpoint=\"tcp://127.0.0.1:%1\"")
            .arg(port)
            .toUtf8()
            .constData(),
        nullptr);
    if (!pipeline)
        return;
    gst_object_ref_sink(pipeline);
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        return;
    }
    m_pipeline = pipeline;
}

LivePublisher::~LivePublisher()
{
    if (!m_pipeline)
        return;
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    gst_object_unref(m_pipeline);
}
