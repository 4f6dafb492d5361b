#pragma once

#include <QObject>

// Placeholder: filled in by the work on this subsystem.
class Producer : public QObject
{
    Q_OBJECT

public:
    explicit Producer(QObject *parent = nullptr);
    ~Producer() override;
};
