#pragma once

#include <QObject>

// Placeholder: filled in by the work on this subsystem.
class ProcessManager : public QObject
{
    Q_OBJECT

public:
    explicit ProcessManager(QObject *parent = nullptr);
    ~ProcessManager() override;
};
