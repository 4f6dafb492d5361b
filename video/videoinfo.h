#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <mutex>

// Size and format of the frames a producer delivers. The producer writes it from
// a GStreamer streaming thread, so the setters take the object's mutex and emit
// while holding it; receivers on the main thread get the signals queued.
class VideoInfo : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int width READ width WRITE setWidth NOTIFY widthChanged)
    Q_PROPERTY(int height READ height WRITE setHeight NOTIFY heightChanged)
    Q_PROPERTY(QString format READ format WRITE setFormat NOTIFY formatChanged)

public:
    explicit VideoInfo(QObject *parent = nullptr);
    ~VideoInfo() override;

    int width() const;
    void setWidth(int width);
    int height() const;
    void setHeight(int height);
    QString format() const;
    void setFormat(const QString &format);

signals:
    void widthChanged();
    void heightChanged();
    void formatChanged();

private:
    // The getters run on the main thread while a streaming thread may be in a
    // setter: the numbers are atomic and the text is read under the mutex.
    mutable std::mutex m_mutex;
    std::atomic<int> m_width{0};
    std::atomic<int> m_height{0};
    QString m_format;
};
