#include "support/lensreference.h"

#include <QProcess>
#include <QRect>
#include <QtMath>

namespace LensReference {
namespace {

// The fisheye square inside the frame, in pixels from the top-left corner.
constexpr int kFrameWidth = 640;
constexpr int kFrameHeight = 480;
constexpr int kSquare = 400;
constexpr int kLeft = 180;
constexpr int kTop = 50;
constexpr int kLensFov = 180;

bool runFfmpeg(const QStringList &arguments, QByteArray *out, QString *error)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 QStringList{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                             QStringLiteral("-nostdin"), QStringLiteral("-y")} +
                     arguments);
    if (!ffmpeg.waitForStarted(10000) || !ffmpeg.waitForFinished(60000) ||
        ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0) {
        ffmpeg.kill();
        *error = QStringLiteral("ffmpeg %1: %2")
                     .arg(arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(ffmpeg.readAllStandardError()));
        return false;
    }
    if (out)
        *out = ffmpeg.readAllStandardOutput();
    return true;
}

// The equirectangular test card: colour bars, a white grid and text, its first frame.
QString card()
{
    return QStringLiteral("testsrc2=size=2048x1024:rate=5,drawgrid=w=64:h=64:t=3:c=white,"
                          "drawtext=text='UP LEFT':fontsize=90:fontcolor=black:x=700:y=300:box=1:boxcolor=white");
}

// A view's vertical field of view for its horizontal one on a size.width() x size.height() picture.
double verticalFov(double zoom, const QSize &size)
{
    return 2.0 * qRadiansToDegrees(std::atan(std::tan(qDegreesToRadians(zoom) / 2.0) * size.height() / size.width()));
}

