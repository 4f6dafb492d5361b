// CPU dewarp speed: the server's remap table applied to 1080p I420 frames read from a raw file,
// single-threaded (the server runs one worker per view). Prints one line per measurement.
//
//   bench_ostrevan_remap RAW.yuv WIDTH HEIGHT OUT_WIDTH OUT_HEIGHT [FRAMES_TO_RUN]

#include "defish/fisheyeprojection.h"
#include "platform/ostrevan/remaptable.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

int main(int argc, char **argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: %s RAW.yuv WIDTH HEIGHT OUT_WIDTH OUT_HEIGHT [FRAMES_TO_RUN]\n", argv[0]);
        return 2;
    }
    const int w = std::atoi(argv[2]);
    const int h = std::atoi(argv[3]);
    const int ow = std::atoi(argv[4]);
    const int oh = std::atoi(argv[5]);
    const int runs = argc > 6 ? std::atoi(argv[6]) : 300;
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
    table.build(FisheyeProjection(lens, view), w, h, ow, oh);
    const auto b1 = std::chrono::steady_clock::now();
    std::printf("table build %dx%d -> %dx%d: %.1f ms\n", w, h, ow, oh,
                std::chrono::duration<double, std::milli>(b1 - b0).count());

    std::vector<uint8_t> out(size_t(ow) * oh * 3 / 2);
    MutablePlanarImage dst;
    dst.width = ow;
    dst.height = oh;
    dst.planes[0] = out.data();
    dst.planes[1] = out.data() + size_t(ow) * oh;
    dst.planes[2] = dst.planes[1] + size_t(ow / 2) * (oh / 2);
    dst.strides[0] = ow;
    dst.strides[1] = dst.strides[2] = ow / 2;

    unsigned checksum = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i) {
        const std::vector<uint8_t> &frame = frames[size_t(i) % frames.size()];
        PlanarImage src;
        src.width = w;
        src.height = h;
        src.planes[0] = frame.data();
        src.planes[1] = frame.data() + size_t(w) * h;
        src.planes[2] = src.planes[1] + size_t(w / 2) * (h / 2);
        src.strides[0] = w;
        src.strides[1] = src.strides[2] = w / 2;
        table.apply(src, dst);
        checksum += out[size_t(i * 7919) % out.size()];
    }
    const auto t1 = std::chrono::steady_clock::now();
    const double ms = std::chrono::duration<double, std::milli>(t1 - t0).count() / runs;
    std::printf("remap %dx%d -> %dx%d, 1 thread: %.2f ms/frame, %.1f fps (checksum %u)\n", w, h, ow, oh, ms,
                1000.0 / ms, checksum);
    return 0;
}
