#include "video/lensfitter.h"

#include "defish/defishlogging.h"
#include "video/producer.h"

#include <QImage>
#include <cmath>

LensFitter::LensFitter(QObject *parent) : QObject(parent)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(kFrameTimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this,
            [this] { fail(tr("no video frames arrived within %1 s").arg(kFrameTimeoutMs / 1000)); });
}

Producer *LensFitter::producer() const
{
    return m_producer;
}

void LensFitter::setProducer(Producer *producer)
{
    if (m_producer == producer)
        return;
    if (m_busy)
        fail(tr("the video source changed"));
    m_producer = producer;
    emit producerChanged();
}

int LensFitter::frames() const
{
    return m_frames;
}

void LensFitter::setFrames(int frames)
{
    frames = qBound(1, frames, 50);
    if (m_frames == frames)
        return;
    m_frames = frames;
    emit framesChanged();
}

bool LensFitter::busy() const
{
    return m_busy;
}

void LensFitter::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    emit busyChanged();
}

QString LensFitter::message() const
{
    return m_message;
}

void LensFitter::setMessage(const QString &message)
{
    if (m_message == message)
        return;
    m_message = message;
    emit messageChanged();
}

bool LensFitter::start()
{
    if (m_busy)
        return false;
    if (!m_producer) {
        fail(tr("there is no video source"));
        return false;
    }
    m_grabbed.clear();
    m_clock.start();
    setBusy(true);
    setMessage(tr("Looking for the lens circle..."));
    m_connection = connect(m_producer, &Producer::frameGrabbed, this, &LensFitter::onFrame);
    m_producer->grabFrames(m_frames);
    m_timeout.start();
    return true;
}

void LensFitter::onFrame(const QImage &grey)
{
    if (!m_busy || grey.isNull() || grey.format() != QImage::Format_Grayscale8)
        return;
    // A new frame size starts the average afresh.
    if (!m_grabbed.isEmpty() && m_grabbed.first().size() != grey.size())
        m_grabbed.clear();
    m_grabbed.append(grey);
    if (m_grabbed.size() >= m_frames)
        finish();
}

LensFitResult LensFitter::fitFrames(const QVector<QImage> &frames)
{
    if (frames.isEmpty() || frames.first().isNull()) {
        LensFitResult none;
        none.reason = "no frames";
        return none;
    }
    const int width = frames.first().width(), height = frames.first().height();
    const int factor = (width + kMaxWidth - 1) / kMaxWidth;
    const int w = width / factor, h = height / factor;
    QVector<quint32> sum(w * h, 0);
    int count = 0;
    for (const QImage &frame : frames) {
        if (frame.size() != QSize(width, height) || frame.format() != QImage::Format_Grayscale8)
            continue;
        ++count;
        for (int y = 0; y < h * factor; ++y) {
            const uchar *line = frame.constScanLine(y);
            quint32 *row = sum.data() + (y / factor) * w;
            for (int x = 0; x < w * factor; ++x)
                row[x / factor] += line[x];
        }
    }
    const quint32 cells = quint32(qMax(1, count)) * quint32(factor) * quint32(factor);
    QImage average(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        uchar *line = average.scanLine(y);
        const quint32 *row = sum.constData() + y * w;
        for (int x = 0; x < w; ++x)
            line[x] = uchar((row[x] + cells / 2) / cells);
    }
    LensFitResult fit = LensFit(average.constBits(), w, h, average.bytesPerLine()).fit();
    // Pixel (i, j) of the reduced picture covers factor x factor pixels from (i, j) * factor.
    fit.centerX *= factor;
    fit.centerY *= factor;
    fit.radius *= factor;
    fit.rms *= factor;
    return fit;
}

void LensFitter::finish()
{
    m_timeout.stop();
    disconnect(m_connection);
    const QVector<QImage> frames = std::move(m_grabbed);
    m_grabbed.clear();
    const int width = frames.first().width(), height = frames.first().height();
    QElapsedTimer fitClock;
    fitClock.start();
    const LensFitResult fit = fitFrames(frames);
    const qint64 fitMs = fitClock.elapsed();
    if (!fit.found) {
        fail(QString::fromStdString(fit.reason));
        return;
    }
    double centerX = 0, centerY = 0, radius = 0;
    toSliders(width, height, fit.centerX, fit.centerY, fit.radius, &centerX, &centerY, &radius);
    qCInfo(lcLensFit,
           "Lens circle found in %d frames of %dx%d: centre (%.1f, %.1f) px from the top left, radius %.1f px "
           "(%d of %d boundary points, rms %.2f px; fit %lld ms, all %lld ms)",
           int(frames.size()), width, height, fit.centerX, fit.centerY, fit.radius, fit.inliers, fit.points, fit.rms,
           fitMs, m_clock.elapsed());
    setMessage(tr("Lens circle found: centre %1, %2 px, radius %3 px")
                   .arg(fit.centerX, 0, 'f', 0)
                   .arg(height - 1 - fit.centerY, 0, 'f', 0)
                   .arg(fit.radius, 0, 'f', 0));
    setBusy(false);
    emit fitted(centerX, centerY, radius);
}

void LensFitter::fail(const QString &reason)
{
    m_timeout.stop();
    disconnect(m_connection);
    m_grabbed.clear();
    if (m_producer)
        m_producer->grabFrames(0);
    qCWarning(lcLensFit, "No lens circle found: %s", qUtf8Printable(reason));
    setMessage(tr("No lens circle found: %1").arg(reason));
    setBusy(false);
    emit failed(reason);
}

void LensFitter::toSliders(double width, double height, double x, double y, double r, double *centerX, double *centerY,
                           double *radius)
{
    // The program measures the centre from the bottom: it lies height - 1 - centerY below the top.
    *centerX = x / width * 100.0;
    *centerY = (height - 1.0 - y) / height * 100.0;
    *radius = r / width * 100.0;
}
