#include "sfpm/singlerole.h"

namespace qqsfpm {

SingleRole::SingleRole(QObject *parent) : ProxyRole(parent) {}

SingleRole::~SingleRole() = default;

QString SingleRole::name() const
{
    return m_name;
}

void SingleRole::setName(const QString &name)
{
    if (m_name == name)
        return;
    emit namesAboutToBeChanged();
    m_name = name;
    emit nameChanged();
    emit namesChanged();
}

QStringList SingleRole::names() const
{
    if (m_name.isEmpty())
        return {};
    return {m_name};
}

QVariant SingleRole::data(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel,
                          const QString &name)
{
    Q_UNUSED(name)
    return value(sourceIndex, proxyModel);
}

} // namespace qqsfpm
