#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into an ordinary quit of the event loop, so that a logout, a
// service manager or Ctrl-C ends the program as closing its window does: the normal shutdown
// runs, which stops the server and writes the settings.
//
// The handler only writes one byte into a pipe; the quit happens on the GUI thread when the
// notifier reads it. One watcher per process.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    // Gives the signals their default actions back.
    ~SignalWatcher() override;

    bool isWatching() const { return m_notifier != nullptr; }

private:
    void onSignalled();

    QSocketNotifier *m_notifier = nullptr;
};
