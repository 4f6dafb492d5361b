#include "app/startup.h"

#include <cstdio>
#include <cstring>

namespace {

const char kHelp[] = "Usage: Quillon [OPTION]...\n"
                     "Set up dewarped views of a site's fisheye cameras.\n"
                     "\n"
                     "Quillon signs in to the site's event server, imports its gateways and fisheye streams, and lets\n"
                     "the operator define dewarped views of each stream (roll, tilt, pan and zoom over the stream's\n"
                     "lens), which it stores in objects.data. While it runs it starts the streaming server ostrevan,\n"
                     "which serves every stored view over RTSP.\n"
                     "\n"
                     "Options:\n"
                     "  -h, --help                 display this help and exit\n"
                     "  -v, --version              output version information and exit\n"
                     "\n"
                     "Every other option goes to GStreamer and to Qt, for example:\n"
                     "  --gst-debug=LIST           GStreamer debug categories and levels (gst-launch-1.0 --help-gst)\n"
                     "  -platform NAME             Qt platform plug-in (xcb, wayland, offscreen ...)\n"
                     "\n"
                     "A display is needed for everything but --help and --version.\n";

// --help and --version are answered here, before GStreamer or a QGuiApplication is created, so
// that they work without a display. Arguments after "--" are never options.
enum class EarlyAnswer { None, Help, Version };

EarlyAnswer earlyAnswer(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--") == 0)
            break;
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "-?") == 0)
            return EarlyAnswer::Help;
        if (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-v") == 0)
            return EarlyAnswer::Version;
    }
    return EarlyAnswer::None;
}

} // namespace

int main(int argc, char *argv[])
{
    switch (earlyAnswer(argc, argv)) {
    case EarlyAnswer::Help:
        std::fputs(kHelp, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case EarlyAnswer::Version:
        std::fputs("Quillon " QUILLON_VERSION "\n", stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case EarlyAnswer::None:
        break;
    }
    return Startup::run(argc, argv);
}
