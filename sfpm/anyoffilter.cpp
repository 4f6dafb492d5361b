#include "sfpm/anyoffilter.h"

namespace qqsfpm {

AnyOfFilter::AnyOfFilter(QObject *parent) : FilterContainerFilter(parent) {}

AnyOfFilter::~AnyOfFilter() = default;

bool AnyOfFilter::filterRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const
{
    bool anyEnabled = false;
    for (const Filter *filter : filters()) {
        if (!filter->enabled())
            continue;
        anyEnabled = true;
        if (filter->filterAcceptsRow(sourceIndex, proxyModel))
            return true;
    }
    return !anyEnabled;
}

} // namespace qqsfpm
