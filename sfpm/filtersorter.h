#pragma once

#include "sfpm/filtercontainer.h"
#include "sfpm/sorter.h"

namespace qqsfpm {

// Puts the rows that all its filters accept before the others.
class FilterSorter : public Sorter, public FilterContainer
{
    Q_OBJECT
    Q_INTERFACES(qqsfpm::FilterContainer)
    Q_PROPERTY(QQmlListProperty<qqsfpm::Filter> filters READ filtersListProperty)
    Q_CLASSINFO("DefaultProperty", "filters")

public:
    explicit FilterSorter(QObject *parent = nullptr);
    ~FilterSorter() override;

    void proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel) override;

protected:
    int compare(const QModelIndex &sourceLeft, const QModelIndex &sourceRight,
                const QQmlSortFilterProxyModel &proxyModel) const override;
    void onFilterAppended(Filter *filter) override;
    void onFilterRemoved(Filter *filter) override;

private:
    bool acceptsRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const;
};

} // namespace qqsfpm
