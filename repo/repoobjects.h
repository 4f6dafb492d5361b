#pragma once

#include "app/singleton.h"

#include <QAbstractListModel>

// Placeholder: filled in by the work on this subsystem.
class RepoObjects : public QAbstractListModel, public Singleton<RepoObjects>
{
    Q_OBJECT

public:
    explicit RepoObjects(QObject *parent = nullptr);
    ~RepoObjects() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
};
