// RTSP clients for the server capacity benchmark: connects to every URL given, counts the H.264
// access units each one receives (no decoding, so the clients cost little CPU), and prints the
// frame rate of each after the run.
//
//   bench_ostrevan_clients SECONDS URL...

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct Client
{
    GstElement *pipeline = nullptr;
    std::atomic<long> frames{0};
};

GstFlowReturn onSample(GstAppSink *sink, gpointer data)
{
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_EOS;
    static_cast<Client *>(data)->frames.fetch_add(1);
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

} // namespace

int main(int argc, char **argv)
{
    gst_init(&argc, &argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SECONDS URL...\n", argv[0]);
        return 2;
    }
    const int seconds = std::atoi(argv[1]);
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 2; i < argc; ++i) {
        auto client = std::make_unique<Client>();
        client->pipeline = gst_parse_launch("rtspsrc name=src protocols=tcp latency=200 ! rtph264depay ! "
                                            "h264parse ! video/x-h264,alignment=au ! appsink name=sink sync=false",
                                            nullptr);
        GstElement *src = gst_bin_get_by_name(GST_BIN(client->pipeline), "src");
        g_object_set(src, "location", argv[i], nullptr);
        gst_object_unref(src);
        GstElement *sink = gst_bin_get_by_name(GST_BIN(client->pipeline), "sink");
        GstAppSinkCallbacks callbacks = {};
        callbacks.new_sample = onSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, client.get(), nullptr);
        gst_object_unref(sink);
        gst_element_set_state(client->pipeline, GST_STATE_PLAYING);
        clients.push_back(std::move(client));
    }
    // Warm-up: the first seconds (connection, first key frame) are not counted.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    std::vector<long> start;
    for (const auto &c : clients)
        start.push_back(c->frames.load());
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double total = 0;
    double worst = 1e9;
    for (size_t i = 0; i < clients.size(); ++i) {
        const double fps = double(clients[i]->frames.load() - start[i]) / seconds;
        std::printf("view %zu: %.1f fps\n", i + 1, fps);
        total += fps;
        worst = std::min(worst, fps);
        gst_element_set_state(clients[i]->pipeline, GST_STATE_NULL);
        gst_object_unref(clients[i]->pipeline);
    }
    std::printf("views %zu: worst %.1f fps, mean %.1f fps\n", clients.size(), worst, total / clients.size());
    return 0;
}
