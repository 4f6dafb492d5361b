#pragma once

#include "sfpm/filtercontainer.h"

#include <QHash>
#include <QList>
#include <QMetaObject>
#include <QQmlListProperty>
#include <QQmlParserStatus>
#include <QRegExp>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QVariant>
#include <QVector>

namespace qqsfpm {

class Filter;
class Sorter;
class ProxyRole;

// A QML proxy model that shows the rows of `sourceModel` that every filter of
// `filters` accepts, ordered by `sorters`, with the roles of `proxyRoles` added
// to the source's roles.
//
// Until the QML component is complete every row is accepted and nothing is
// re-filtered; completion re-filters once. Filters, sorters and proxy roles are
// not owned (the QML document owns them); one that is destroyed while listed is
// dropped from its list. With `delayed` set, changes are collected and applied
// once per event-loop turn.
class QQmlSortFilterProxyModel : public QSortFilterProxyModel, public QQmlParserStatus, public FilterContainer
{
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus qqsfpm::FilterContainer)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(bool delayed READ delayed WRITE setDelayed NOTIFY delayedChanged)
    Q_PROPERTY(QString filterRoleName READ filterRoleName WRITE setFilterRoleName NOTIFY filterRoleNameChanged)
    Q_PROPERTY(QString filterPattern READ filterPattern WRITE setFilterPattern NOTIFY filterPatternChanged)
    Q_PROPERTY(PatternSyntax filterPatternSyntax READ filterPatternSyntax WRITE setFilterPatternSyntax NOTIFY
                   filterPatternSyntaxChanged)
    Q_PROPERTY(QVariant filterValue READ filterValue WRITE setFilterValue NOTIFY filterValueChanged)
    Q_PROPERTY(QString sortRoleName READ sortRoleName WRITE setSortRoleName NOTIFY sortRoleNameChanged)
    Q_PROPERTY(
        bool ascendingSortOrder READ ascendingSortOrder WRITE setAscendingSortOrder NOTIFY ascendingSortOrderChanged)
    Q_PROPERTY(QQmlListProperty<qqsfpm::Filter> filters READ filtersListProperty)
    Q_PROPERTY(QQmlListProperty<qqsfpm::Sorter> sorters READ sortersListProperty)
    Q_PROPERTY(QQmlListProperty<qqsfpm::ProxyRole> proxyRoles READ proxyRolesListProperty)

public:
    enum PatternSyntax {
        RegExp = QRegExp::RegExp,
        Wildcard = QRegExp::Wildcard,
        FixedString = QRegExp::FixedString,
        RegExp2 = QRegExp::RegExp2,
        WildcardUnix = QRegExp::WildcardUnix,
        W3CXmlSchema11 = QRegExp::W3CXmlSchema11
    };
    Q_ENUM(PatternSyntax)

    explicit QQmlSortFilterProxyModel(QObject *parent = nullptr);
    ~QQmlSortFilterProxyModel() override;

    int count() const;
    bool delayed() const;
    void setDelayed(bool delayed);
    QString filterRoleName() const;
    void setFilterRoleName(const QString &filterRoleName);
    QString filterPattern() const;
    void setFilterPattern(const QString &filterPattern);
    PatternSyntax filterPatternSyntax() const;
    void setFilterPatternSyntax(PatternSyntax filterPatternSyntax);
    QVariant filterValue() const;
    void setFilterValue(const QVariant &filterValue);
    QString sortRoleName() const;
    void setSortRoleName(const QString &sortRoleName);
    bool ascendingSortOrder() const;
    void setAscendingSortOrder(bool ascendingSortOrder);

    QQmlListProperty<Sorter> sortersListProperty();
    QList<Sorter *> sorters() const;
    void appendSorter(Sorter *sorter);
    void removeSorter(Sorter *sorter);
    QQmlListProperty<ProxyRole> proxyRolesListProperty();
    QList<ProxyRole *> proxyRoles() const;
    void appendProxyRole(ProxyRole *proxyRole);
    void removeProxyRole(ProxyRole *proxyRole);

    void classBegin() override;
    void componentComplete() override;

