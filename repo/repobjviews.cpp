#include "repo/repobjviews.h"

#include "repo/repologging.h"

#include "defish/layoutcodec.h"

#include <QQmlEngine>

#include <algorithm>

RepoObjViews::RepoObjViews(QObject *parent) : QAbstractListModel(parent), Singleton<RepoObjViews>(this)
{
    m_roleNames = {
        {ViewIsActiveRole, "viewIsActive"}, {ViewNameRole, "viewName"}, {ViewObjectSerialRole, "viewObjectSerial"},
        {ViewRollRole, "viewRoll"},         {ViewTiltRole, "viewTilt"}, {ViewPanRole, "viewPan"},
        {ViewZoomRole, "viewZoom"},         {ViewModeRole, "viewMode"}, {ViewLayoutRole, "viewLayout"},
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
    case ViewModeRole:
        return view->mode();
    case ViewLayoutRole:
        return view->layout();
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
    const ViewPtr &view = m_views.at(index.row());
    const bool active = value.toBool();
    const bool changed = view->isActive() != active;
    view->setIsActive(active);
    if (changed)
        emit edited(QStringLiteral("view \"%1\" of stream %2 switched %3")
                        .arg(view->name(), view->objectSerial(), QLatin1String(active ? "on" : "off")));
    const QModelIndex rowIndex = this->index(index.row(), 0);
    emit dataChanged(rowIndex, rowIndex, {ViewIsActiveRole});
    return true;
}

bool RepoObjViews::contains(const QString &objSerial, const QString &name) const
{
    const auto stream = m_viewsByName.constFind(objSerial);
    return stream != m_viewsByName.constEnd() && stream->contains(name);
}

bool RepoObjViews::hasView(const QString &objSerial, const QString &name) const
{
    if (contains(objSerial, name))
        return true;
    // Slices not yet in the model would be dropped on arrival behind a view of the same name.
    return std::any_of(m_pendingRestore.cbegin(), m_pendingRestore.cend(), [&](const std::shared_ptr<ViewInfo> &info) {
        return info && info->serialStream == objSerial && info->name == name;
    });
}

QString RepoObjViews::copyName(const QString &objSerial, const QString &name) const
{
    QString candidate = tr("%1 copy").arg(name);
    for (int n = 2; hasView(objSerial, candidate); ++n)
        candidate = tr("%1 copy %2").arg(name).arg(n);
    return candidate;
}

QVariantMap RepoObjViews::viewOf(const QString &objSerial, const QString &name) const
{
    const ViewPtr view = m_viewsByName.value(objSerial).value(name);
    if (!view)
        return {};
    return {{QStringLiteral("name"), view->name()}, {QStringLiteral("roll"), view->roll()},
            {QStringLiteral("tilt"), view->tilt()}, {QStringLiteral("pan"), view->pan()},
            {QStringLiteral("zoom"), view->zoom()}, {QStringLiteral("isActive"), view->isActive()},
            {QStringLiteral("mode"), view->mode()},  {QStringLiteral("layout"), view->layout()}};
}

int RepoObjViews::rowOf(const ViewPtr &view) const
{
    for (const int row : m_rowsBySerial.value(view->objectSerial())) {
        if (m_views.at(row) == view)
            return row;
    }
    return -1;
}

bool RepoObjViews::updateView(const QString &objSerial, const QString &name, const QString &newName, float roll,
                              float tilt, float pan, float zoom)
{
    const ViewPtr view = m_viewsByName.value(objSerial).value(name);
    if (!view) {
        qCWarning(lcRepo) << "No view" << name << "of stream" << objSerial << "to update";
        return false;
    }
    if (newName.isEmpty()) {
        qCWarning(lcRepo) << "View" << name << "of stream" << objSerial << "not renamed: no name";
        return false;
    }
    if (newName != name && hasView(objSerial, newName)) {
        qCWarning(lcRepo) << "View" << name << "of stream" << objSerial << "not renamed:" << newName << "exists";
        return false;
    }
    const int row = rowOf(view);
    const bool changed =
        newName != name || view->roll() != roll || view->tilt() != tilt || view->pan() != pan || view->zoom() != zoom;
    if (newName != name) {
        QHash<QString, ViewPtr> &byName = m_viewsByName[objSerial];
        byName.remove(name);
        byName.insert(newName, view);
        m_dropped.insert({objSerial, name});
        view->setName(newName);
    }
    view->setRoll(roll);
    view->setTilt(tilt);
    view->setPan(pan);
    view->setZoom(zoom);
    const QModelIndex rowIndex = index(row, 0);
    emit dataChanged(rowIndex, rowIndex, {ViewNameRole, ViewRollRole, ViewTiltRole, ViewPanRole, ViewZoomRole});
    if (changed)
        emit edited(newName == name
                        ? QStringLiteral("view \"%1\" of stream %2 edited").arg(name, objSerial)
                        : QStringLiteral("view \"%1\" of stream %2 renamed to \"%3\"").arg(name, objSerial, newName));
    return true;
}

bool RepoObjViews::setViewLayout(const QString &objSerial, const QString &name, const QString &mode,
                                 const QVariantMap &layout)
{
    const ViewPtr view = m_viewsByName.value(objSerial).value(name);
    FisheyeLayout checked;
    QString why;
    if (!view || !LayoutCodec::fromMap(mode, layout, FisheyeMount::Wall, &checked, &why)) {
        qCWarning(lcRepo) << "Layout of view" << name << "of stream" << objSerial
                          << "not set:" << (view ? why : QStringLiteral("no such view"));
        return false;
    }
    // A perspective view keeps no layout: its aim is all there is.
    const QVariantMap kept = mode == QLatin1String("perspective") ? QVariantMap() : LayoutCodec::toMap(checked);
    if (view->mode() == mode && view->layout() == kept)
        return true;
    view->setMode(mode);
    view->setLayout(kept);
    const QModelIndex rowIndex = index(rowOf(view), 0);
    emit dataChanged(rowIndex, rowIndex, {ViewModeRole, ViewLayoutRole});
    emit edited(QStringLiteral("view \"%1\" of stream %2 set to %3").arg(name, objSerial, mode));
    return true;
}

bool RepoObjViews::setViewActive(const QString &objSerial, const QString &name, bool active)
{
    const ViewPtr view = m_viewsByName.value(objSerial).value(name);
    if (!view) {
        qCWarning(lcRepo) << "No view" << name << "of stream" << objSerial << "to switch" << (active ? "on" : "off");
        return false;
    }
    return setData(index(rowOf(view), 0), active, ViewIsActiveRole);
}

bool RepoObjViews::removeView(const QString &objSerial, const QString &name)
{
    const ViewPtr view = m_viewsByName.value(objSerial).value(name);
    if (!view) {
        qCWarning(lcRepo) << "No view" << name << "of stream" << objSerial << "to remove";
        return false;
    }
    const int row = rowOf(view);
    beginRemoveRows(QModelIndex(), row, row);
    m_views.removeAt(row);
    m_viewsByName[objSerial].remove(name);
    m_dropped.insert({objSerial, name});
    // Every later row moves up by one, in every stream's index.
    for (auto it = m_rowsBySerial.begin(); it != m_rowsBySerial.end(); ++it) {
        QVector<int> &rows = it.value();
        rows.removeOne(row);
        for (int &r : rows) {
            if (r > row)
                --r;
        }
    }
    endRemoveRows();
    emit edited(QStringLiteral("view \"%1\" of stream %2 deleted").arg(name, objSerial));
    return true;
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
    emit edited(QStringLiteral("view \"%1\" of stream %2 added").arg(name, objSerial));
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
        if (info->mode != QLatin1String("perspective")) {
            // A layout that does not read keeps the view (it is saved back as it came) with the defaults.
            FisheyeLayout layout;
            QString why;
            if (!LayoutCodec::fromJson(info->mode, info->layout, FisheyeMount::Wall, &layout, &why))
                qCWarning(lcRepo) << "View" << info->name << "of stream" << info->serialStream << why;
            slot->setMode(info->mode);
            slot->setLayout(LayoutCodec::toMap(layout));
        }
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
    for (const auto &info : infos) {
        if (info && !m_dropped.contains({info->serialStream, info->name}))
            m_pendingRestore.append(info);
    }
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
