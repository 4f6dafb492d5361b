#include "sfpm/qqmlsortfilterproxymodel.h"

#include "sfpm/filter.h"
#include "sfpm/proxyrole.h"
#include "sfpm/sorter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QtQml>

#include <algorithm>

namespace qqsfpm {

QQmlSortFilterProxyModel::QQmlSortFilterProxyModel(QObject *parent)
    : QSortFilterProxyModel(parent), FilterContainer(this)
{
    setDynamicSortFilter(true);
    connect(this, &QAbstractItemModel::rowsInserted, this, &QQmlSortFilterProxyModel::countChanged);
    connect(this, &QAbstractItemModel::rowsRemoved, this, &QQmlSortFilterProxyModel::countChanged);
    connect(this, &QAbstractItemModel::modelReset, this, &QQmlSortFilterProxyModel::countChanged);
    connect(this, &QAbstractItemModel::layoutChanged, this, &QQmlSortFilterProxyModel::countChanged);
}

QQmlSortFilterProxyModel::~QQmlSortFilterProxyModel()
{
    // Filters, sorters and roles may outlive us; they must not call back.
    for (Filter *filter : filters())
        disconnect(filter, nullptr, this, nullptr);
    for (Sorter *sorter : qAsConst(m_sorters))
        disconnect(sorter, nullptr, this, nullptr);
    for (ProxyRole *role : qAsConst(m_proxyRoles))
        disconnect(role, nullptr, this, nullptr);
}

int QQmlSortFilterProxyModel::count() const
{
    return rowCount();
}

bool QQmlSortFilterProxyModel::delayed() const
{
    return m_delayed;
}

void QQmlSortFilterProxyModel::setDelayed(bool delayed)
{
    if (m_delayed == delayed)
        return;
    m_delayed = delayed;
    emit delayedChanged();
}

QString QQmlSortFilterProxyModel::filterRoleName() const
{
    return m_filterRoleName;
}

void QQmlSortFilterProxyModel::setFilterRoleName(const QString &filterRoleName)
{
    if (m_filterRoleName == filterRoleName)
        return;
    m_filterRoleName = filterRoleName;
    updateFilterRole();
    emit filterRoleNameChanged();
    queueInvalidateFilter();
}

QString QQmlSortFilterProxyModel::filterPattern() const
{
    return m_filterPattern;
}

void QQmlSortFilterProxyModel::setFilterPattern(const QString &filterPattern)
{
    if (m_filterPattern == filterPattern)
        return;
    m_filterPattern = filterPattern;
    setFilterRegExp(
        QRegExp(m_filterPattern, filterCaseSensitivity(), static_cast<QRegExp::PatternSyntax>(m_filterPatternSyntax)));
    if (!filterRegExp().isValid())
        qmlWarning(this) << "Invalid filter pattern \"" << m_filterPattern << "\": " << filterRegExp().errorString();
    emit filterPatternChanged();
}

QQmlSortFilterProxyModel::PatternSyntax QQmlSortFilterProxyModel::filterPatternSyntax() const
{
    return m_filterPatternSyntax;
}

void QQmlSortFilterProxyModel::setFilterPatternSyntax(PatternSyntax filterPatternSyntax)
{
    if (m_filterPatternSyntax == filterPatternSyntax)
        return;
    m_filterPatternSyntax = filterPatternSyntax;
    setFilterRegExp(
        QRegExp(m_filterPattern, filterCaseSensitivity(), static_cast<QRegExp::PatternSyntax>(m_filterPatternSyntax)));
    emit filterPatternSyntaxChanged();
}

QVariant QQmlSortFilterProxyModel::filterValue() const
{
    return m_filterValue;
}

void QQmlSortFilterProxyModel::setFilterValue(const QVariant &filterValue)
{
    if (m_filterValue.isValid() == filterValue.isValid() && m_filterValue == filterValue)
        return;
    m_filterValue = filterValue;
    emit filterValueChanged();
    queueInvalidateFilter();
}

QString QQmlSortFilterProxyModel::sortRoleName() const
{
    return m_sortRoleName;
}

void QQmlSortFilterProxyModel::setSortRoleName(const QString &sortRoleName)
{
    if (m_sortRoleName == sortRoleName)
        return;
    m_sortRoleName = sortRoleName;
    updateSortRole();
    emit sortRoleNameChanged();
    queueInvalidate();
}

bool QQmlSortFilterProxyModel::ascendingSortOrder() const
{
    return m_ascendingSortOrder;
}

void QQmlSortFilterProxyModel::setAscendingSortOrder(bool ascendingSortOrder)
{
    if (m_ascendingSortOrder == ascendingSortOrder)
        return;
    m_ascendingSortOrder = ascendingSortOrder;
    emit ascendingSortOrderChanged();
    queueInvalidate();
}

// --- sorters ---------------------------------------------------------------

QQmlListProperty<Sorter> QQmlSortFilterProxyModel::sortersListProperty()
{
    return QQmlListProperty<Sorter>(this, this, &QQmlSortFilterProxyModel::appendSorterItem,
                                    &QQmlSortFilterProxyModel::sorterItemCount, &QQmlSortFilterProxyModel::sorterItemAt,
                                    &QQmlSortFilterProxyModel::clearSorterItems);
}

QList<Sorter *> QQmlSortFilterProxyModel::sorters() const
{
    return m_sorters;
}

void QQmlSortFilterProxyModel::appendSorter(Sorter *sorter)
{
    if (!sorter || m_sorters.contains(sorter)) {
        qmlWarning(this) << "Ignoring a null or repeated sorter";
        return;
    }
    m_sorters.append(sorter);
    connect(sorter, &Sorter::invalidated, this, &QQmlSortFilterProxyModel::queueInvalidate);
    connect(sorter, &QObject::destroyed, this, [this, sorter] { dropSorter(sorter); });
    if (m_completed)
        sorter->proxyModelCompleted(*this);
    queueInvalidate();
}

void QQmlSortFilterProxyModel::removeSorter(Sorter *sorter)
{
    dropSorter(sorter);
}

void QQmlSortFilterProxyModel::dropSorter(QObject *sorter)
{
    // May run from the sorter's QObject destructor: compare pointers only.
    const auto it = std::find(m_sorters.begin(), m_sorters.end(), sorter);
    if (it == m_sorters.end())
        return;
    m_sorters.erase(it);
    disconnect(sorter, nullptr, this, nullptr);
    queueInvalidate();
}

void QQmlSortFilterProxyModel::appendSorterItem(QQmlListProperty<Sorter> *list, Sorter *sorter)
{
    static_cast<QQmlSortFilterProxyModel *>(list->data)->appendSorter(sorter);
}

int QQmlSortFilterProxyModel::sorterItemCount(QQmlListProperty<Sorter> *list)
{
    return static_cast<QQmlSortFilterProxyModel *>(list->data)->m_sorters.size();
}

Sorter *QQmlSortFilterProxyModel::sorterItemAt(QQmlListProperty<Sorter> *list, int index)
{
    return static_cast<QQmlSortFilterProxyModel *>(list->data)->m_sorters.value(index, nullptr);
}

void QQmlSortFilterProxyModel::clearSorterItems(QQmlListProperty<Sorter> *list)
{
    auto *self = static_cast<QQmlSortFilterProxyModel *>(list->data);
    const QList<Sorter *> old = self->m_sorters;
    for (Sorter *sorter : old)
        self->dropSorter(sorter);
}

// --- proxy roles -----------------------------------------------------------

QQmlListProperty<ProxyRole> QQmlSortFilterProxyModel::proxyRolesListProperty()
{
    return QQmlListProperty<ProxyRole>(
        this, this, &QQmlSortFilterProxyModel::appendProxyRoleItem, &QQmlSortFilterProxyModel::proxyRoleItemCount,
        &QQmlSortFilterProxyModel::proxyRoleItemAt, &QQmlSortFilterProxyModel::clearProxyRoleItems);
}

QList<ProxyRole *> QQmlSortFilterProxyModel::proxyRoles() const
{
    return m_proxyRoles;
}

void QQmlSortFilterProxyModel::appendProxyRole(ProxyRole *proxyRole)
{
    if (!proxyRole || m_proxyRoles.contains(proxyRole)) {
        qmlWarning(this) << "Ignoring a null or repeated proxy role";
        return;
    }
    onProxyRoleNamesAboutToBeChanged();
    m_proxyRoles.append(proxyRole);
    connect(proxyRole, &ProxyRole::invalidated, this, &QQmlSortFilterProxyModel::queueInvalidateProxyRoles);
    connect(proxyRole, &ProxyRole::namesAboutToBeChanged, this,
            &QQmlSortFilterProxyModel::onProxyRoleNamesAboutToBeChanged);
    connect(proxyRole, &ProxyRole::namesChanged, this, &QQmlSortFilterProxyModel::onProxyRoleNamesChanged);
    connect(proxyRole, &QObject::destroyed, this, [this, proxyRole] { dropProxyRole(proxyRole); });
    if (m_completed)
        proxyRole->proxyModelCompleted(*this);
    onProxyRoleNamesChanged();
}

void QQmlSortFilterProxyModel::removeProxyRole(ProxyRole *proxyRole)
{
    dropProxyRole(proxyRole);
}

void QQmlSortFilterProxyModel::dropProxyRole(QObject *proxyRole)
{
    // May run from the role's QObject destructor: compare pointers only.
    const auto it = std::find(m_proxyRoles.begin(), m_proxyRoles.end(), proxyRole);
    if (it == m_proxyRoles.end())
        return;
    onProxyRoleNamesAboutToBeChanged();
    m_proxyRoles.erase(it);
    disconnect(proxyRole, nullptr, this, nullptr);
    // The role's names must not be asked again: drop the map before the reset ends.
    m_proxyRoleMap.clear();
    m_proxyRoleIds.clear();
    onProxyRoleNamesChanged();
}

void QQmlSortFilterProxyModel::appendProxyRoleItem(QQmlListProperty<ProxyRole> *list, ProxyRole *proxyRole)
{
    static_cast<QQmlSortFilterProxyModel *>(list->data)->appendProxyRole(proxyRole);
}

int QQmlSortFilterProxyModel::proxyRoleItemCount(QQmlListProperty<ProxyRole> *list)
{
    return static_cast<QQmlSortFilterProxyModel *>(list->data)->m_proxyRoles.size();
}

ProxyRole *QQmlSortFilterProxyModel::proxyRoleItemAt(QQmlListProperty<ProxyRole> *list, int index)
{
    return static_cast<QQmlSortFilterProxyModel *>(list->data)->m_proxyRoles.value(index, nullptr);
}

void QQmlSortFilterProxyModel::clearProxyRoleItems(QQmlListProperty<ProxyRole> *list)
{
    auto *self = static_cast<QQmlSortFilterProxyModel *>(list->data);
    const QList<ProxyRole *> old = self->m_proxyRoles;
    for (ProxyRole *role : old)
        self->dropProxyRole(role);
}

void QQmlSortFilterProxyModel::onProxyRoleNamesAboutToBeChanged()
{
    if (m_resettingForRoles)
        return;
    m_resettingForRoles = true;
    beginResetModel();
}

void QQmlSortFilterProxyModel::onProxyRoleNamesChanged()
{
    if (!m_resettingForRoles)
        return;
    // endResetModel() runs resetInternalData(), which renumbers the roles.
    endResetModel();
    m_resettingForRoles = false;
    queueInvalidate();
}

// --- QML parser status -----------------------------------------------------

void QQmlSortFilterProxyModel::classBegin() {}

void QQmlSortFilterProxyModel::componentComplete()
{
    m_completed = true;
    const QList<Filter *> filterList = filters();
    for (Filter *filter : filterList)
        filter->proxyModelCompleted(*this);
    for (Sorter *sorter : qAsConst(m_sorters))
        sorter->proxyModelCompleted(*this);
    for (ProxyRole *role : qAsConst(m_proxyRoles))
        role->proxyModelCompleted(*this);
    m_invalidateQueued = false;
    updateRoles();
    invalidate();
    sort(0, Qt::AscendingOrder);
}

// --- source model and roles ------------------------------------------------

void QQmlSortFilterProxyModel::setSourceModel(QAbstractItemModel *model)
{
    if (model == sourceModel())
        return;
    for (const auto &connection : qAsConst(m_sourceConnections))
        disconnect(connection);
    m_sourceConnections.clear();
    disconnect(m_initRolesConnection);
    forgetVerdicts();

    if (model) {
        // Connected before the base proxy's own handlers, so that verdicts kept
        // for a re-filter under way are dropped before any change is applied.
        const auto forget = [this] { forgetVerdicts(); };
        m_sourceConnections.append(connect(model, &QAbstractItemModel::dataChanged, this, forget));
        m_sourceConnections.append(connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this, forget));
        m_sourceConnections.append(connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this, forget));
        m_sourceConnections.append(connect(model, &QAbstractItemModel::rowsAboutToBeMoved, this, forget));
        m_sourceConnections.append(connect(model, &QAbstractItemModel::modelAboutToBeReset, this, forget));
        m_sourceConnections.append(connect(model, &QAbstractItemModel::layoutAboutToBeChanged, this, forget));
    }

    QSortFilterProxyModel::setSourceModel(model);

    if (!model)
        return;
    m_sourceConnections.append(
        connect(model, &QAbstractItemModel::dataChanged, this, &QQmlSortFilterProxyModel::onDataChanged));
    m_sourceConnections.append(connect(model, &QObject::destroyed, this, &QQmlSortFilterProxyModel::onSourceDestroyed));
    // A model that learns its roles with its first row (a QML ListModel, say).
    if (model->roleNames().isEmpty())
        m_initRolesConnection =
            connect(model, &QAbstractItemModel::rowsInserted, this, &QQmlSortFilterProxyModel::initRoles);
}

