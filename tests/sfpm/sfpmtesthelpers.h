#pragma once

#include "sfpm/qqmlsortfilterproxymodel.h"
#include "sfpm/valuefilter.h"

#include <QStringList>
#include <QtGlobal>

// Shared bits of the proxy-model tests.
namespace sfpmtest {

// A ValueFilter that counts how many rows it was asked about.
class CountingValueFilter : public qqsfpm::ValueFilter
{
public:
    using qqsfpm::ValueFilter::ValueFilter;
    mutable int calls = 0;

protected:
    bool filterRow(const QModelIndex &sourceIndex, const qqsfpm::QQmlSortFilterProxyModel &proxyModel) const override
    {
        ++calls;
        return ValueFilter::filterRow(sourceIndex, proxyModel);
    }
};

// The values of one role, row by row, as the proxy shows them.
inline QStringList column(const qqsfpm::QQmlSortFilterProxyModel &proxy, const QString &roleName)
{
    QStringList values;
    for (int row = 0; row < proxy.rowCount(); ++row)
        values.append(proxy.get(row, roleName).toString());
    return values;
}

} // namespace sfpmtest
