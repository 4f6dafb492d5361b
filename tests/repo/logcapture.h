#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects every log line written while it exists (and still prints it), so a
// test can check the exact texts the code logs.
class LogCapture
{
public:
    struct Line
    {
        QtMsgType type;
        QString text;
    };

    LogCapture()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }

    QList<Line> lines() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    QStringList texts() const
    {
        QStringList result;
        for (const Line &line : lines())
            result << line.text;
        return result;
    }
    QStringList texts(QtMsgType type) const
    {
        QStringList result;
        for (const Line &line : lines()) {
            if (line.type == type)
                result << line.text;
        }
        return result;
    }
    bool contains(const QString &text) const { return texts().contains(text); }
    bool contains(QtMsgType type, const QString &text) const { return texts(type).contains(text); }
    int count(const QString &text) const { return texts().count(text); }
    // Index of the first line equal to text at or after from, or -1.
    int indexOf(const QString &text, int from = 0) const { return texts().indexOf(text, from); }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_lines.clear();
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        LogCapture *self = s_current;
        if (!self)
            return;
        {
            QMutexLocker lock(&self->m_mutex);
            self->m_lines.append({type, text});
        }
        if (self->m_previous)
            self->m_previous(type, context, text);
    }

    static inline LogCapture *s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QList<Line> m_lines;
};