void QQmlSortFilterProxyModel::onSourceDestroyed()
{
    // The base proxy has already let go of the model, silently; tell the views.
    m_sourceConnections.clear();
    beginResetModel();
    endResetModel();
}

QVariant QQmlSortFilterProxyModel::data(const QModelIndex &index, int role) const
{
    if (!m_proxyRoleMap.isEmpty()) {
        const auto it = m_proxyRoleMap.constFind(role);
        if (it != m_proxyRoleMap.constEnd()) {
            const QModelIndex sourceIndex = mapToSource(index);
            if (!sourceIndex.isValid())
                return {};
            return it->first->roleData(sourceIndex, *this, it->second);
        }
    }
    return QSortFilterProxyModel::data(index, role);
}

QHash<int, QByteArray> QQmlSortFilterProxyModel::roleNames() const
{
    return m_roleNames;
}

void QQmlSortFilterProxyModel::resetInternalData()
{
    QSortFilterProxyModel::resetInternalData();
    updateRoles();
}

void QQmlSortFilterProxyModel::updateRoleNames()
{
    m_roleNames.clear();
    m_roleIds.clear();
    m_proxyRoleMap.clear();
    m_proxyRoleIds.clear();
    m_warnedRoleNames.clear();
    if (sourceModel())
        m_roleNames = sourceModel()->roleNames();
    int nextRole = Qt::UserRole;
    for (auto it = m_roleNames.cbegin(); it != m_roleNames.cend(); ++it)
        nextRole = std::max(nextRole, it.key() + 1);
    for (ProxyRole *proxyRole : qAsConst(m_proxyRoles)) {
        for (const QString &name : proxyRole->names()) {
            m_roleNames.insert(nextRole, name.toUtf8());
            m_proxyRoleMap.insert(nextRole, {proxyRole, name});
            m_proxyRoleIds.append(nextRole);
            ++nextRole;
        }
    }
    for (auto it = m_roleNames.cbegin(); it != m_roleNames.cend(); ++it)
        m_roleIds.insert(QString::fromUtf8(it.value()), it.key());
}

