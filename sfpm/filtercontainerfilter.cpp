#include "sfpm/filtercontainerfilter.h"

namespace qqsfpm {

FilterContainerFilter::FilterContainerFilter(QObject *parent) : Filter(parent), FilterContainer(this) {}

FilterContainerFilter::~FilterContainerFilter() = default;

void FilterContainerFilter::proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel)
{
    const QList<Filter *> list = filters();
    for (Filter *filter : list)
        filter->proxyModelCompleted(proxyModel);
}

void FilterContainerFilter::onFilterAppended(Filter *filter)
{
    connect(filter, &Filter::invalidated, this, &FilterContainerFilter::invalidate);
    invalidate();
}

void FilterContainerFilter::onFilterRemoved(Filter *filter)
{
    Q_UNUSED(filter)
    invalidate();
}

} // namespace qqsfpm
