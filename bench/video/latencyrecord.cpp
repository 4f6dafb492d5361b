#include "bench/video/latencyrecord.h"

#include "bench/video/stampedpublisher.h"

#include <algorithm>

LatencyRecord::LatencyRecord(const StampedPublisher &publisher) : m_publisher(publisher) {}

double LatencyRecord::add(qint64 number, qint64 arrivalNs)
{
    const double latency = m_publisher.latencyMs(number, arrivalNs);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (latency < 0) {
        ++m_unreadable;
        return -1.0;
    }
    if (number == m_last)
        return -1.0;
    m_last = number;
    m_latencies.append(latency);
    return latency;
}

void LatencyRecord::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_latencies.clear();
    m_unreadable = 0;
}

int LatencyRecord::count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_latencies.size();
}

int LatencyRecord::unreadable() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_unreadable;
}

QVector<double> LatencyRecord::sorted() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QVector<double> latencies = m_latencies;
    std::sort(latencies.begin(), latencies.end());
    return latencies;
}

double LatencyRecord::median() const
{
    const QVector<double> latencies = sorted();
    return latencies.isEmpty() ? -1.0 : latencies[latencies.size() / 2];
}

QString LatencyRecord::summary() const
{
    const QVector<double> latencies = sorted();
    if (latencies.isEmpty())
        return QStringLiteral("no frame");
    return QStringLiteral("%1 frames; latency median %2 ms, p90 %3 ms, max %4 ms")
        .arg(latencies.size())
        .arg(latencies[latencies.size() / 2], 0, 'f', 1)
        .arg(latencies[latencies.size() * 9 / 10], 0, 'f', 1)
        .arg(latencies.last(), 0, 'f', 1);
}
