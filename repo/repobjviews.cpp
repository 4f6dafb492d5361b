#include "repo/repobjviews.h"

RepoObjViews::RepoObjViews(QObject *parent) : QAbstractListModel(parent), Singleton<RepoObjViews>(this) {}

RepoObjViews::~RepoObjViews() = default;

int RepoObjViews::rowCount(const QModelIndex &) const
{
    return 0;
}

QVariant RepoObjViews::data(const QModelIndex &, int) const
{
    return {};
}
