#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVector>

#include "defish/lensfit.h"

class Producer;

// Finds the lens circle in a producer's live video for the defish window: averages a few frames as
// grey, at most kMaxWidth pixels wide, runs LensFit on them and reports the circle as the window's
// sliders hold it (per cent of the frame: centre X from the left, centre Y from the bottom, radius of
// the width). When no circle is found, or no frames come, it says why and reports nothing else.
class LensFitter : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Producer *producer READ producer WRITE setProducer NOTIFY producerChanged)
    Q_PROPERTY(int frames READ frames WRITE setFrames NOTIFY framesChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)

public:
    static constexpr int kMaxWidth = 640;
    static constexpr int kFrameTimeoutMs = 5000;

    explicit LensFitter(QObject *parent = nullptr);

    Producer *producer() const;
    void setProducer(Producer *producer);
    int frames() const;
    void setFrames(int frames);
    bool busy() const;
    // The outcome of the last fit, for the operator.
    QString message() const;

    // Starts a fit; false (and the message says why) without a producer or while one runs.
    Q_INVOKABLE bool start();

    // The circle in the average of frames of one size, reduced to at most kMaxWidth pixels wide
    // (by a whole factor, box-averaged), in pixels of the frames; nothing found without frames.
    static LensFitResult fitFrames(const QVector<QImage> &frames);

    // Slider values for a circle in frame pixels from the top-left corner.
    static void toSliders(double width, double height, double x, double y, double r, double *centerX, double *centerY,
                          double *radius);

signals:
    void producerChanged();
    void framesChanged();
    void busyChanged();
    void messageChanged();
    void fitted(qreal centerX, qreal centerY, qreal radius);
    void failed(const QString &reason);

private:
    void onFrame(const QImage &grey);
    void finish();
    void fail(const QString &reason);
    void setBusy(bool busy);
    void setMessage(const QString &message);

    QPointer<Producer> m_producer;
    QMetaObject::Connection m_connection;
    int m_frames = 4;
    bool m_busy = false;
    QString m_message;
    QTimer m_timeout;
    QElapsedTimer m_clock;
    // The frames so far, all of one size.
    QVector<QImage> m_grabbed;
};