    void setSourceModel(QAbstractItemModel *sourceModel) override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    Q_INVOKABLE int roleForName(const QString &roleName) const;
    Q_INVOKABLE QVariantMap get(int row) const;
    Q_INVOKABLE QVariant get(int row, const QString &roleName) const;
    Q_INVOKABLE QModelIndex mapToSource(const QModelIndex &proxyIndex) const override;
    Q_INVOKABLE int mapToSource(int proxyRow) const;
    Q_INVOKABLE QModelIndex mapFromSource(const QModelIndex &sourceIndex) const override;
    Q_INVOKABLE int mapFromSource(int sourceRow) const;

    // What filters, sorters and proxy roles read: the value of a role (source
    // or proxy role) for a source row. A name that is no role reads role 0.
    QVariant sourceData(const QModelIndex &sourceIndex, const QString &roleName) const;
    QVariant sourceData(const QModelIndex &sourceIndex, int role) const;
    // Every role of a source row by name, plus its source row as `index`.
    QVariantMap rowData(const QModelIndex &sourceIndex) const;
    // rowData() plus the same map as `model`: the context of per-row scripts.
    QVariantMap rowContext(const QModelIndex &sourceIndex) const;

    // Orders two role values: invalid first, then numbers as numbers, dates and
    // times as such, anything else as text. Returns <0, 0 or >0.
    static int compareValues(const QVariant &left, const QVariant &right);

signals:
    void countChanged();
    void delayedChanged();
    void filterRoleNameChanged();
    void filterPatternChanged();
    void filterPatternSyntaxChanged();
    void filterValueChanged();
    void sortRoleNameChanged();
    void ascendingSortOrderChanged();

public slots:
    void resetInternalData();
    void queueInvalidateFilter();
    void invalidateFilter();
    void queueInvalidate();
    void invalidate();
    void updateRoleNames();
    void updateFilterRole();
    void updateSortRole();
    void updateRoles();
    void initRoles();
    void onDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QVector<int> &roles);
    void queueInvalidateProxyRoles();
    void invalidateProxyRoles();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &sourceLeft, const QModelIndex &sourceRight) const override;

    void onFilterAppended(Filter *filter) override;
    void onFilterRemoved(Filter *filter) override;

private:
    void onSourceDestroyed();
    void forgetVerdicts();
    void onProxyRoleNamesAboutToBeChanged();
    void onProxyRoleNamesChanged();
    void dropSorter(QObject *sorter);
    void dropProxyRole(QObject *proxyRole);
    void warnUnknownRole(const QString &roleName) const;

    static void appendSorterItem(QQmlListProperty<Sorter> *list, Sorter *sorter);
    static int sorterItemCount(QQmlListProperty<Sorter> *list);
    static Sorter *sorterItemAt(QQmlListProperty<Sorter> *list, int index);
    static void clearSorterItems(QQmlListProperty<Sorter> *list);
    static void appendProxyRoleItem(QQmlListProperty<ProxyRole> *list, ProxyRole *proxyRole);
    static int proxyRoleItemCount(QQmlListProperty<ProxyRole> *list);
    static ProxyRole *proxyRoleItemAt(QQmlListProperty<ProxyRole> *list, int index);
    static void clearProxyRoleItems(QQmlListProperty<ProxyRole> *list);

    // Up to this many blocks of rows entering or leaving, or this many blocks
    // times rows, a filter change is applied block by block.
    static constexpr int kIncrementalBlocks = 16;
    static constexpr qint64 kIncrementalBudget = 2000000;

    bool m_completed = false;
    bool m_verdictsValid = false;
    QVector<bool> m_verdicts;
    bool m_delayed = false;
    bool m_invalidateFilterQueued = false;
    bool m_invalidateQueued = false;
    bool m_invalidateProxyRolesQueued = false;
    bool m_resettingForRoles = false;
    QString m_filterRoleName;
    QString m_filterPattern;
    PatternSyntax m_filterPatternSyntax = RegExp;
    QVariant m_filterValue;
    QString m_sortRoleName;
    bool m_ascendingSortOrder = true;

    QList<Sorter *> m_sorters;
    QList<ProxyRole *> m_proxyRoles;

    QHash<int, QByteArray> m_roleNames;
    QHash<QString, int> m_roleIds;
    QHash<int, QPair<ProxyRole *, QString>> m_proxyRoleMap;
    QVector<int> m_proxyRoleIds;
    mutable QSet<QString> m_warnedRoleNames;

    QVector<QMetaObject::Connection> m_sourceConnections;
    QMetaObject::Connection m_initRolesConnection;
};

} // namespace qqsfpm