void QQmlSortFilterProxyModel::updateFilterRole()
{
    const int role = m_roleIds.value(m_filterRoleName, Qt::DisplayRole);
    if (filterRole() != role)
        setFilterRole(role);
}

void QQmlSortFilterProxyModel::updateSortRole()
{
    const int role = m_roleIds.value(m_sortRoleName, Qt::DisplayRole);
    if (sortRole() != role)
        setSortRole(role);
}

void QQmlSortFilterProxyModel::updateRoles()
{
    updateRoleNames();
    updateFilterRole();
    updateSortRole();
}

void QQmlSortFilterProxyModel::initRoles()
{
    disconnect(m_initRolesConnection);
    if (!sourceModel())
        return;
    // The rows just inserted were judged without role names: publish the
    // roles, then judge every row again.
    beginResetModel();
    endResetModel();
    queueInvalidate();
}

int QQmlSortFilterProxyModel::roleForName(const QString &roleName) const
{
    return m_roleIds.value(roleName, -1);
}

QVariantMap QQmlSortFilterProxyModel::get(int row) const
{
    QVariantMap map;
    const QModelIndex proxyIndex = index(row, 0);
    if (!proxyIndex.isValid())
        return map;
    for (auto it = m_roleNames.cbegin(); it != m_roleNames.cend(); ++it)
        map.insert(QString::fromUtf8(it.value()), data(proxyIndex, it.key()));
    return map;
}

