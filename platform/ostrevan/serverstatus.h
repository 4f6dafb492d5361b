#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// What the server is doing at one moment, for programs that watch it: JSON for people and scripts,
// Prometheus' text format for monitoring. Both from the same figures.
struct ServerStatus
{
    struct View
    {
        QString streamSerial;
        QString name;
        QString address;      // rtsp://HOST:PORT/PATH
        bool serving = false; // dewarped and encoded for at least one client
        int clients = 0;      // sessions playing it
        quint64 framesServed = 0;
        double fps = 0.0; // frames served per second, over the last second or so
        QString lastError;
    };
    struct Source
    {
        QString streamSerial;
        QString address; // without its password
        QString state;   // "starting", "receiving", "reconnecting" or "unusable"
        quint64 framesDecoded = 0;
        int reconnects = 0;
        QString lastError;
    };

    QString version;
    qint64 uptimeSeconds = 0;
    QVector<View> views;
    QVector<Source> sources;

    // {"version", "uptimeSeconds", "views": [{"stream", "name", "address", "state", "clients",
    // "framesServed", "fps", "lastError"}...], "sources": [{"stream", "address", "state",
    // "framesDecoded", "reconnects", "lastError"}...]}; a view's state is "serving" or "idle".
    QByteArray toJson() const;
    // The status back from toJson()'s document; false with *error when it is not one. Missing
    // fields keep their defaults.
    static bool fromJson(const QByteArray &json, ServerStatus *status, QString *error);
    // Prometheus text exposition format 0.0.4, ostrevan_* metrics labelled by stream and view.
    QByteArray toPrometheus() const;
};
