#include "sfpm/filtersorter.h"

#include "sfpm/filter.h"

namespace qqsfpm {

FilterSorter::FilterSorter(QObject *parent) : Sorter(parent), FilterContainer(this) {}

FilterSorter::~FilterSorter() = default;

void FilterSorter::proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel)
{
    const QList<Filter *> list = filters();
    for (Filter *filter : list)
        filter->proxyModelCompleted(proxyModel);
}

int FilterSorter::compare(const QModelIndex &sourceLeft, const QModelIndex &sourceRight,
                          const QQmlSortFilterProxyModel &proxyModel) const
{
    const bool left = acceptsRow(sourceLeft, proxyModel);
    const bool right = acceptsRow(sourceRight, proxyModel);
    if (left == right)
        return 0;
    return left ? -1 : 1;
}

bool FilterSorter::acceptsRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const
{
    for (const Filter *filter : filters()) {
        if (!filter->filterAcceptsRow(sourceIndex, proxyModel))
            return false;
    }
    return true;
}

void FilterSorter::onFilterAppended(Filter *filter)
{
    connect(filter, &Filter::invalidated, this, &FilterSorter::invalidate);
    invalidate();
}

void FilterSorter::onFilterRemoved(Filter *filter)
{
    Q_UNUSED(filter)
    invalidate();
}

} // namespace qqsfpm