QVariant QQmlSortFilterProxyModel::get(int row, const QString &roleName) const
{
    const QModelIndex proxyIndex = index(row, 0);
    const int role = roleForName(roleName);
    if (!proxyIndex.isValid() || role < 0)
        return {};
    return data(proxyIndex, role);
}

QModelIndex QQmlSortFilterProxyModel::mapToSource(const QModelIndex &proxyIndex) const
{
    return QSortFilterProxyModel::mapToSource(proxyIndex);
}

int QQmlSortFilterProxyModel::mapToSource(int proxyRow) const
{
    const QModelIndex sourceIndex = mapToSource(index(proxyRow, 0));
    return sourceIndex.isValid() ? sourceIndex.row() : -1;
}

QModelIndex QQmlSortFilterProxyModel::mapFromSource(const QModelIndex &sourceIndex) const
{
    return QSortFilterProxyModel::mapFromSource(sourceIndex);
}

int QQmlSortFilterProxyModel::mapFromSource(int sourceRow) const
{
    if (!sourceModel())
        return -1;
    const QModelIndex proxyIndex = mapFromSource(sourceModel()->index(sourceRow, 0));
    return proxyIndex.isValid() ? proxyIndex.row() : -1;
}

QVariant QQmlSortFilterProxyModel::sourceData(const QModelIndex &sourceIndex, const QString &roleName) const
{
    const auto it = m_roleIds.constFind(roleName);
    if (it == m_roleIds.constEnd()) {
        warnUnknownRole(roleName);
        return sourceData(sourceIndex, 0);
    }
    return sourceData(sourceIndex, it.value());
}

