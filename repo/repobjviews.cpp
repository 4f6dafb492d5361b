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
    // Built and entered in the name index (which also catches repeats within the
    // list) before the model changes: the views see one insertion, however many
    // views a site holds.
    QList<ViewPtr> added;
    added.reserve(infos.size());
    for (const auto &info : infos) {
        if (!info)
            continue;
        ViewPtr &slot = m_viewsByName[info->serialStream][info->name];
        if (slot)
            continue;
        slot = makeView(info->name, info->serialStream, info->roll, info->tilt, info->pan, info->zoom);
        slot->setIsActive(info->isActive);
        added.append(slot);
    }
    if (added.isEmpty())
        return 0;
    const int first = m_views.size();
    beginInsertRows(QModelIndex(), first, first + added.size() - 1);
    m_views.append(added);
    for (int i = 0; i < added.size(); ++i)
        m_rowsBySerial[added.at(i)->objectSerial()].append(first + i);
    endInsertRows();
    return added.size();
}

void RepoObjViews::restoreViews(const QList<std::shared_ptr<ViewInfo>> &infos)
{
    const bool wasRestoring = isRestoring();
    m_pendingRestore.append(infos);
    if (wasRestoring)
        return; // the queued slices take these too
    appendNextSlice();
    if (!isRestoring()) {
        m_pendingRestore = QList<std::shared_ptr<ViewInfo>>();
        return;
    }
    QMetaObject::invokeMethod(this, &RepoObjViews::restoreSlice, Qt::QueuedConnection);
    emit restoringChanged();
}

void RepoObjViews::restoreSlice()
{
    if (!isRestoring())
        return;
    appendNextSlice();
    if (isRestoring()) {
        QMetaObject::invokeMethod(this, &RepoObjViews::restoreSlice, Qt::QueuedConnection);
        return;
    }
    m_pendingRestore = QList<std::shared_ptr<ViewInfo>>(); // it may have been large
    emit restoringChanged();
}

void RepoObjViews::appendNextSlice()
{
    const int count = qMin(kRestoreSlice, m_pendingRestore.size());
    appendViews(m_pendingRestore.mid(0, count));
    m_pendingRestore.erase(m_pendingRestore.begin(), m_pendingRestore.begin() + count);
}
