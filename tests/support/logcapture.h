#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects every log line written while it exists, from any thread, so a test can
// check the exact texts the code logs. Lines still go to the previous handler;
// with Echo::QuietDebug debug lines are only collected, for chatty subsystems.
class LogCapture
{
public:
    enum class Echo { All, QuietDebug };

    struct Line
    {
        QtMsgType type;
        QString text;
    };

    explicit LogCapture(Echo echo = Echo::All);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QList<Line> lines() const;
    QStringList texts() const;
    QStringList texts(QtMsgType type) const;
    // The texts collected so far, which are then forgotten.
    QStringList take();
    void clear();

    bool contains(const QString &text) const { return texts().contains(text); }
    bool contains(QtMsgType type, const QString &text) const { return texts(type).contains(text); }
    int count(const QString &text) const { return texts().count(text); }
    // Lines of the given type that contain fragment.
    int countContaining(QtMsgType type, const QString &fragment) const;
    // Lines that start with prefix.
    int countStartingWith(const QString &prefix) const;
    // Index of the first line equal to text at or after from, or -1.
    int indexOf(const QString &text, int from = 0) const { return texts().indexOf(text, from); }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text);
    void record(QtMsgType type, const QMessageLogContext &context, const QString &text);

    Echo m_echo;
    LogCapture *m_outer = nullptr; // a capture made before this one gets the lines again after it
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QList<Line> m_lines;
};
