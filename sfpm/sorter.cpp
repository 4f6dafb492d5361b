#include "sfpm/sorter.h"

#include "sfpm/expressionsorter.h"
#include "sfpm/filtersorter.h"
#include "sfpm/rolesorter.h"
#include "sfpm/stringsorter.h"

#include <QCoreApplication>
#include <QtQml>

namespace qqsfpm {

Sorter::Sorter(QObject *parent) : QObject(parent) {}

Sorter::~Sorter() = default;

bool Sorter::enabled() const
{
    return m_enabled;
}

void Sorter::setEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    emit enabledChanged();
    emit invalidated();
}

bool Sorter::ascendingOrder() const
{
    return m_sortOrder == Qt::AscendingOrder;
}

void Sorter::setAscendingOrder(bool ascendingOrder)
{
    setSortOrder(ascendingOrder ? Qt::AscendingOrder : Qt::DescendingOrder);
}

Qt::SortOrder Sorter::sortOrder() const
{
    return m_sortOrder;
}

void Sorter::setSortOrder(Qt::SortOrder sortOrder)
{
    if (m_sortOrder == sortOrder)
        return;
    m_sortOrder = sortOrder;
    emit sortOrderChanged();
    invalidate();
}

int Sorter::compareRows(const QModelIndex &sourceLeft, const QModelIndex &sourceRight,
                        const QQmlSortFilterProxyModel &proxyModel) const
{
    const int c = compare(sourceLeft, sourceRight, proxyModel);
    return m_sortOrder == Qt::AscendingOrder ? c : -c;
}

void Sorter::proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel)
{
    Q_UNUSED(proxyModel)
}

int Sorter::compare(const QModelIndex &sourceLeft, const QModelIndex &sourceRight,
                    const QQmlSortFilterProxyModel &proxyModel) const
{
    if (lessThan(sourceLeft, sourceRight, proxyModel))
        return -1;
    if (lessThan(sourceRight, sourceLeft, proxyModel))
        return 1;
    return 0;
}

bool Sorter::lessThan(const QModelIndex &sourceLeft, const QModelIndex &sourceRight,
                      const QQmlSortFilterProxyModel &proxyModel) const
{
    Q_UNUSED(sourceLeft)
    Q_UNUSED(sourceRight)
    Q_UNUSED(proxyModel)
    return false;
}

void Sorter::invalidate()
{
    if (m_enabled)
        emit invalidated();
}

namespace {

void registerSorterTypes()
{
    const char *uri = "SortFilterProxyModel";
    qmlRegisterUncreatableType<Sorter>(uri, 0, 2, "Sorter", QStringLiteral("Sorter is an abstract class"));
    qmlRegisterType<RoleSorter>(uri, 0, 2, "RoleSorter");
    qmlRegisterType<StringSorter>(uri, 0, 2, "StringSorter");
    qmlRegisterType<FilterSorter>(uri, 0, 2, "FilterSorter");
    qmlRegisterType<ExpressionSorter>(uri, 0, 2, "ExpressionSorter");
}

[[maybe_unused]] const bool s_sorterTypesQueued = (qAddPreRoutine(registerSorterTypes), true);

} // namespace

} // namespace qqsfpm
