#include "sfpm/filterrole.h"

#include "sfpm/filter.h"

namespace qqsfpm {

FilterRole::FilterRole(QObject *parent) : SingleRole(parent), FilterContainer(this) {}

FilterRole::~FilterRole() = default;

void FilterRole::proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel)
{
    const QList<Filter *> list = filters();
    for (Filter *filter : list)
        filter->proxyModelCompleted(proxyModel);
}

QVariant FilterRole::value(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel)
{
    for (const Filter *filter : filters()) {
        if (!filter->filterAcceptsRow(sourceIndex, proxyModel))
            return false;
    }
    return true;
}

void FilterRole::onFilterAppended(Filter *filter)
{
    connect(filter, &Filter::invalidated, this, &FilterRole::invalidate);
    invalidate();
}

void FilterRole::onFilterRemoved(Filter *filter)
{
    Q_UNUSED(filter)
    invalidate();
}

} // namespace qqsfpm
