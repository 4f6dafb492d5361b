#pragma once

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>
#include <memory>

typedef struct _GstElement GstElement;

// A shown window with two GL video items side by side ("left" and "right") for
// the video tests, with what the consumers need around it: the qmlglsink plug-in
// loaded and the Utils singleton created. close() undoes it all, in reverse.
class VideoWindow
{
public:
    VideoWindow() = default;
    ~VideoWindow();
    VideoWindow(const VideoWindow &) = delete;
    VideoWindow &operator=(const VideoWindow &) = delete;

    // Each item is itemWidth x itemHeight. False, with error() saying why, when
    // the plug-in or the window cannot be had.
    bool open(int itemWidth, int itemHeight);
    void close();

    QQuickWindow *window() const { return m_window.get(); }
    QQuickItem *left() const { return m_left; }
    QQuickItem *right() const { return m_right; }
    QString error() const { return m_error; }

private:
    GstElement *m_glSink = nullptr;
    bool m_utils = false;
    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<QQuickWindow> m_window;
    QQuickItem *m_left = nullptr;
    QQuickItem *m_right = nullptr;
    QString m_error;
};
