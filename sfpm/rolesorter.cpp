#include "sfpm/rolesorter.h"

#include "sfpm/qqmlsortfilterproxymodel.h"

namespace qqsfpm {

RoleSorter::RoleSorter(QObject *parent) : Sorter(parent) {}

RoleSorter::~RoleSorter() = default;

QString RoleSorter::roleName() const
{
    return m_roleName;
}

void RoleSorter::setRoleName(const QString &roleName)
{
    if (m_roleName == roleName)
        return;
    m_roleName = roleName;
    emit roleNameChanged();
    invalidate();
}

int RoleSorter::compare(const QModelIndex &sourceLeft, const QModelIndex &sourceRight,
                        const QQmlSortFilterProxyModel &proxyModel) const
{
    const auto values = sourceData(sourceLeft, sourceRight, proxyModel);
    return QQmlSortFilterProxyModel::compareValues(values.first, values.second);
}

QPair<QVariant, QVariant> RoleSorter::sourceData(const QModelIndex &sourceLeft, const QModelIndex &sourceRight,
                                                 const QQmlSortFilterProxyModel &proxyModel) const
{
    return {proxyModel.sourceData(sourceLeft, m_roleName), proxyModel.sourceData(sourceRight, m_roleName)};
}

} // namespace qqsfpm
