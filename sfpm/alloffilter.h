#pragma once

#include "sfpm/filtercontainerfilter.h"

namespace qqsfpm {

// Accepts a row when every child filter accepts it (a disabled child accepts all).
class AllOfFilter : public FilterContainerFilter
{
    Q_OBJECT

public:
    explicit AllOfFilter(QObject *parent = nullptr);
    ~AllOfFilter() override;

protected:
    bool filterRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const override;
};

} // namespace qqsfpm
