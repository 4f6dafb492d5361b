#include "sfpm/joinrole.h"

#include "sfpm/qqmlsortfilterproxymodel.h"

namespace qqsfpm {

JoinRole::JoinRole(QObject *parent) : SingleRole(parent) {}

JoinRole::~JoinRole() = default;

QStringList JoinRole::roleNames() const
{
    return m_roleNames;
}

void JoinRole::setRoleNames(const QStringList &roleNames)
{
    if (m_roleNames == roleNames)
        return;
    m_roleNames = roleNames;
    emit roleNamesChanged();
    invalidate();
}

QString JoinRole::separator() const
{
    return m_separator;
}

void JoinRole::setSeparator(const QString &separator)
{
    if (m_separator == separator)
        return;
    m_separator = separator;
    emit separatorChanged();
    invalidate();
}

QVariant JoinRole::value(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel)
{
    QStringList parts;
    parts.reserve(m_roleNames.size());
    for (const QString &roleName : qAsConst(m_roleNames))
        parts.append(proxyModel.sourceData(sourceIndex, roleName).toString());
    return parts.join(m_separator);
}

} // namespace qqsfpm
