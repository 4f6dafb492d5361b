// Finding the lens circle on pictures of known geometry: fisheye stills that ffmpeg's v360 makes
// (lossless and through H.264), circles drawn here with dark picture content at their edge, and
// pictures that hold no lens circle.
#include "defish/lensfit.h"
#include "support/lensreference.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A textured disc on a noisy dark surround; a dark wedge reaches the rim from the centre.
QImage drawnCircle(int width, int height, double cx, double cy, double r)
{
    QImage image(width, height, QImage::Format_Grayscale8);
    image.fill(QColor(12, 12, 12));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF disc(cx - r, cy - r, 2 * r, 2 * r);
    QRadialGradient shade(QPointF(cx, cy), r);
    shade.setColorAt(0.0, QColor(220, 220, 220));
    shade.setColorAt(1.0, QColor(70, 70, 70));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shade);
    painter.drawEllipse(disc);
    painter.setBrush(QColor(15, 15, 15));
    painter.drawPie(disc, 30 * 16, 25 * 16);
    painter.setBrush(QColor(250, 250, 250));
    for (int i = 0; i < 8; ++i)
        painter.drawRect(QRectF(cx - r / 2 + i * r / 8, cy - r / 3, r / 20, r / 1.5));
    painter.end();
    QRandomGenerator noise(7);
    for (int y = 0; y < height; ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < width; ++x)
            line[x] = uchar(qBound(0, int(line[x]) + int(noise.bounded(9)) - 4, 255));
    }
    return image;
}

LensFitResult fitOf(const QImage &image)
{
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    return LensFit(grey.constBits(), grey.width(), grey.height(), grey.bytesPerLine()).fit();
}

} // namespace

class TestLensFit : public QObject
{
    Q_OBJECT

private slots:
    void findsTheCircle_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("centre");
        QTest::addColumn<int>("radius");
        // Radii from 30 to 50 % of the width, centres off the middle, circles cut by the frame.
        QTest::newRow("v360, 30 %, right of the middle") << "v360" << QSize(640, 480) << QPoint(380, 250) << 192;
        QTest::newRow("v360, 40 %, cut at the bottom") << "v360" << QSize(640, 480) << QPoint(300, 260) << 256;
        QTest::newRow("v360, 50 %, cut on three sides") << "v360" << QSize(640, 480) << QPoint(330, 230) << 320;
        QTest::newRow("v360 through H.264, 35 %") << "v360 h264" << QSize(1280, 960) << QPoint(700, 430) << 448;
        QTest::newRow("v360 through H.264, 16:9, 30 %") << "v360 h264" << QSize(1920, 1080) << QPoint(900, 560) << 576;
        QTest::newRow("drawn, 30 %, up left") << "drawn" << QSize(800, 600) << QPoint(330, 260) << 240;
        QTest::newRow("drawn, 45 %, cut at top and bottom") << "drawn" << QSize(640, 480) << QPoint(340, 250) << 288;
        QTest::newRow("drawn, 50 %, off the middle") << "drawn" << QSize(1280, 720) << QPoint(600, 330) << 640;
    }

    void findsTheCircle()
    {
        QFETCH(QString, kind);
        QFETCH(QSize, size);
        QFETCH(QPoint, centre);
        QFETCH(int, radius);
        QImage image;
        if (kind.startsWith("v360")) {
            QString error;
            image = LensReference::fisheyeStill(m_dir.path(), size.width(), size.height(), centre.x(), centre.y(),
                                                radius, kind.endsWith("h264"), &error);
            QVERIFY2(!image.isNull(), qPrintable(error));
        } else {
            image = drawnCircle(size.width(), size.height(), centre.x(), centre.y(), radius);
        }
        const LensFitResult fit = fitOf(image);
        const QString seen = QStringLiteral("found %1 at (%2, %3) r %4, %5 of %6 points, rms %7: %8")
                                 .arg(fit.found)
                                 .arg(fit.centerX)
                                 .arg(fit.centerY)
                                 .arg(fit.radius)
                                 .arg(fit.inliers)
                                 .arg(fit.points)
                                 .arg(fit.rms)
                                 .arg(QString::fromStdString(fit.reason));
        qInfo("%s", qPrintable(seen));
        QVERIFY2(fit.found && fit.reason.empty(), qPrintable(seen));
        QVERIFY2(std::hypot(fit.centerX - centre.x(), fit.centerY - centre.y()) <= 0.01 * size.width(),
                 qPrintable(seen));
        QVERIFY2(std::fabs(fit.radius - radius) <= 0.01 * radius, qPrintable(seen));
    }

    void reportsWhenThereIsNoCircle_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QString>("reason");
        QImage flat(640, 480, QImage::Format_Grayscale8);
        flat.fill(QColor(128, 128, 128));
        QTest::newRow("flat grey") << flat << "flat or dark";
        QImage black = flat;
        black.fill(Qt::black);
        QTest::newRow("black") << black << "flat or dark";
        // The lens reaches past the whole frame: no dark surround.
        QTest::newRow("picture without a dark surround") << drawnCircle(640, 480, 320, 240, 500) << "";
        // An ordinary camera's picture: bright to the corners, with dark things in it.
        QImage scene = flat;
        {
            QPainter painter(&scene);
            painter.fillRect(QRect(0, 0, 640, 200), QColor(220, 220, 220));
            painter.setBrush(Qt::black);
            painter.drawEllipse(QRect(400, 250, 220, 160));
            painter.fillRect(QRect(40, 300, 120, 150), Qt::black);
        }
        QTest::newRow("a picture that fills the frame") << scene << "not a circular fisheye picture";
        QImage square = black;
        {
            QPainter painter(&square);
            painter.fillRect(QRect(120, 60, 400, 360), QColor(200, 200, 200));
        }
        QTest::newRow("a bright rectangle") << square << "";
        QTest::newRow("centre off the frame") << drawnCircle(640, 480, -120, 240, 400) << "";
        QTest::newRow("a few pixels") << drawnCircle(12, 10, 6, 5, 4) << "too small";
    }

    void reportsWhenThereIsNoCircle()
    {
        QFETCH(QImage, image);
        QFETCH(QString, reason);
        const LensFitResult fit = fitOf(image);
        qInfo("%s (%d of %d points)", fit.reason.c_str(), fit.inliers, fit.points);
        QVERIFY2(!fit.found,
                 qPrintable(QStringLiteral("found (%1, %2) r %3").arg(fit.centerX).arg(fit.centerY).arg(fit.radius)));
        QVERIFY(!fit.reason.empty());
        QVERIFY2(QString::fromStdString(fit.reason).contains(reason), fit.reason.c_str());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestLensFit)
#include "tst_lensfit.moc"
