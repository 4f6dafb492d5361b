// How fast a new client gets its view while others are watching, and what each active view costs
// the server: for 0, 1 .. N views already watched (one client each, as bench_ostrevan_clients
// does), a new client opens one more view with DESCRIBE, SETUP (RTP over the RTSP connection) and
// PLAY, and the benchmark prints how long the PLAY took to be answered, how long after the PLAY the
// first whole key frame arrived, and the server's resident size (VmRSS) and CPU time.
//
//   bench_ostrevan_join SERVER_PID PORT VIEWS
//
// The server serves the views /CAM/v0 .. /CAM/vN (run.sh writes them).

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/rtsp/rtsp.h>

// After GIO's headers, which use "signals" as a name that Qt defines as a keyword.
#include "bench/video/benchsupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

long residentKiB(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

double nowMs()
{
    return double(g_get_monotonic_time()) / 1000.0;
}

// A watching client that only counts what arrives, as a player would keep its view active.
GstElement *watch(const std::string &url)
{
    GstElement *pipeline = gst_parse_launch("rtspsrc name=src protocols=tcp latency=0 ! rtph264depay ! fakesink",
                                            nullptr);
    GstElement *src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    g_object_set(src, "location", url.c_str(), nullptr);
    gst_object_unref(src);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    return pipeline;
}

GstRTSPMessage *request(GstRTSPConnection *connection, GstRTSPMethod method, const std::string &url,
                        const std::string &session = {}, const char *transport = nullptr)
{
    GstRTSPMessage *message = nullptr;
    gst_rtsp_message_new_request(&message, method, url.c_str());
    if (!session.empty())
        gst_rtsp_message_add_header(message, GST_RTSP_HDR_SESSION, session.c_str());
    if (transport)
        gst_rtsp_message_add_header(message, GST_RTSP_HDR_TRANSPORT, transport);
    const gint64 timeout = 10 * G_USEC_PER_SEC;
    if (gst_rtsp_connection_send_usec(connection, message, timeout) != GST_RTSP_OK) {
        gst_rtsp_message_free(message);
        return nullptr;
    }
    gst_rtsp_message_free(message);
    // Answers only; data before an answer (none here) is skipped.
    for (;;) {
        GstRTSPMessage *reply = nullptr;
        gst_rtsp_message_new(&reply);
        if (gst_rtsp_connection_receive_usec(connection, reply, timeout) != GST_RTSP_OK) {
            gst_rtsp_message_free(reply);
            return nullptr;
        }
        if (gst_rtsp_message_get_type(reply) == GST_RTSP_MESSAGE_RESPONSE)
            return reply;
        gst_rtsp_message_free(reply);
    }
}

struct Join
{
    double playAnsweredMs = -1;
    double firstPictureMs = -1; // after the PLAY was sent
};

// DESCRIBE, SETUP, PLAY on a connection of its own; then RTP until a whole key frame is in.
Join join(const std::string &url)
{
    Join result;
    GstRTSPUrl *parsed = nullptr;
    GstRTSPConnection *connection = nullptr;
    if (gst_rtsp_url_parse(url.c_str(), &parsed) != GST_RTSP_OK ||
        gst_rtsp_connection_create(parsed, &connection) != GST_RTSP_OK)
        return result;
    gst_rtsp_url_free(parsed);
    const gint64 timeout = 10 * G_USEC_PER_SEC;
    if (gst_rtsp_connection_connect_usec(connection, timeout) != GST_RTSP_OK) {
        gst_rtsp_connection_free(connection);
        return result;
    }
    GstRTSPMessage *reply = request(connection, GST_RTSP_DESCRIBE, url);
    if (reply)
        gst_rtsp_message_free(reply);
    reply = request(connection, GST_RTSP_SETUP, url + "/stream=0", {}, "RTP/AVP/TCP;unicast;interleaved=0-1");
    gchar *session = nullptr;
    std::string id;
    if (reply && gst_rtsp_message_get_header(reply, GST_RTSP_HDR_SESSION, &session, 0) == GST_RTSP_OK)
        id = std::string(session).substr(0, std::string(session).find(';'));
    if (reply)
        gst_rtsp_message_free(reply);
    const double played = nowMs();
    reply = request(connection, GST_RTSP_PLAY, url, id);
    if (reply) {
        result.playAnsweredMs = nowMs() - played;
        gst_rtsp_message_free(reply);
    }
    bool keyFrame = false;
    while (result.playAnsweredMs >= 0 && nowMs() - played < 10000) {
        GstRTSPMessage *data = nullptr;
        gst_rtsp_message_new(&data);
        if (gst_rtsp_connection_receive_usec(connection, data, timeout) != GST_RTSP_OK) {
            gst_rtsp_message_free(data);
            break;
        }
        guint8 *body = nullptr;
        guint size = 0;
        if (gst_rtsp_message_get_type(data) == GST_RTSP_MESSAGE_DATA &&
            gst_rtsp_message_get_body(data, &body, &size) == GST_RTSP_OK && size > 14) {
            const int csrc = body[0] & 0x0f;
            const bool marker = body[1] & 0x80;
            const guint8 *payload = body + 12 + 4 * csrc;
            const int type = payload[0] & 0x1f;
            if (type == 5 || (type == 28 && (payload[1] & 0x1f) == 5))
                keyFrame = true;
            if (marker && keyFrame) {
                result.firstPictureMs = nowMs() - played;
                gst_rtsp_message_free(data);
                break;
            }
        }
        gst_rtsp_message_free(data);
    }
    gst_rtsp_connection_close(connection);
    gst_rtsp_connection_free(connection);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SERVER_PID PORT VIEWS\n", argv[0]);
        return 2;
    }
    const int pid = std::atoi(argv[1]);
    const std::string base = std::string("rtsp://127.0.0.1:") + argv[2] + "/CAM/v";
    const int views = std::atoi(argv[3]);
    std::vector<GstElement *> watching;
    const long rss0 = residentKiB(pid);
    std::printf("active views, PLAY answered (ms), first key frame after PLAY (ms), resident (MiB), "
                "resident per active view (MiB), server CPU over the last step (%% of one core)\n");
    for (int active = 0; active <= views; ++active) {
        // Settle, then measure the CPU over 3 s while `active` views are watched.
        std::this_thread::sleep_for(std::chrono::seconds(active == 0 ? 1 : 4));
        const double cpu0 = bench::processCpuSeconds(pid);
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const double cpu = (bench::processCpuSeconds(pid) - cpu0) / 3.0 * 100.0;
        const long rss = residentKiB(pid);
        const Join j = join(base + std::to_string(views));
        std::printf("%d, %.1f, %.1f, %.1f, %.2f, %.0f\n", active, j.playAnsweredMs, j.firstPictureMs, rss / 1024.0,
                    active > 0 ? double(rss - rss0) / 1024.0 / active : 0.0, cpu);
        std::fflush(stdout);
        if (active < views)
            watching.push_back(watch(base + std::to_string(active)));
    }
    for (GstElement *pipeline : watching) {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
    return 0;
}
