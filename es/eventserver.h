#pragma once

#include "app/singleton.h"

#include <QObject>

// Placeholder: filled in by the work on this subsystem.
class EventServer : public QObject, public Singleton<EventServer>
{
    Q_OBJECT

public:
    explicit EventServer(QObject *parent = nullptr);
    ~EventServer() override;
};
