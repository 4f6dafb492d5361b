#include "defish/lensfitter.h"

#include "defish/lensfit.h"
#include "video/producer.h"

#include <QImage>
#include <QLoggingCategory>
#include <cmath>

Q_LOGGING_CATEGORY(lcLensFit, "quillon.defish.lensfit")

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
    m_sum.clear();
    m_count = 0;
    m_width = m_height = 0;
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
    if (m_count == 0 || grey.width() != m_width || grey.height() != m_height) {
        // A new frame size starts the average afresh.
        m_width = grey.width();
        m_height = grey.height();
        m_factor = (m_width + kMaxWidth - 1) / kMaxWidth;
        m_count = 0;
        m_sum.fill(0, (m_width / m_factor) * (m_height / m_factor));
    }
    const int w = m_width / m_factor, h = m_height / m_factor;
    for (int y = 0; y < h * m_factor; ++y) {
        const uchar *line = grey.constScanLine(y);
        quint32 *sum = m_sum.data() + (y / m_factor) * w;
        for (int x = 0; x < w * m_factor; ++x)
            sum[x / m_factor] += line[x];
    }
    if (++m_count >= m_frames)
        finish();
    else if (m_producer)
        m_producer->grabFrames(m_frames - m_count);
}

void LensFitter::finish()
{
    m_timeout.stop();
    disconnect(m_connection);
    const int w = m_width / m_factor, h = m_height / m_factor;
    const quint32 cells = quint32(m_count) * quint32(m_factor) * quint32(m_factor);
    QImage average(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        uchar *line = average.scanLine(y);
        const quint32 *sum = m_sum.constData() + y * w;
        for (int x = 0; x < w; ++x)
            line[x] = uchar((sum[x] + cells / 2) / cells);
    }
    QElapsedTimer fitClock;
    fitClock.start();
    const LensFitResult fit = LensFit(average.constBits(), w, h, average.bytesPerLine()).fit();
    const qint64 fitMs = fitClock.elapsed();
    if (!fit.found) {
        fail(QString::fromStdString(fit.reason));
        return;
    }
    const double x = fit.centerX * m_factor, y = fit.centerY * m_factor, r = fit.radius * m_factor;
    double centerX = 0, centerY = 0, radius = 0;
    toSliders(m_width, m_height, x, y, r, &centerX, &centerY, &radius);
    qCInfo(lcLensFit,
           "Lens circle found in %d frames of %dx%d: centre (%.1f, %.1f) px from the top left, radius %.1f px "
           "(%d of %d boundary points, rms %.2f px; fit %lld ms, all %lld ms)",
           m_count, m_width, m_height, x, y, r, fit.inliers, fit.points, fit.rms * m_factor, fitMs, m_clock.elapsed());
    setMessage(tr("Lens circle found: centre %1, %2 px, radius %3 px")
                   .arg(x, 0, 'f', 0)
                   .arg(m_height - 1 - y, 0, 'f', 0)
                   .arg(r, 0, 'f', 0));
    setBusy(false);
    emit fitted(centerX, centerY, radius);
}

void LensFitter::fail(const QString &reason)
{
    m_timeout.stop();
    disconnect(m_connection);
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
