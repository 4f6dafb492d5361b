#include "repo/repoobjects.h"

RepoObjects::RepoObjects(QObject *parent) : QAbstractListModel(parent), Singleton<RepoObjects>(this) {}

RepoObjects::~RepoObjects() = default;

int RepoObjects::rowCount(const QModelIndex &) const
{
    return 0;
}

QVariant RepoObjects::data(const QModelIndex &, int) const
{
    return {};
}