QVariant QQmlSortFilterProxyModel::sourceData(const QModelIndex &sourceIndex, int role) const
{
    if (!m_proxyRoleMap.isEmpty()) {
        const auto it = m_proxyRoleMap.constFind(role);
        if (it != m_proxyRoleMap.constEnd())
            return it->first->roleData(sourceIndex, *this, it->second);
    }
    return sourceIndex.data(role);
}

QVariantMap QQmlSortFilterProxyModel::rowData(const QModelIndex &sourceIndex) const
{
    QVariantMap map;
    for (auto it = m_roleNames.cbegin(); it != m_roleNames.cend(); ++it)
        map.insert(QString::fromUtf8(it.value()), sourceData(sourceIndex, it.key()));
    map.insert(QStringLiteral("index"), sourceIndex.row());
    return map;
}

QVariantMap QQmlSortFilterProxyModel::rowContext(const QModelIndex &sourceIndex) const
{
    QVariantMap map = rowData(sourceIndex);
    map.insert(QStringLiteral("model"), map);
    return map;
}

void QQmlSortFilterProxyModel::warnUnknownRole(const QString &roleName) const
{
    // Before the source has published its roles every name is unknown.
    if (m_roleNames.isEmpty() || m_warnedRoleNames.contains(roleName))
        return;
    m_warnedRoleNames.insert(roleName);
    qmlWarning(this) << "No role named \"" << roleName << "\" in the model";
}

