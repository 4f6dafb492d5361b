#include "platform/ostrevan/serverstatus.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QByteArray ServerStatus::toJson() const
{
    QJsonArray viewArray;
    for (const View &v : views) {
        viewArray.append(
            QJsonObject{{QStringLiteral("stream"), v.streamSerial},
                        {QStringLiteral("name"), v.name},
                        {QStringLiteral("address"), v.address},
                        {QStringLiteral("state"), v.serving ? QStringLiteral("serving") : QStringLiteral("idle")},
                        {QStringLiteral("clients"), v.clients},
                        {QStringLiteral("framesServed"), double(v.framesServed)},
                        {QStringLiteral("fps"), qRound(v.fps * 10.0) / 10.0},
                        {QStringLiteral("lastError"), v.lastError}});
    }
    QJsonArray sourceArray;
    for (const Source &s : sources) {
        sourceArray.append(QJsonObject{{QStringLiteral("stream"), s.streamSerial},
                                       {QStringLiteral("address"), s.address},
                                       {QStringLiteral("state"), s.state},
                                       {QStringLiteral("framesDecoded"), double(s.framesDecoded)},
                                       {QStringLiteral("reconnects"), s.reconnects},
                                       {QStringLiteral("lastError"), s.lastError}});
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("version"), version},
                                     {QStringLiteral("uptimeSeconds"), double(uptimeSeconds)},
                                     {QStringLiteral("views"), viewArray},
                                     {QStringLiteral("sources"), sourceArray}})
        .toJson(QJsonDocument::Indented);
}

bool ServerStatus::fromJson(const QByteArray &json, ServerStatus *status, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        *error = parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                              : QStringLiteral("not a JSON object");
        return false;
    }
    const QJsonObject root = document.object();
    ServerStatus result;
    result.version = root.value(QLatin1String("version")).toString();
    result.uptimeSeconds = qint64(root.value(QLatin1String("uptimeSeconds")).toDouble());
    const QJsonArray viewArray = root.value(QLatin1String("views")).toArray();
    result.views.reserve(viewArray.size());
    for (const QJsonValue &value : viewArray) {
        const QJsonObject o = value.toObject();
        View v;
        v.streamSerial = o.value(QLatin1String("stream")).toString();
        v.name = o.value(QLatin1String("name")).toString();
        v.address = o.value(QLatin1String("address")).toString();
        v.serving = o.value(QLatin1String("state")).toString() == QLatin1String("serving");
        v.clients = o.value(QLatin1String("clients")).toInt();
        v.framesServed = quint64(qMax(0.0, o.value(QLatin1String("framesServed")).toDouble()));
        v.fps = o.value(QLatin1String("fps")).toDouble();
        v.lastError = o.value(QLatin1String("lastError")).toString();
        result.views.append(v);
    }
    const QJsonArray sourceArray = root.value(QLatin1String("sources")).toArray();
    result.sources.reserve(sourceArray.size());
    for (const QJsonValue &value : sourceArray) {
        const QJsonObject o = value.toObject();
        Source s;
        s.streamSerial = o.value(QLatin1String("stream")).toString();
        s.address = o.value(QLatin1String("address")).toString();
        s.state = o.value(QLatin1String("state")).toString();
        s.framesDecoded = quint64(qMax(0.0, o.value(QLatin1String("framesDecoded")).toDouble()));
        s.reconnects = o.value(QLatin1String("reconnects")).toInt();
        s.lastError = o.value(QLatin1String("lastError")).toString();
        result.sources.append(s);
    }
    *status = result;
    return true;
}

namespace {

// A label value: backslash, double quote and line feed escaped, as the format asks.
QByteArray labelValue(const QString &value)
{
    QByteArray out;
    for (const char c : value.toUtf8()) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

struct Metric
{
    const char *name;
    const char *type;
    const char *help;
};

void family(QByteArray *out, const Metric &metric)
{
    *out +=
        QByteArray("# HELP ") + metric.name + ' ' + metric.help + "\n# TYPE " + metric.name + ' ' + metric.type + '\n';
}

void sample(QByteArray *out, const Metric &metric, const QByteArray &labels, double value)
{
    *out += QByteArray(metric.name) + '{' + labels + "} " + QByteArray::number(value, 'g', 15) + '\n';
}

} // namespace

QByteArray ServerStatus::toPrometheus() const
{
    static const Metric up{"ostrevan_uptime_seconds", "gauge", "Seconds since the server started."};
    static const Metric clients{"ostrevan_view_clients", "gauge", "Sessions playing the view."};
    static const Metric serving{"ostrevan_view_serving", "gauge",
                                "1 while the view is dewarped and encoded for clients, else 0."};
    static const Metric served{"ostrevan_view_frames_served_total", "counter", "Frames the view has served."};
    static const Metric fps{"ostrevan_view_fps", "gauge", "Frames the view served per second, lately."};
    static const Metric decoded{"ostrevan_source_frames_decoded_total", "counter", "Frames decoded from the source."};
    static const Metric reconnects{"ostrevan_source_reconnects_total", "counter",
                                   "Times the source was reconnected after it failed, ended or went quiet."};
    static const Metric receiving{"ostrevan_source_receiving", "gauge", "1 while frames come from the source, else 0."};

    QByteArray out;
    family(&out, up);
    out += QByteArray(up.name) + ' ' + QByteArray::number(uptimeSeconds) + '\n';
    const auto viewLabels = [](const View &v) {
        return "stream=\"" + labelValue(v.streamSerial) + "\",view=\"" + labelValue(v.name) + '"';
    };
    const auto sourceLabels = [](const Source &s) { return "stream=\"" + labelValue(s.streamSerial) + '"'; };
    const auto viewFamily = [&](const Metric &metric, double (*value)(const View &)) {
        family(&out, metric);
        for (const View &v : views)
            sample(&out, metric, viewLabels(v), value(v));
    };
    const auto sourceFamily = [&](const Metric &metric, double (*value)(const Source &)) {
        family(&out, metric);
        for (const Source &s : sources)
            sample(&out, metric, sourceLabels(s), value(s));
    };
    viewFamily(clients, [](const View &v) { return double(v.clients); });
    viewFamily(serving, [](const View &v) { return v.serving ? 1.0 : 0.0; });
    viewFamily(served, [](const View &v) { return double(v.framesServed); });
    viewFamily(fps, [](const View &v) { return v.fps; });
    sourceFamily(decoded, [](const Source &s) { return double(s.framesDecoded); });
    sourceFamily(reconnects, [](const Source &s) { return double(s.reconnects); });
    sourceFamily(receiving, [](const Source &s) { return s.state == QLatin1String("receiving") ? 1.0 : 0.0; });
    return out;
}
