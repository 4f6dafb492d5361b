#include "repo/repobjviews.h"

#include <QQmlEngine>
#include <QSet>

RepoObjViews::RepoObjViews(QObject *parent) : QAbstractListModel(parent), Singleton<RepoObjViews>(this)
{
    m_roleNames = {
        {ViewIsActiveRole, "viewIsActive"}, {ViewNameRole, "viewName"}, {ViewObjectSerialRole, "viewObjectSerial"},
        {ViewRollRole, "viewRoll"},         {ViewTiltRole, "viewTilt"}, {ViewPanRole, "viewPan"},
        {ViewZoomRole, "viewZoom"},
    };
}

RepoObjViews::~RepoObjViews() = default;

int RepoObjViews::rowCount(const QModelIndex &parent) const
{
    // A flat list: rows have no children of their own.
    return parent.isValid() ? 0 : m_views.size();
}

QHash<int, QByteArray> RepoObjViews::roleNames() const
{
    return m_roleNames;
}

QVariant RepoObjViews::data(const QModelIndex &index, int role) const
{
    if (index.row() < 0 || index.row() >= m_views.size())
        return {};
    const ViewPtr &view = m_views.at(index.row());
    switch (role) {
    case ViewIsActiveRole:
        return view->isActive();
    case ViewNameRole:
        return view->name();
    case ViewObjectSerialRole:
        return view->objectSerial();
    case ViewRollRole:
        return view->roll();
    case ViewTiltRole:
        return view->tilt();
    case ViewPanRole:
        return view->pan();
    case ViewZoomRole:
        return view->zoom();
    default:
        return {};
    }
}

bool RepoObjViews::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != ViewIsActiveRole)
        return false;
    if (index.row() < 0 || index.row() >= m_views.size())
        return false;
    m_views.at(index.row())->setIsActive(value.toBool());
    const QModelIndex rowIndex = this->index(index.row(), 0);
    emit dataChanged(rowIndex, rowIndex, {ViewIsActiveRole});
    return true;
}

bool RepoObjViews::contains(const QString &objSerial, const QString &name) const
{
    const auto stream = m_viewsByName.constFind(objSerial);
    return stream != m_viewsByName.constEnd() && stream->contains(name);
}

RepoObjViews::ViewPtr RepoObjViews::makeView(const QString &name, const QString &objSerial, float roll, float tilt,
                                             float pan, float zoom) const
{
    auto view = std::make_shared<ObjView>();
    QQmlEngine::setObjectOwnership(view.get(), QQmlEngine::CppOwnership);
    view->setName(name);
    view->setObjectSerial(objSerial);
    view->setRoll(roll);
    view->setTilt(tilt);
    view->setPan(pan);
    view->setZoom(zoom);
    return view;
}

void RepoObjViews::enterIndex(const ViewPtr &view, int row)
{
    m_viewsByName[view->objectSerial()].insert(view->name(), view);
    m_rowsBySerial[view->objectSerial()].append(row);
}

bool RepoObjViews::appendView(const QString &name, const QString &objSerial, float roll, float tilt, float pan,
                              float zoom)
{
    if (contains(objSerial, name))
        return false;
    const ViewPtr view = makeView(name, objSerial, roll, tilt, pan, zoom);
    const int row = m_views.size();
    beginInsertRows(QModelIndex(), row, row);
    m_views.append(view);
    enterIndex(view, row);
    endInsertRows();
    return true;
}

int RepoObjViews::appendViews(const QList<std::shared_ptr<ViewInfo>> &infos)
{
    // Built and checked before the model changes: the views see one insertion,
    // however many views a site holds.
    QList<ViewPtr> added;
    QHash<QString, QSet<QString>> seen;
    for (const auto &info : infos) {
        if (!info || contains(info->serialStream, info->name))
            continue;
        QSet<QString> &names = seen[info->serialStream];
        if (names.contains(info->name))
            continue;
        names.insert(info->name);
        const ViewPtr view = makeView(info->name, info->serialStream, info->roll, info->tilt, info->pan, info->zoom);
        view->setIsActive(info->isActive);
        added.append(view);
    }
    if (added.isEmpty())
        return 0;
    const int first = m_views.size();
    beginInsertRows(QModelIndex(), first, first + added.size() - 1);
    m_views.append(added);
    for (int i = 0; i < added.size(); ++i)
        enterIndex(added.at(i), first + i);
    endInsertRows();
    return added.size();
}
