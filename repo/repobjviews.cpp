#include "repo/repobjviews.h"

#include <QQmlEngine>

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

bool RepoObjViews::appendView(const QString &name, const QString &objSerial, float roll, float tilt, float pan,
                              float zoom)
{
    const auto stream = m_viewsByName.constFind(objSerial);
    if (stream != m_viewsByName.constEnd() && stream->contains(name))
        return false;

    auto view = std::make_shared<ObjView>();
    QQmlEngine::setObjectOwnership(view.get(), QQmlEngine::CppOwnership);
    view->setName(name);
    view->setObjectSerial(objSerial);
    view->setRoll(roll);
    view->setTilt(tilt);
    view->setPan(pan);
    view->setZoom(zoom);

    const int row = m_views.size();
    beginInsertRows(QModelIndex(), row, row);
    m_views.append(view);
    endInsertRows();

    m_viewsByName[objSerial].insert(name, view);
    return true;
}
