// CPU dewarp speed: the server's remap table applied to I420 frames read from a raw file (up to 60
// of them), on one thread (a view's worker), then cut into bands on a pool of one thread less than
// the machine has cores beside the caller, as a view does that cannot keep up. Prints one line per
// measurement, wall and CPU time per frame, the bands against one thread.
//
//   bench_ostrevan_remap RAW.yuv WIDTH HEIGHT OUT_WIDTH OUT_HEIGHT [FRAMES_TO_RUN] [MODE]
//
// MODE: perspective (default: a view turned away from the lens axis) or another mode's name
// (FisheyeProjection::modeName), seen from a ceiling camera: a panorama from the horizon down to the
// circle's centre.

#include "defish/fisheyeprojection.h"
#include "defish/remaptable.h"
#include "defish/slicepool.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <vector>

namespace {

double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s RAW.yuv WIDTH HEIGHT OUT_WIDTH OUT_HEIGHT [FRAMES_TO_RUN] [MODE]\n", argv[0]);
        return 2;
    }
    const int w = std::atoi(argv[2]);
    const int h = std::atoi(argv[3]);
    const int ow = std::atoi(argv[4]);
    const int oh = std::atoi(argv[5]);
    const int runs = argc > 6 ? std::atoi(argv[6]) : 300;
    FisheyeLayout layout;
    if (argc > 7 && !FisheyeProjection::modeFromName(argv[7], &layout.mode)) {
        std::fprintf(stderr, "unknown mode %s\n", argv[7]);
        return 2;
    }
    layout.mount = FisheyeMount::Ceiling;
    layout.azimuth = -180.0f;
    const size_t frameSize = size_t(w) * h * 3 / 2;

    std::ifstream file(argv[1], std::ios::binary);
    std::vector<std::vector<uint8_t>> frames;
    while (frames.size() < 60) {
        std::vector<uint8_t> frame(frameSize);
        if (!file.read(reinterpret_cast<char *>(frame.data()), std::streamsize(frameSize)))
            break;
        frames.push_back(std::move(frame));
    }
    if (frames.empty()) {
        std::fprintf(stderr, "no frames in %s\n", argv[1]);
        return 1;
    }

    // The lens circle fills the frame height, 180 degrees; a view turned away from the axis.
    const FisheyeLens lens{float(w), float(h), float(w) / 2, float(h) / 2, float(h) / 2, 180.0f};
    const FisheyeView view{0.0f, 30.0f, 45.0f, 90.0f, float(ow) / float(oh)};
    RemapTable table;
    const auto b0 = std::chrono::steady_clock::now();
    table.build(FisheyeProjection(lens, view, FisheyeMount::Wall, layout), w, h, ow, oh);
    const auto b1 = std::chrono::steady_clock::now();
    const char *mode = FisheyeProjection::modeName(layout.mode);
    std::printf("table build %dx%d -> %dx%d %s: %.1f ms\n", w, h, ow, oh, mode,
                std::chrono::duration<double, std::milli>(b1 - b0).count());

    std::vector<uint8_t> out(size_t(ow) * oh * 3 / 2);
    const MutablePlanarImage dst = packedI420(out.data(), ow, oh);

    unsigned checksum = 0;
    double singleMs = 0.0;
    for (const int threads : {0, SlicePool::threadsForThisMachine()}) {
        SlicePool pool(threads);
        const double c0 = cpuMs();
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < runs; ++i) {
            const std::vector<uint8_t> &frame = frames[size_t(i) % frames.size()];
            table.apply(packedI420(frame.data(), w, h), dst, threads > 0 ? &pool : nullptr);
            checksum += out[size_t(i * 7919) % out.size()];
        }
        const auto t1 = std::chrono::steady_clock::now();
        const double ms = std::chrono::duration<double, std::milli>(t1 - t0).count() / runs;
        const double cpu = (cpuMs() - c0) / runs;
        if (threads == 0)
            singleMs = ms;
        std::printf("remap %dx%d -> %dx%d %s, %d thread(s)%s: %.2f ms/frame (CPU %.2f ms/frame), %.1f fps, %.2fx "
                    "one thread (checksum %u)\n",
                    w, h, ow, oh, mode, threads + 1, threads > 0 ? " in bands" : "", ms, cpu, 1000.0 / ms,
                    singleMs / ms, checksum);
        if (threads == 0 && SlicePool::threadsForThisMachine() == 0)
            break;
    }
    return 0;
}
