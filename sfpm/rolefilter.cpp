#include "sfpm/rolefilter.h"

#include "sfpm/qqmlsortfilterproxymodel.h"

namespace qqsfpm {

RoleFilter::RoleFilter(QObject *parent) : Filter(parent) {}

RoleFilter::~RoleFilter() = default;

QString RoleFilter::roleName() const
{
    return m_roleName;
}

void RoleFilter::setRoleName(const QString &roleName)
{
    if (m_roleName == roleName)
        return;
    m_roleName = roleName;
    emit roleNameChanged();
    invalidate();
}

QVariant RoleFilter::sourceData(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel) const
{
    return proxyModel.sourceData(sourceIndex, m_roleName);
}

} // namespace qqsfpm
