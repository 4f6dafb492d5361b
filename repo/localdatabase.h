#pragma once

#include "app/singleton.h"

#include <QObject>

// Placeholder: filled in by the work on this subsystem.
class LocalDatabase : public QObject, public Singleton<LocalDatabase>
{
    Q_OBJECT

public:
    explicit LocalDatabase(QObject *parent = nullptr);
    ~LocalDatabase() override;
};
