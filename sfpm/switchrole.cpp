#include "sfpm/switchrole.h"

#include "sfpm/filter.h"
#include "sfpm/qqmlsortfilterproxymodel.h"
#include "sfpm/switchroleattached.h"

#include <QtQml>

namespace qqsfpm {

SwitchRole::SwitchRole(QObject *parent) : SingleRole(parent), FilterContainer(this) {}

SwitchRole::~SwitchRole() = default;

QString SwitchRole::defaultRoleName() const
{
    return m_defaultRoleName;
}

void SwitchRole::setDefaultRoleName(const QString &defaultRoleName)
{
    if (m_defaultRoleName == defaultRoleName)
        return;
    m_defaultRoleName = defaultRoleName;
    emit defaultRoleNameChanged();
    invalidate();
}

QVariant SwitchRole::defaultValue() const
{
    return m_defaultValue;
}

void SwitchRole::setDefaultValue(const QVariant &defaultValue)
{
    if (m_defaultValue.isValid() == defaultValue.isValid() && m_defaultValue == defaultValue)
        return;
    m_defaultValue = defaultValue;
    emit defaultValueChanged();
    invalidate();
}

void SwitchRole::proxyModelCompleted(const QQmlSortFilterProxyModel &proxyModel)
{
    const QList<Filter *> list = filters();
    for (Filter *filter : list) {
        filter->proxyModelCompleted(proxyModel);
        watchAttached(filter);
        if (!qmlAttachedPropertiesObject<SwitchRole>(filter, false))
            qmlWarning(filter) << "No SwitchRole.value provided for this filter";
    }
}

SwitchRoleAttached *SwitchRole::qmlAttachedProperties(QObject *object)
{
    if (!qobject_cast<Filter *>(object))
        qmlWarning(object) << "SwitchRole must be attached to a Filter";
    return new SwitchRoleAttached(object);
}

QVariant SwitchRole::value(const QModelIndex &sourceIndex, const QQmlSortFilterProxyModel &proxyModel)
{
    for (Filter *filter : filters()) {
        if (!filter->enabled() || !filter->filterAcceptsRow(sourceIndex, proxyModel))
            continue;
        const auto *attached =
            qobject_cast<SwitchRoleAttached *>(qmlAttachedPropertiesObject<SwitchRole>(filter, false));
        if (attached)
            return attached->value();
    }
    if (!m_defaultRoleName.isEmpty())
        return proxyModel.sourceData(sourceIndex, m_defaultRoleName);
    return m_defaultValue;
}

void SwitchRole::onFilterAppended(Filter *filter)
{
    connect(filter, &Filter::invalidated, this, &SwitchRole::invalidate);
    watchAttached(filter);
    invalidate();
}

void SwitchRole::onFilterRemoved(Filter *filter)
{
    Q_UNUSED(filter)
    invalidate();
}

void SwitchRole::watchAttached(Filter *filter)
{
    auto *attached = qobject_cast<SwitchRoleAttached *>(qmlAttachedPropertiesObject<SwitchRole>(filter, false));
    if (attached)
        connect(attached, &SwitchRoleAttached::valueChanged, this, &SwitchRole::invalidate, Qt::UniqueConnection);
}

} // namespace qqsfpm