namespace {

bool isNumber(int type)
{
    switch (type) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool isInteger(int type)
{
    return isNumber(type) && type != QMetaType::Double && type != QMetaType::Float;
}

template<typename T> int threeWay(const T &a, const T &b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

int QQmlSortFilterProxyModel::compareValues(const QVariant &left, const QVariant &right)
{
    if (!left.isValid() || !right.isValid())
        return threeWay(left.isValid(), right.isValid());
    const int lt = left.userType();
    const int rt = right.userType();
    if (isNumber(lt) && isNumber(rt)) {
        if (isInteger(lt) && isInteger(rt)) {
            if (lt == QMetaType::ULongLong || rt == QMetaType::ULongLong)
                return threeWay(left.toULongLong(), right.toULongLong());
            return threeWay(left.toLongLong(), right.toLongLong());
        }
        return threeWay(left.toDouble(), right.toDouble());
    }
    if (lt == QMetaType::QDate && rt == QMetaType::QDate)
        return threeWay(left.toDate(), right.toDate());
    if (lt == QMetaType::QTime && rt == QMetaType::QTime)
        return threeWay(left.toTime(), right.toTime());
    if ((lt == QMetaType::QDateTime || lt == QMetaType::QDate) &&
        (rt == QMetaType::QDateTime || rt == QMetaType::QDate))
        return threeWay(left.toDateTime(), right.toDateTime());
    return threeWay(QString::compare(left.toString(), right.toString()), 0);
}

// --- filtering and sorting -------------------------------------------------

bool QQmlSortFilterProxyModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (!m_completed)
        return true;
    if (m_verdictsValid && !sourceParent.isValid() && sourceRow < m_verdicts.size())
        return m_verdicts.at(sourceRow);
    const QModelIndex sourceIndex = sourceModel()->index(sourceRow, 0, sourceParent);
    if (m_filterValue.isValid() && sourceData(sourceIndex, filterRole()) != m_filterValue)
        return false;
    if (!QSortFilterProxyModel::filterAcceptsRow(sourceRow, sourceParent))
        return false;
    for (const Filter *filter : filters()) {
        if (!filter->filterAcceptsRow(sourceIndex, *this))
            return false;
    }
    return true;
}

bool QQmlSortFilterProxyModel::lessThan(const QModelIndex &sourceLeft, const QModelIndex &sourceRight) const
{
    if (m_completed) {
        if (!m_sortRoleName.isEmpty()) {
            int c = 0;
            if (m_proxyRoleMap.contains(sortRole())) {
                c = compareValues(sourceData(sourceLeft, sortRole()), sourceData(sourceRight, sortRole()));
            } else if (QSortFilterProxyModel::lessThan(sourceLeft, sourceRight)) {
                c = -1;
            } else if (QSortFilterProxyModel::lessThan(sourceRight, sourceLeft)) {
                c = 1;
            }
            if (c != 0)
                return m_ascendingSortOrder ? c < 0 : c > 0;
        }
        for (const Sorter *sorter : m_sorters) {
            if (!sorter->enabled())
                continue;
            const int c = sorter->compareRows(sourceLeft, sourceRight, *this);
            if (c != 0)
                return c < 0;
        }
    }
    return sourceLeft.row() < sourceRight.row();
}

// --- invalidation ----------------------------------------------------------

void QQmlSortFilterProxyModel::queueInvalidateFilter()
{
    if (m_delayed) {
        if (!m_invalidateFilterQueued && !m_invalidateQueued) {
            m_invalidateFilterQueued = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (m_invalidateFilterQueued)
                        invalidateFilter();
                },
                Qt::QueuedConnection);
        }
    } else {
        m_invalidateFilterQueued = false;
        if (m_completed && !m_invalidateQueued)
            invalidateFilter();
    }
}

