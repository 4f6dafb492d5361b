#include "video/videoinfo.h"

VideoInfo::VideoInfo(QObject *parent) : QObject(parent) {}

VideoInfo::~VideoInfo() = default;

int VideoInfo::width() const
{
    return m_width;
}

void VideoInfo::setWidth(int width)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_width.load() == width)
        return;
    m_width.store(width);
    emit widthChanged();
}

int VideoInfo::height() const
{
    return m_height;
}

void VideoInfo::setHeight(int height)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_height.load() == height)
        return;
    m_height.store(height);
    emit heightChanged();
}

QString VideoInfo::format() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_format;
}

void VideoInfo::setFormat(const QString &format)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_format == format)
        return;
    m_format = format;
    emit formatChanged();
}
