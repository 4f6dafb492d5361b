#pragma once

#include "platform/ostrevan/serverconfig.h"

#include <QObject>
#include <QString>

class ConfigWatcher;

// Settings from the command line.
struct ServerOptions
{
    QString databasePath;
};

// The streaming server: reads objects.data, serves what it asks for and follows its changes.
class OstrevanServer : public QObject
{
    Q_OBJECT

public:
    explicit OstrevanServer(const ServerOptions &options, QObject *parent = nullptr);
    ~OstrevanServer() override;

    // Loads the file and starts serving. False, with the reason in *error, when the file is missing
    // or unusable: the server then has nothing to do.
    bool start(QString *error);

    const ServerConfig &config() const { return m_config; }

    // Reads the file again and applies what changed. A file that cannot be read any more leaves
    // everything as it is, with a warning.
    void reload();

signals:
    void reloaded();

private:
    void apply(const ServerConfig &config);
    void logView(const ServedStream &stream, const ServedView &view, const char *what) const;

    ServerOptions m_options;
    ServerConfig m_config;
    ConfigWatcher *m_watcher = nullptr;
};
