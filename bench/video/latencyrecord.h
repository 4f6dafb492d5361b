#pragma once

#include <QString>
#include <QVector>

#include <mutex>

class StampedPublisher;

// The latencies of the stamped frames that one consumer received (StampedPublisher), each frame
// counted once: a picture that repeats the one before it (a server filling a pause) is no new arrival.
class LatencyRecord
{
public:
    explicit LatencyRecord(const StampedPublisher &publisher);

    // Any thread: a picture stamped `number` (FrameStamp::read()) arrived at arrivalNs (the publisher's
    // elapsedNs()). The latency in milliseconds, or -1 for a stamp that is unreadable, unknown or the
    // one before again.
    double add(qint64 number, qint64 arrivalNs);
    // Forgets what was recorded (after a warm-up).
    void clear();

    int count() const;
    // Pictures whose stamp could not be read or named no frame sent.
    int unreadable() const;
    // "N frames; latency median M ms, p90 P ms, max X ms", or "no frame" when none arrived.
    QString summary() const;
    double median() const;

private:
    QVector<double> sorted() const;

    const StampedPublisher &m_publisher;
    mutable std::mutex m_mutex;
    QVector<double> m_latencies;
    qint64 m_last = -1;
    int m_unreadable = 0;
};
