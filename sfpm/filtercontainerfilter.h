#pragma once

#include "sfpm/filter.h"
#include "sfpm/filtercontainer.h"

namespace qqsfpm {

// A filter made of child filters (AnyOf, AllOf). A change in any child
// invalidates the whole filter.
class FilterContainerFilter : public Filter, public FilterContainer
{
    Q_OBJECT
    Q_INTERFACES(qqsfpm::FilterContainer)
    Q_PROPERTY(QQmlListProperty<qqsfpm::Filter> filters READ filtersListProperty)
    Q_CLASSINFO("DefaultProperty", "filters")

public:
    explicit FilterContainerFilter(QObject *parent = nullptr);
    ~FilterContainerFilter() override;

    void proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel) override;

protected:
    void onFilterAppended(Filter *filter) override;
    void onFilterRemoved(Filter *filter) override;
};

} // namespace qqsfpm
