#pragma once

#include "sfpm/filtercontainerfilter.h"

namespace qqsfpm {

// Accepts a row when any enabled child filter accepts it; with no enabled child
// it accepts every row.
class AnyOfFilter : public FilterContainerFilter
{
    Q_OBJECT

public:
    explicit AnyOfFilter(QObject *parent = nullptr);
    ~AnyOfFilter() override;

protected:
    bool filterRow(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const override;
};

} // namespace qqsfpm