void QQmlSortFilterProxyModel::invalidateFilter()
{
    m_invalidateFilterQueued = false;
    if (!m_completed)
        return;
    QAbstractItemModel *source = sourceModel();
    if (!source || m_verdictsValid) {
        // Called again from a listener of the change under way: judge afresh.
        forgetVerdicts();
        QSortFilterProxyModel::invalidateFilter();
        return;
    }

    // The base proxy applies a filter change one block of rows at a time, and
    // every block costs a pass over its whole mapping: fine for a few blocks,
    // quadratic when the change is scattered between rows that stay (every
    // other row, say). So judge every row once here, count the blocks, and
    // rebuild the mapping in one go (a layout change) when they are many.
    // Either way the verdicts are kept for the base proxy, so no row is judged
    // twice. A block is a run of rows leaving, or of rows entering, that no
    // staying row interrupts.
    const int rows = source->rowCount();
    m_verdicts.resize(rows);
    int blocks = 0;
    bool inRemoval = false;
    bool inInsertion = false;
    for (int row = 0; row < rows; ++row) {
        const bool accepted = filterAcceptsRow(row, QModelIndex());
        const bool shown = mapFromSource(row) >= 0;
        m_verdicts[row] = accepted;
        if (shown && accepted) {
            inRemoval = false;
            inInsertion = false;
        } else if (shown && !inRemoval) {
            ++blocks;
            inRemoval = true;
        } else if (accepted && !shown && !inInsertion) {
            ++blocks;
            inInsertion = true;
        }
    }
    m_verdictsValid = true;
    if (blocks <= kIncrementalBlocks || qint64(blocks) * rows <= kIncrementalBudget) {
        QSortFilterProxyModel::invalidateFilter();
    } else {
        QSortFilterProxyModel::invalidate();
        rowCount(); // rebuild the mapping while the verdicts are at hand
    }
    forgetVerdicts();
}

void QQmlSortFilterProxyModel::forgetVerdicts()
{
    m_verdictsValid = false;
    m_verdicts.clear();
}

void QQmlSortFilterProxyModel::queueInvalidate()
{
    if (m_delayed) {
        if (!m_invalidateQueued) {
            m_invalidateQueued = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (m_invalidateQueued)
                        invalidate();
                },
                Qt::QueuedConnection);
        }
    } else {
        m_invalidateQueued = false;
        if (m_completed)
            invalidate();
    }
}

void QQmlSortFilterProxyModel::invalidate()
{
    m_invalidateQueued = false;
    m_invalidateFilterQueued = false;
    if (m_completed)
        QSortFilterProxyModel::invalidate();
}

void QQmlSortFilterProxyModel::onDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                                             const QVector<int> &roles)
{
    Q_UNUSED(roles)
    // Proxy roles may read any source role, so they change with every row that does.
    if (m_proxyRoleIds.isEmpty() || !topLeft.isValid() || !bottomRight.isValid())
        return;
    int first = -1;
    int last = -1;
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
        const int proxyRow = mapFromSource(row);
        if (proxyRow < 0)
            continue;
        first = first < 0 ? proxyRow : std::min(first, proxyRow);
        last = std::max(last, proxyRow);
    }
    if (first >= 0)
        emit dataChanged(index(first, 0), index(last, columnCount() - 1), m_proxyRoleIds);
}

void QQmlSortFilterProxyModel::queueInvalidateProxyRoles()
{
    // Filters and sorters may read proxy roles.
    queueInvalidate();
    if (m_delayed) {
        if (!m_invalidateProxyRolesQueued) {
            m_invalidateProxyRolesQueued = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (m_invalidateProxyRolesQueued)
                        invalidateProxyRoles();
                },
                Qt::QueuedConnection);
        }
    } else {
        invalidateProxyRoles();
    }
}

void QQmlSortFilterProxyModel::invalidateProxyRoles()
{
    m_invalidateProxyRolesQueued = false;
    if (!m_completed || m_proxyRoleIds.isEmpty() || rowCount() == 0)
        return;
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), m_proxyRoleIds);
}

// --- filters list ----------------------------------------------------------

void QQmlSortFilterProxyModel::onFilterAppended(Filter *filter)
{
    connect(filter, &Filter::invalidated, this, &QQmlSortFilterProxyModel::queueInvalidateFilter);
    if (m_completed)
        filter->proxyModelCompleted(*this);
    queueInvalidateFilter();
}

void QQmlSortFilterProxyModel::onFilterRemoved(Filter *filter)
{
    Q_UNUSED(filter)
    queueInvalidateFilter();
}

namespace {

void registerModelType()
{
    qmlRegisterType<QQmlSortFilterProxyModel>("SortFilterProxyModel", 0, 2, "SortFilterProxyModel");
}

[[maybe_unused]] const bool s_modelTypeQueued = (qAddPreRoutine(registerModelType), true);

} // namespace

} // namespace qqsfpm
