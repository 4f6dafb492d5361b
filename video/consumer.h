#pragma once

#include <QObject>

// Placeholder: filled in by the work on this subsystem.
class Consumer : public QObject
{
    Q_OBJECT

public:
    explicit Consumer(QObject *parent = nullptr);
    ~Consumer() override;
};
