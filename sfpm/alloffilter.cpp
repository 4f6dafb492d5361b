#include "sfpm/alloffilter.h"

namespace qqsfpm {

AllOfFilter::AllOfFilter(QObject *parent) : FilterContainerFilter(parent) {}

AllOfFilter::~AllOfFilter() = default;

bool AllOfFilter::filterRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const
{
    for (const Filter *filter : filters()) {
        if (!filter->filterAcceptsRow(sourceIndex, proxyModel))
            return false;
    }
    return true;
}

} // namespace qqsfpm
