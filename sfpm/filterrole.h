#pragma once

#include "sfpm/filtercontainer.h"
#include "sfpm/singlerole.h"

namespace qqsfpm {

// True for the rows that every one of its filters accepts, false otherwise.
class FilterRole : public SingleRole, public FilterContainer
{
    Q_OBJECT
    Q_INTERFACES(qqsfpm::FilterContainer)
    Q_PROPERTY(QQmlListProperty<qqsfpm::Filter> filters READ filtersListProperty)
    Q_CLASSINFO("DefaultProperty", "filters")

public:
    explicit FilterRole(QObject *parent = nullptr);
    ~FilterRole() override;

    void proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel) override;

protected:
    QVariant value(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) override;
    void onFilterAppended(Filter *filter) override;
    void onFilterRemoved(Filter *filter) override;
};

} // namespace qqsfpm
