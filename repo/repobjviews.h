#pragma once

#include "app/singleton.h"

#include <QAbstractListModel>

// Placeholder: filled in by the work on this subsystem.
class RepoObjViews : public QAbstractListModel, public Singleton<RepoObjViews>
{
    Q_OBJECT

public:
    explicit RepoObjViews(QObject *parent = nullptr);
    ~RepoObjViews() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
};