bool rawRgb(const QStringList &arguments, int width, int height, QImage *image, QString *error)
{
    QByteArray raw;
    if (!runFfmpeg(arguments + QStringList{QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-")},
                   &raw, error))
        return false;
    if (raw.size() != width * height * 3) {
        *error = QStringLiteral("v360 gave %1 bytes for %2x%3").arg(raw.size()).arg(width).arg(height);
        return false;
    }
    *image = QImage(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        memcpy(image->scanLine(y), raw.constData() + y * width * 3, size_t(width) * 3);
    return true;
}

} // namespace

namespace {

// A still clip of the lens circle of kSquare pixels off the middle of the frame: one frame of the card
// through a v360 lens of projection input looking at pitch, held (the card's clock would change it
// every frame), with the extra encoder options.
bool makeSquareClip(const QString &path, const QString &card, const QString &input, double pitch,
                    const QStringList &extra, Clip *clip, QString *error)
{
    clip->path = path;
    clip->width = kFrameWidth;
    clip->height = kFrameHeight;
    clip->radius = kSquare / 2.0;
    clip->centerX = kLeft + kSquare / 2.0;
    // The program measures the centre from the bottom: it lies height - 1 - centerY below the top.
    clip->centerY = kFrameHeight - 1 - (kTop + kSquare / 2.0);
    clip->fov = kLensFov;
    clip->input = input;
    const QString lens = QStringLiteral("v360=input=e:output=%1:h_fov=%2:v_fov=%2:w=%3:h=%3:pitch=%4,"
                                        "pad=%5:%6:%7:%8:black")
                             .arg(input)
                             .arg(kLensFov)
                             .arg(kSquare)
                             .arg(pitch)
                             .arg(kFrameWidth)
                             .arg(kFrameHeight)
                             .arg(kLeft)
                             .arg(kTop);
    return runFfmpeg(QStringList{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), card,
                                 QStringLiteral("-vf"), QStringLiteral("select=eq(n\\,0),loop=loop=99:size=1,") + lens,
                                 QStringLiteral("-r"), QStringLiteral("5"), QStringLiteral("-frames:v"),
                                 QStringLiteral("100"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
                                 QStringLiteral("-crf"), QStringLiteral("4"), QStringLiteral("-pix_fmt"),
                                 QStringLiteral("yuv420p")} +
                         extra + QStringList{clip->path},
                     nullptr, error);
}

} // namespace

bool makeClip(const QString &dir, Clip *clip, QString *error, double pitch)
{
    return makeSquareClip(
        dir + QStringLiteral("/lens-reference%1.mkv").arg(pitch == 0 ? QString() : QString::number(pitch)), card(),
        QStringLiteral("fisheye"), pitch, {}, clip, error);
}

namespace {

// A flat test card (colour bars, a white grid) as a 160-degree fisheye circle on a black frame. v360
// fills the corners of its square with picture beyond the lens's angle: its alpha mask, cut to the
// circle with a one-pixel soft edge, lays the circle alone on the frame.
QString fisheyeGraph(int width, int height, int centerX, int centerY, int radius, const QString &tail)
{
    return QStringLiteral(
               "[0]drawgrid=w=48:h=48:t=3:c=white,format=rgba,v360=input=flat:"
               "ih_fov=165:iv_fov=165:"
               "output=fisheye:h_fov=160:v_fov=160:w=%1:h=%1:alpha_mask=1,"
               "geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='alpha(X,Y)*clip(%2+0.5-hypot(X+0.5-%2,Y+0.5-%2),0,1)'"
               "[f];color=black:s=%3x%4[bg];[bg][f]overlay=%5:%6:shortest=1,%7")
        .arg(2 * radius)
        .arg(radius)
        .arg(width)
        .arg(height)
        .arg(centerX - radius)
        .arg(centerY - radius)
        .arg(tail);
}

QStringList cardInput()
{
    return {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
            QStringLiteral("testsrc2=size=1024x768:rate=5:duration=0.2")};
}

} // namespace

bool makeLensClip(const QString &dir, int width, int height, int centerX, int centerY, int radius, Clip *clip,
                  QString *error, const QStringList &colour)
{
    clip->path = dir + QStringLiteral("/lens-%1x%2-%3-%4-%5%6.mkv")
                           .arg(width)
                           .arg(height)
                           .arg(centerX)
                           .arg(centerY)
                           .arg(radius)
                           .arg(colour.join(QString()));
    clip->width = width;
    clip->height = height;
    clip->centerX = centerX;
    clip->centerY = height - 1 - centerY;
    clip->radius = radius;
    clip->fov = 160;
    // One frame of the card, held: its clock would change the picture every frame.
    return runFfmpeg(cardInput() +
                         QStringList{QStringLiteral("-filter_complex"),
                                     fisheyeGraph(width, height, centerX, centerY, radius,
                                                  QStringLiteral("format=yuv420p,loop=loop=99:size=1")),
                                     QStringLiteral("-r"), QStringLiteral("5"), QStringLiteral("-frames:v"),
                                     QStringLiteral("100"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
                                     QStringLiteral("-crf"), QStringLiteral("23")} +
                         colour + QStringList{clip->path},
                     nullptr, error);
}

QImage fisheyeStill(const QString &dir, int width, int height, int centerX, int centerY, int radius, bool compress,
                    QString *error)
{
    const QStringList raw = {QStringLiteral("-frames:v"), QStringLiteral("1"),        QStringLiteral("-f"),
                             QStringLiteral("rawvideo"),  QStringLiteral("-pix_fmt"), QStringLiteral("gray"),
                             QStringLiteral("-")};
    QByteArray grey;
    if (compress) {
        Clip clip;
        if (!makeLensClip(dir, width, height, centerX, centerY, radius, &clip, error) ||
            !runFfmpeg(QStringList{QStringLiteral("-i"), clip.path} + raw, &grey, error))
            return {};
    } else if (!runFfmpeg(cardInput() +
                              QStringList{QStringLiteral("-filter_complex"),
                                          fisheyeGraph(width, height, centerX, centerY, radius,
                                                       QStringLiteral("format=gray"))} +
                              raw,
                          &grey, error)) {
        return {};
    }
    if (grey.size() != width * height) {
        *error = QStringLiteral("ffmpeg gave %1 bytes for %2x%3").arg(grey.size()).arg(width).arg(height);
        return {};
    }
    QImage image(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y)
        memcpy(image.scanLine(y), grey.constData() + y * width, size_t(width));
    return image;
}

QImage render(const Clip &clip, const View &view, int width, int height, QString *error, const QSize &renderSize)
{
    // v360 looks along the lens axis with yaw (our pan), then pitch (our tilt), then roll about the
    // view's own axis, which it counts the other way round.
    const QSize size = renderSize.isValid() ? renderSize : QSize(width, height);
    const double vFov = verticalFov(view.zoom, size);
    const double top = clip.height - 1 - clip.centerY - clip.radius;
    const QString filter =
        QStringLiteral("crop=%1:%1:%2:%3,v360=input=%14:ih_fov=%4:iv_fov=%4:output=flat:h_fov=%5:v_fov=%6:"
                       "w=%7:h=%8:yaw=%9:pitch=%10:roll=%11,scale=%12:%13:flags=fast_bilinear,format=rgb24")
            .arg(2 * clip.radius)
            .arg(clip.centerX - clip.radius)
            .arg(top)
            .arg(clip.fov)
            .arg(view.zoom)
            .arg(vFov, 0, 'f', 4)
            .arg(size.width())
            .arg(size.height())
            .arg(view.pan)
            .arg(view.tilt)
            .arg(-view.roll)
            .arg(width)
            .arg(height)
            .arg(clip.input);
    QImage image;
    if (!rawRgb({QStringLiteral("-i"), clip.path, QStringLiteral("-frames:v"), QStringLiteral("1"),
                 QStringLiteral("-vf"), filter},
                width, height, &image, error))
        return {};
    return image;
}

QImage renderScene(const View &view, int width, int height, QString *error)
{
    const QString filter = QStringLiteral("v360=input=e:output=flat:h_fov=%1:v_fov=%2:w=%3:h=%4:yaw=%5:pitch=%6:"
                                          "roll=%7,format=rgb24")
                               .arg(view.zoom)
                               .arg(verticalFov(view.zoom, QSize(width, height)), 0, 'f', 4)
                               .arg(width)
                               .arg(height)
                               .arg(view.pan)
                               .arg(view.tilt)
                               .arg(-view.roll);
    QImage image;
    if (!rawRgb({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), card(), QStringLiteral("-vf"),
                 QStringLiteral("select=eq(n\\,0),") + filter, QStringLiteral("-frames:v"), QStringLiteral("1")},
                width, height, &image, error))
        return {};
    return image;
}

bool makeProjectionClip(const QString &dir, const QString &input, double pitch, Clip *clip, QString *error)
{
    return makeSquareClip(dir + QStringLiteral("/lens-%1%2.mkv").arg(input).arg(pitch),
                          QStringLiteral("testsrc2=size=2048x1024:rate=5"), input, pitch,
                          {QStringLiteral("-colorspace"), QStringLiteral("bt709"), QStringLiteral("-color_primaries"),
                           QStringLiteral("bt709"), QStringLiteral("-color_trc"), QStringLiteral("bt709")},
                          clip, error);
}

QImage renderRoom(const Clip &clip, double pitch, int width, const QRect &crop, QString *error)
{
    const double top = clip.height - 1 - clip.centerY - clip.radius;
    const QString filter =
        // In RGB before the two copies meet: hstack drops the clip's colour description.
        QStringLiteral("crop=%1:%1:%2:%3,v360=input=%4:ih_fov=%5:iv_fov=%5:output=e:w=%6:h=%7:pitch=%8,"
                       "format=rgb24,split[a][b];[a][b]hstack,crop=%9:%10:%11:%12")
            .arg(2 * clip.radius)
            .arg(clip.centerX - clip.radius)
            .arg(top)
            .arg(clip.input)
            .arg(clip.fov)
            .arg(width)
            .arg(width / 2)
            .arg(-pitch)
            .arg(crop.width())
            .arg(crop.height())
            .arg(crop.x())
            .arg(crop.y());
    QImage image;
    if (!rawRgb({QStringLiteral("-i"), clip.path, QStringLiteral("-frames:v"), QStringLiteral("1"),
                 QStringLiteral("-filter_complex"), filter},
                crop.width(), crop.height(), &image, error))
        return {};
    return image;
}

double psnr(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 0.0;
    const QImage ca = a.convertToFormat(QImage::Format_RGB888);
    const QImage cb = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0.0;
    for (int y = 0; y < ca.height(); ++y) {
        const uchar *pa = ca.constScanLine(y);
        const uchar *pb = cb.constScanLine(y);
        for (int i = 0; i < ca.width() * 3; ++i) {
            const double d = double(pa[i]) - double(pb[i]);
            sum += d * d;
        }
    }
    const double mse = sum / (double(ca.width()) * ca.height() * 3.0);
    return mse == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

} // namespace LensReference
